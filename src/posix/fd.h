// File descriptors for the POSIX services: owning handles for a descriptor
// and a folder listing, and the reads, writes and locks every caller needs
// done the same way.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <string>

namespace tandor {

// Where a file is: its device and inode. Two names lead to the same file
// when their places are equal.
struct FilePlace {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FilePlace&) const = default;
};

inline FilePlace PlaceOf(const struct stat& info) { return {info.st_dev, info.st_ino}; }

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

// Reads `fd` from where it stands to its end into `*text`. Gives false when
// a read fails or there is more than `limit` bytes.
bool ReadToEnd(int fd, size_t limit, std::string* text);

// Takes an exclusive flock on `fd`, waiting while other processes hold it.
// Gives false when one process keeps holding it for half a minute (a run
// that is stopped or hung: waiting on would hang this one too), or the
// lock cannot be taken at all.
bool LockExclusively(int fd);

}  // namespace tandor
