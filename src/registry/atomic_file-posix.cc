#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "registry/atomic_file.h"

namespace tandor {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  FileDescriptor& operator=(FileDescriptor&& other) {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, reporting the error a deferred write may surface only here.
  bool Close() {
    int fd = std::exchange(fd_, -1);
    return close(fd) == 0;
  }

 private:
  int fd_;
};

// Removes the temporary file on every path that does not rename it.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

bool ReadAll(int fd, std::string* content) {
  char buffer[65536];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) return true;
    content->append(buffer, count);
  }
}

bool WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    ssize_t count = write(fd, content.data() + done, content.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += count;
  }
  return true;
}

bool LockExclusive(int fd) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Opens and locks `path`, retrying while another run replaces the file under
// us: the lock must be on the file that `path` names once it is held.
bool OpenLocked(const std::string& path, FileDescriptor* fd, struct stat* info) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    *fd = FileDescriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd->get() < 0 || !LockExclusive(fd->get()) || fstat(fd->get(), info) != 0) return false;
    struct stat now;
    if (stat(path.c_str(), &now) == 0 && now.st_dev == info->st_dev && now.st_ino == info->st_ino)
      return S_ISREG(info->st_mode);
  }
  return false;
}

// Writes `content` to the new file `fd` with the mode and owner of
// `original`, flushed to disk, and closes it.
bool WriteTemporary(const std::string& content, const struct stat& original,
                    FileDescriptor* fd) {
  if (!WriteAll(fd->get(), content)) return false;
  if (fchmod(fd->get(), original.st_mode & 07777) != 0) return false;
  // A file handed to another owner would lock its owner's Wine out of it.
  struct stat now;
  if (fstat(fd->get(), &now) != 0) return false;
  if ((now.st_uid != original.st_uid || now.st_gid != original.st_gid) &&
      fchown(fd->get(), original.st_uid, original.st_gid) != 0)
    return false;
  return fsync(fd->get()) == 0 && fd->Close();
}

void SyncDirectoryOf(const std::string& path) {
  std::string directory = path.substr(0, path.rfind('/'));
  FileDescriptor fd(open(directory.empty() ? "/" : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The rename has happened; a failed flush of the folder cannot undo it.
  if (fd.get() >= 0) (void)fsync(fd.get());
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::string content;
  if (fd.get() < 0 || !ReadAll(fd.get(), &content)) return std::nullopt;
  return content;
}

bool RewriteFile(const std::string& path, const FileEdit& edit,
                 const std::function<bool()>& may_replace, std::string* written) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return false;
  std::string target(resolved);
  free(resolved);

  FileDescriptor locked;
  struct stat original;
  if (!OpenLocked(target, &locked, &original)) return false;
  std::string content;
  if (!ReadAll(locked.get(), &content)) return false;
  std::optional<std::string> replacement = edit(content);
  if (!replacement) return false;

  std::string pattern = target + ".tandor-XXXXXX";
  FileDescriptor fd(mkostemp(pattern.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  TemporaryFile temporary(pattern);
  if (!WriteTemporary(*replacement, original, &fd)) return false;
  if (!may_replace()) return false;
  if (rename(temporary.path().c_str(), target.c_str()) != 0) return false;
  temporary.Keep();
  SyncDirectoryOf(target);
  *written = std::move(*replacement);
  return true;
}

}  // namespace tandor
