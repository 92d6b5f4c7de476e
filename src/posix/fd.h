// File descriptors for the POSIX services: an owning handle, and a write of
// every byte that rides out interrupted system calls.
#pragma once

#include <cstddef>

namespace tandor {

// Owns a descriptor and closes it on every path out of a scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
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

// Writes all `size` bytes to `fd`. Gives false if any could not be written.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace tandor
