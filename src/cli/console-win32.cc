// The Win32 console services. The text-stream rules are applied here, over
// the raw handles, rather than left to the C runtime: they then hold the same
// whichever runtime the build links (msvcrt, ucrt), and the filter's bulk
// data goes through memchr and memcpy instead of per-byte runtime calls.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"

namespace tandor {

namespace {

constexpr char kCtrlZ = '\x1a';

// A usable standard handle: a process may be started without one.
bool IsOpen(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A character device: the console, a terminal, or NUL. The C runtime makes
// the same test to choose between device and file behaviour.
bool IsCharacterDevice(HANDLE handle) {
  return IsOpen(handle) && GetFileType(handle) == FILE_TYPE_CHAR;
}

// Standard input: CR LF becomes '\n', a lone CR stays, and 0x1A ends the
// input from a file or a pipe (nothing after it is read) but only the
// current read on a device.
class HandleInput : public InputStream {
 public:
  explicit HandleInput(HANDLE handle)
      : handle_(handle),
        device_(IsCharacterDevice(handle)),
        // A console hands out one typed line per read; a small buffer suffices.
        capacity_(device_ ? 4096 : 256 * 1024),
        raw_(new char[capacity_]),
        ended_(!IsOpen(handle)) {}

  size_t Read(char* buffer, size_t capacity) override {
    if (capacity == 0) return 0;
    for (;;) {
      size_t produced = Translate(buffer, capacity);
      if (begin_ == end_) read_ends_here_ = read_ends_here_ && produced == 0;
      if (produced > 0 || ended_) return produced;
      if (read_ends_here_) {
        read_ends_here_ = false;
        return 0;
      }
      Fill();
    }
  }

  bool failed() const override { return failed_; }

 private:
  // Copies translated bytes from the raw buffer into `out`. A CR as the last
  // raw byte waits for the next read to tell whether LF follows, unless
  // nothing can follow it.
  size_t Translate(char* out, size_t capacity) {
    char* next = out;
    char* const limit = out + capacity;
    while (next < limit && begin_ < end_) {
      size_t span = std::min<size_t>(limit - next, end_ - begin_);
      const char* start = raw_.get() + begin_;
      const void* cr = std::memchr(start, '\r', span);
      size_t plain = cr ? static_cast<const char*>(cr) - start : span;
      std::memcpy(next, start, plain);
      next += plain;
      begin_ += plain;
      if (!cr) continue;
      bool last = begin_ + 1 == end_;
      if (last && !ended_ && !read_ends_here_) break;
      bool crlf = !last && raw_[begin_ + 1] == '\n';
      *next++ = crlf ? '\n' : '\r';
      begin_ += crlf ? 2 : 1;
    }
    return next - out;
  }

  // Reads the next block behind any byte still held back.
  void Fill() {
    size_t kept = end_ - begin_;
    std::memmove(raw_.get(), raw_.get() + begin_, kept);
    begin_ = 0;
    end_ = kept;
    DWORD count = 0;
    if (!ReadFile(handle_, raw_.get() + kept, static_cast<DWORD>(capacity_ - kept), &count,
                  nullptr)) {
      // A pipe whose writer has closed it reports an error; that is its end.
      DWORD error = GetLastError();
      failed_ = error != ERROR_BROKEN_PIPE && error != ERROR_HANDLE_EOF;
      ended_ = true;
      return;
    }
    // On a device, an empty read (Ctrl-Z typed alone) ends that read only.
    if (count == 0) (device_ ? read_ends_here_ : ended_) = true;
    const void* ctrl_z = std::memchr(raw_.get() + kept, kCtrlZ, count);
    end_ = ctrl_z ? static_cast<const char*>(ctrl_z) - raw_.get() : kept + count;
    if (ctrl_z && device_) read_ends_here_ = true;
    if (ctrl_z && !device_) ended_ = true;
  }

  HANDLE handle_;
  bool device_;
  size_t capacity_;
  std::unique_ptr<char[]> raw_;
  size_t begin_ = 0;  // raw bytes not yet translated: [begin_, end_)
  size_t end_ = 0;
  bool ended_;                   // no further ReadFile
  bool read_ends_here_ = false;  // a device read stopped at 0x1A
  bool failed_ = false;
};

// Standard output: every '\n' goes out as CR LF, other bytes (CR included)
// as they are. A device shows each write at once; a file or pipe gets large
// blocks.
class HandleOutput : public OutputStream {
 public:
  explicit HandleOutput(HANDLE handle)
      : handle_(handle),
        device_(IsCharacterDevice(handle)),
        capacity_(device_ ? 4096 : 128 * 1024),
        buffer_(new char[capacity_]),
        failed_(!IsOpen(handle)) {}

  ~HandleOutput() override { Flush(); }

  void Write(std::string_view bytes) override {
    while (!bytes.empty() && !failed_) {
      const void* newline = std::memchr(bytes.data(), '\n', bytes.size());
      size_t plain = newline ? static_cast<const char*>(newline) - bytes.data() : bytes.size();
      Append(bytes.substr(0, plain));
      if (newline) Append("\r\n");
      bytes.remove_prefix(newline ? plain + 1 : plain);
    }
    if (device_) Flush();
  }

  void Flush() override {
    WriteAll(buffer_.get(), used_);
    used_ = 0;
  }

  bool failed() const override { return failed_; }

 private:
  void Append(std::string_view bytes) {
    if (bytes.size() > capacity_ - used_) {
      Flush();
      if (bytes.size() >= capacity_) {
        WriteAll(bytes.data(), bytes.size());
        return;
      }
    }
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
  }

  void WriteAll(const char* data, size_t size) {
    // Consoles have refused single writes of some tens of kilobytes.
    const size_t kMaxChunk = device_ ? 16 * 1024 : 1u << 30;
    while (size > 0 && !failed_) {
      DWORD written = 0;
      DWORD chunk = static_cast<DWORD>(std::min(size, kMaxChunk));
      if (!WriteFile(handle_, data, chunk, &written, nullptr) || written == 0) {
        failed_ = true;
        return;
      }
      data += written;
      size -= written;
    }
  }

  HANDLE handle_;
  bool device_;
  size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  bool failed_;
};

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
        input_(GetStdHandle(STD_INPUT_HANDLE)),
        output_(GetStdHandle(STD_OUTPUT_HANDLE)) {}

  const std::vector<std::string>& Arguments() override { return arguments_; }
  std::string CurrentDirectory() override { return CurrentDirectoryText(); }
  InputStream& Input() override { return input_; }
  OutputStream& Output() override { return output_; }

 private:
  std::vector<std::string> arguments_;
  HandleInput input_;
  HandleOutput output_;
};

}  // namespace

std::unique_ptr<Console> CreateConsole(int, char**) {
  return std::make_unique<Win32Console>();
}

}  // namespace tandor
