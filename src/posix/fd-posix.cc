#include <errno.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <chrono>

#include "posix/fd.h"

namespace tandor {

namespace {

// The process that holds a flock on the file (dev, ino), as /proc/locks lists
// it; 0 when none is listed or the list cannot be read.
pid_t FlockHolder(dev_t dev, ino_t ino) {
  std::unique_ptr<FILE, int (*)(FILE*)> locks(fopen("/proc/locks", "re"), fclose);
  if (!locks) return 0;
  char line[256];
  while (fgets(line, sizeof line, locks.get())) {
    int pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    // "1: FLOCK  ADVISORY  WRITE 2410 08:02:1066 0 EOF"; a waiter's line
    // has "->" before FLOCK and so does not match.
    if (sscanf(line, "%*d: FLOCK ADVISORY WRITE %d %x:%x:%llu", &pid, &major, &minor, &inode) ==
            4 &&
        makedev(major, minor) == dev && inode == ino) {
      return pid;
    }
  }
  return 0;
}

}  // namespace

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

bool ReadToEnd(int fd, size_t limit, std::string* text) {
  text->clear();
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= limit)
    text->reserve(static_cast<size_t>(info.st_size));  // one allocation for a whole file
  char buffer[65536];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) return true;
    if (static_cast<size_t>(count) > limit - text->size()) return false;
    text->append(buffer, static_cast<size_t>(count));
  }
}

bool LockExclusively(int fd) {
  using Clock = std::chrono::steady_clock;
  struct stat info;
  if (fstat(fd, &info) != 0) return false;
  // Runs hold the lock for milliseconds each, so many of them may keep a
  // run waiting for long in all; only one holder that never lets go is
  // trouble.
  pid_t holder = -1;
  Clock::time_point since = Clock::now();
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    pid_t now_holding = FlockHolder(info.st_dev, info.st_ino);
    if (now_holding != holder) {
      holder = now_holding;
      since = Clock::now();
    } else if (Clock::now() - since > std::chrono::seconds(30)) {
      return false;
    }
    struct timespec pause = {0, 2000000};
    nanosleep(&pause, nullptr);
  }
}

}  // namespace tandor
