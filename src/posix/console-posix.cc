#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "console/buffered_output.h"
#include "console/console.h"
#include "posix/fd.h"
#include "posix/wine_prefix.h"

namespace tandor {

namespace {

// Streams are binary here: bytes pass unchanged, CR and 0x1A included.
class FdInput : public InputStream {
 public:
  size_t Read(char* buffer, size_t capacity) override {
    if (failed_) return 0;
    for (;;) {
      ssize_t count = read(STDIN_FILENO, buffer, capacity);
      if (count >= 0) return static_cast<size_t>(count);
      if (errno == EINTR) continue;
      failed_ = true;
      return 0;
    }
  }
  bool failed() const override { return failed_; }

 private:
  bool failed_ = false;
};

class FdSink : public ByteSink {
 public:
  bool WriteAll(const char* data, size_t size) override {
    return tandor::WriteAll(STDOUT_FILENO, data, size);
  }
};

class PosixConsole : public Console {
 public:
  PosixConsole(int argc, char** argv) : arguments_(argv + (argc > 0 ? 1 : 0), argv + argc) {
    // A reader that went away, or a file size limit, is a failed write,
    // reported through the exit status rather than by a signal that ends
    // the run mid-output (and would leave a registry write's temporary file).
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
  }

  const std::vector<std::string>& Arguments() override { return arguments_; }

  std::string CurrentDirectory() override {
    std::string directory(256, '\0');
    while (getcwd(directory.data(), directory.size()) == nullptr) {
      if (errno != ERANGE) return {};
      directory.resize(directory.size() * 2);
    }
    directory.resize(directory.find('\0'));
    return DosDirectoryOf(directory, WinePrefixDirectory());
  }

  InputStream& Input() override { return input_; }
  OutputStream& Output() override { return output_; }

 private:
  std::vector<std::string> arguments_;
  FdInput input_;
  FdSink sink_;
  // A terminal too gets its output at the end or when the tool flushes it
  // (a prompt): the tool writes nothing it would show piece by piece.
  BufferedOutput output_{sink_, 128 * 1024, /*immediate=*/false};
};

}  // namespace

std::unique_ptr<Console> CreateConsole(int argc, char** argv) {
  return std::make_unique<PosixConsole>(argc, argv);
}

}  // namespace tandor
