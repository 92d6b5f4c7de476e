// The Win32 console services. The text-stream rules (text_stream.h) run over
// the raw handles rather than the C runtime's streams: they then hold the
// same whichever runtime the build links (msvcrt, ucrt), and the filter's
// bulk data goes through memchr and memcpy instead of per-byte runtime calls.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "console/command_line.h"
#include "console/console.h"
#include "console/text_stream.h"

namespace tandor {

namespace {

// A usable standard handle: a process may be started without one.
bool IsOpen(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A character device (the console, a terminal, NUL) counts as a device, as
// the C runtime counts it.
StreamKind KindOf(HANDLE handle) {
  bool device = IsOpen(handle) && GetFileType(handle) == FILE_TYPE_CHAR;
  return device ? StreamKind::kDevice : StreamKind::kFileOrPipe;
}

class HandleSource : public InputStream {
 public:
  explicit HandleSource(HANDLE handle) : handle_(handle) {}

  size_t Read(char* buffer, size_t capacity) override {
    if (!IsOpen(handle_)) return 0;  // started without input: empty input
    DWORD count = 0;
    DWORD wanted = static_cast<DWORD>(std::min<size_t>(capacity, kMaxRead));
    if (ReadFile(handle_, buffer, wanted, &count, nullptr)) return count;
    // A pipe whose writer has closed it reports an error; that is its end.
    DWORD error = GetLastError();
    failed_ = error != ERROR_BROKEN_PIPE && error != ERROR_HANDLE_EOF;
    return 0;
  }

  bool failed() const override { return failed_; }

 private:
  static constexpr size_t kMaxRead = 1u << 30;
  HANDLE handle_;
  bool failed_ = false;
};

class HandleSink : public ByteSink {
 public:
  HandleSink(HANDLE handle, StreamKind kind)
      : handle_(handle),
        // Consoles have refused single writes of some tens of kilobytes.
        max_chunk_(kind == StreamKind::kDevice ? 16 * 1024 : 1u << 30) {}

  bool WriteAll(const char* data, size_t size) override {
    while (size > 0) {
      DWORD written = 0;
      DWORD chunk = static_cast<DWORD>(std::min(size, max_chunk_));
      if (!WriteFile(handle_, data, chunk, &written, nullptr) || written == 0) return false;
      data += written;
      size -= written;
    }
    return true;
  }

 private:
  HANDLE handle_;
  size_t max_chunk_;
};

// A console hands out one typed line per read and shows each write at once;
// files and pipes get large blocks.
size_t InputBlockSize(StreamKind kind) { return kind == StreamKind::kDevice ? 4096 : 256 * 1024; }

// Larger on output, where the writes run on a thread of their own: under
// Wine each write is also a round trip to its server, and 1 MiB blocks filter
// about 8% faster than 256 KiB ones.
size_t OutputBlockSize(StreamKind kind) { return kind == StreamKind::kDevice ? 4096 : 1024 * 1024; }

// GetCurrentDirectoryA of any length: a first call reports the size needed,
// and the directory may change between calls, so grow until it fits.
std::string CurrentDirectoryText() {
  std::string directory(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(directory.size()), directory.data());
    if (length == 0) return {};
    if (length < directory.size()) {
      directory.resize(length);
      return directory;
    }
    directory.resize(length);  // the size needed, terminator included
  }
}

class Win32Console : public Console {
 public:
  // The C runtime's argv is not used: runtimes differ on a doubled quote
  // inside quotes, and some expand wildcards.
  Win32Console()
      : arguments_(SplitCommandLine(GetCommandLineA()).arguments),
        input_handle_(GetStdHandle(STD_INPUT_HANDLE)),
        output_handle_(GetStdHandle(STD_OUTPUT_HANDLE)),
        input_kind_(KindOf(input_handle_)),
        output_kind_(KindOf(output_handle_)),
        source_(input_handle_),
        sink_(output_handle_, output_kind_),
        text_sink_(sink_, OutputBlockSize(output_kind_)),
        input_(source_, input_kind_, InputBlockSize(input_kind_)),
        output_(text_sink_, OutputBlockSize(output_kind_), output_kind_ == StreamKind::kDevice) {}

  const std::vector<std::string>& Arguments() override { return arguments_; }
  std::string CurrentDirectory() override { return CurrentDirectoryText(); }
  InputStream& Input() override { return input_; }
  OutputStream& Output() override { return output_; }

 private:
  std::vector<std::string> arguments_;
  HANDLE input_handle_;
  HANDLE output_handle_;
  StreamKind input_kind_;
  StreamKind output_kind_;
  HandleSource source_;
  HandleSink sink_;
  CrLfSink text_sink_;
  TextInputStream input_;
  BufferedOutput output_;
};

}  // namespace

std::unique_ptr<Console> CreateConsole(int, char**) { return std::make_unique<Win32Console>(); }

}  // namespace tandor
