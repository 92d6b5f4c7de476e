// File descriptors for the POSIX services: owning handles for a descriptor
// and a folder listing, and a write of every byte that rides out interrupted
// system calls.
#pragma once

#include <dirent.h>

#include <cstddef>
#include <memory>

namespace tandor {

// Owns a descriptor and closes it on every path out of a scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void Reset(int fd = -1);
  // Closes the descriptor and gives whether the close succeeded: for a file
  // just written, a failed close can be a failed write.
  bool Close();

 private:
  int fd_;
};

// Owns an open folder listing and closes it on every path out of a scope.
struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Writes all `size` bytes to `fd`. Gives false if any could not be written.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace tandor
