#include <errno.h>
#include <unistd.h>

#include "posix/fd.h"

namespace tandor {

void Fd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

bool Fd::Close() {
  int fd = fd_;
  fd_ = -1;
  return fd >= 0 && close(fd) == 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t count = write(fd, data, size);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    data += count;
    size -= static_cast<size_t>(count);
  }
  return true;
}

}  // namespace tandor
