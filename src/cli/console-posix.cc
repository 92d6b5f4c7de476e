#include <errno.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/console.h"
#include "registry/wine_prefix.h"

namespace tandor {

namespace {

constexpr size_t kPageSize = 4096;
// A mapped file is handed out in windows this large: the mapping calls cost
// little per byte, and unmapping each window after use keeps the resident
// set small whatever the file's size.
constexpr size_t kMapWindow = 1024 * 1024;

// The mapped window, whose pages vanish if another process truncates the
// file while they are scanned: touching them then raises SIGBUS.
std::atomic<uintptr_t> g_mapped_begin{0};
std::atomic<uintptr_t> g_mapped_end{0};
volatile sig_atomic_t g_mapped_lost = 0;
struct sigaction g_previous_bus_action;

// Puts zero pages where the window's file pages vanished, so that the scan
// goes on and the run ends failed (FdInput::failed) rather than killed by
// the signal. mmap is a plain system call, safe in a signal handler. A fault
// anywhere else goes to the action there was before.
void OnBusError(int, siginfo_t* info, void*) {
  uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  uintptr_t begin = g_mapped_begin.load();
  uintptr_t end = g_mapped_end.load();
  if (begin <= address && address < end) {
    uintptr_t page = address - (address - begin) % kPageSize;
    if (mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      g_mapped_lost = 1;
      return;
    }
  }
  // Returning repeats the faulting access, which then meets that action.
  sigaction(SIGBUS, &g_previous_bus_action, nullptr);
}

bool CatchBusErrors() {
  struct sigaction action = {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGBUS, &action, &g_previous_bus_action) == 0;
}

// Streams are binary here: bytes pass unchanged, CR and 0x1A included. A
// regular file is mapped window by window rather than read, which spares
// copying it; everything else (pipes, terminals, files whose size says
// nothing of their content like those in /proc) is read.
class FdInput : public InputStream {
 public:
  ~FdInput() override { Unmap(); }

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

  std::string_view NextWindow(size_t keep, size_t size) override {
    if (mode_ == Mode::kUndecided) mode_ = StartMapping() ? Mode::kMapped : Mode::kRead;
    if (mode_ == Mode::kRead) return InputStream::NextWindow(keep, size);
    std::string_view kept = mapped_.substr(mapped_.size() - keep);
    if (failed()) return kept;
    if (MapWindow(keep, size)) return mapped_;
    // The file cannot be mapped after all: the rest is read, from the offset
    // just after the windows handed out.
    mode_ = Mode::kRead;
    std::string_view window = ReadWindow(kept, size);
    Unmap();
    return window;
  }

  bool failed() const override { return failed_ || g_mapped_lost; }

 private:
  enum class Mode { kUndecided, kMapped, kRead };

  // True if standard input is a regular file with content to map, with
  // position_ its current offset.
  bool StartMapping() {
    struct stat status;
    if (fstat(STDIN_FILENO, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
      return false;
    }
    position_ = lseek(STDIN_FILENO, 0, SEEK_CUR);
    return position_ >= 0 && CatchBusErrors();
  }

  // Maps the file from `keep` bytes before position_ on and moves the file
  // offset after the window, where read() would have left it. Mapping from
  // the file again rather than keeping old pages makes the carry free. False
  // if the file cannot be mapped; nothing has changed then.
  bool MapWindow(size_t keep, size_t size) {
    // Never beyond the current size: pages past the end are a SIGBUS. A file
    // now shorter than what was handed out ends there, as it would for read().
    struct stat status;
    if (fstat(STDIN_FILENO, &status) != 0) return false;
    if (status.st_size <= position_) {
      mapped_ = mapped_.substr(mapped_.size() - keep);
      return true;
    }
    off_t start = (position_ - static_cast<off_t>(keep)) / kPageSize * kPageSize;
    size_t span = std::max(kMapWindow, (keep + size + kPageSize - 1) / kPageSize * kPageSize +
                                           kPageSize);
    off_t end = std::min<off_t>(status.st_size, start + static_cast<off_t>(span));
    size_t length = static_cast<size_t>(end - start);
    // Not populated up front (MAP_POPULATE): that measured slower than the
    // page faults, which map pages in batches, and doubles the resident set
    // while the window before is still mapped.
    void* map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, STDIN_FILENO, start);
    if (map == MAP_FAILED) return false;
    if (lseek(STDIN_FILENO, end, SEEK_SET) != end) {
      munmap(map, length);
      return false;
    }
    madvise(map, length, MADV_SEQUENTIAL);
    Unmap();
    map_ = static_cast<char*>(map);
    map_length_ = length;
    g_mapped_begin = reinterpret_cast<uintptr_t>(map_);
    g_mapped_end = reinterpret_cast<uintptr_t>(map_) + length;
    mapped_ = std::string_view(map_ + (position_ - keep - start), keep + (end - position_));
    position_ = end;
    return true;
  }

  void Unmap() {
    if (map_ == nullptr) return;
    g_mapped_begin = 0;
    g_mapped_end = 0;
    munmap(map_, map_length_);
    map_ = nullptr;
  }

  bool failed_ = false;
  Mode mode_ = Mode::kUndecided;
  off_t position_ = 0;  // in the file, just after the last window
  char* map_ = nullptr;
  size_t map_length_ = 0;
  std::string_view mapped_;  // the last window, inside map_
};

class FdOutput : public OutputStream {
 public:
  void Write(std::string_view bytes) override {
    // A piece that would fill the buffer goes out as it is, without a copy.
    if (bytes.size() >= kCapacity) {
      Flush();
      WriteAll(bytes.data(), bytes.size());
      return;
    }
    if (bytes.size() > kCapacity - used_) Flush();
    std::copy(bytes.begin(), bytes.end(), buffer_ + used_);
    used_ += bytes.size();
  }

  void Flush() override {
    WriteAll(buffer_, used_);
    used_ = 0;
  }

  bool failed() const override { return failed_; }

 private:
  static constexpr size_t kCapacity = 128 * 1024;

  void WriteAll(const char* data, size_t size) {
    while (size > 0 && !failed_) {
      ssize_t count = write(STDOUT_FILENO, data, size);
      if (count < 0) {
        if (errno == EINTR) continue;
        failed_ = true;
        return;
      }
      data += count;
      size -= static_cast<size_t>(count);
    }
  }

  // The kernel copies from a buffer off a page boundary at about half the
  // speed.
  alignas(kPageSize) char buffer_[kCapacity];
  size_t used_ = 0;
  bool failed_ = false;
};

class PosixConsole : public Console {
 public:
  PosixConsole(int argc, char** argv) : arguments_(argv + (argc > 0 ? 1 : 0), argv + argc) {
    // A reader that went away is a failed write, reported through the exit
    // status rather than by a signal that ends the run mid-output.
    signal(SIGPIPE, SIG_IGN);
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
  FdOutput output_;
};

}  // namespace

std::unique_ptr<Console> CreateConsole(int argc, char** argv) {
  return std::make_unique<PosixConsole>(argc, argv);
}

}  // namespace tandor
