#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "posix/fd.h"
#include "posix/registry_file.h"

namespace tandor {

namespace {

// How long a rewrite waits for another run's lock before it gives up.
constexpr int kLockWaitMilliseconds = 30000;

// O_NONBLOCK: a FIFO or device in place of a registry file must not block.
int OpenForReading(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

bool ReadAll(int fd, std::string* text) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<uint64_t>(info.st_size) > kMaxRegistryFileSize) return false;
  text->clear();
  text->reserve(static_cast<size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t count = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text->size()));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) return true;
    if (text->size() + static_cast<size_t>(count) > kMaxRegistryFileSize) return false;
    text->append(buffer, static_cast<size_t>(count));
  }
}

void IgnoreResult(int) {}

void SleepMilliseconds(long milliseconds) {
  struct timespec pause = {0, milliseconds * 1000000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// Takes the exclusive lock of the file `path` names. Another run may rename
// a new file over `path` while this one waits for the lock of the old one;
// the lock counts only once `path` still names the locked file, so the
// locked text is the current one.
bool LockCurrentFile(const std::string& path, Fd* fd, struct stat* info) {
  for (int waited = 0; waited < kLockWaitMilliseconds;) {
    fd->Reset(OpenForReading(path));
    if (!fd->valid() || fstat(fd->get(), info) != 0 || !S_ISREG(info->st_mode)) return false;
    if (flock(fd->get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) return false;
      SleepMilliseconds(2);
      waited += 2;
      continue;
    }
    struct stat named;
    if (stat(path.c_str(), &named) != 0) return false;
    if (named.st_dev == info->st_dev && named.st_ino == info->st_ino) return true;
    ++waited;
  }
  return false;
}

// The process is not killed by a file size limit (SIGXFSZ) while it writes:
// the write fails with EFBIG instead, so the temporary file can be removed.
class FileSizeSignalIgnored {
 public:
  FileSizeSignalIgnored() {
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &saved_);
  }
  ~FileSizeSignalIgnored() { sigaction(SIGXFSZ, &saved_, nullptr); }

 private:
  struct sigaction saved_;
};

// A new file beside the one it will replace; removed unless Commit()ed.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    for (int attempt = 0; attempt < 100 && !fd_.valid(); ++attempt) {
      path_ =
          target + ".tandor-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
      fd_.Reset(open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
      if (!fd_.valid() && errno != EEXIST) break;
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty() && !committed_) unlink(path_.c_str());
  }

  // Writes `text` with the mode and, where allowed, the owner of `like`,
  // and flushes it to disk.
  bool Write(std::string_view text, const struct stat& like) {
    if (!fd_.valid()) return false;
    FileSizeSignalIgnored no_signal;
    if (!WriteAll(fd_.get(), text.data(), text.size())) return false;
    if (fchmod(fd_.get(), like.st_mode & 07777) != 0) return false;
    // Only a privileged run can give the file back to another user; the
    // mode is kept either way, so a refusal here is no failure.
    if (like.st_uid != geteuid() || like.st_gid != getegid())
      IgnoreResult(fchown(fd_.get(), like.st_uid, like.st_gid));
    return fsync(fd_.get()) == 0 && fd_.Close();
  }

  bool RenameOver(const std::string& target) {
    if (rename(path_.c_str(), target.c_str()) != 0) return false;
    committed_ = true;
    return true;
  }

 private:
  std::string path_;
  Fd fd_;
  bool committed_ = false;
};

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& folder) {
  Fd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // The new file is in place whatever this gives; it only hastens the
  // rename reaching the disk.
  if (fd.valid()) fsync(fd.get());
}

}  // namespace

std::optional<std::string> ReadRegistryFile(const std::string& path) {
  Fd fd(OpenForReading(path));
  std::string text;
  if (!fd.valid() || !ReadAll(fd.get(), &text)) return std::nullopt;
  return text;
}

bool RewriteRegistryFile(const std::string& path, const RegistryFileEdit& edit,
                         const std::function<bool()>& may_replace) {
  if (!may_replace()) return false;
  // The file itself is replaced, not a symbolic link on the way to it.
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  if (!resolved) return false;
  std::string target(resolved.get());
  Fd locked;
  struct stat info;
  if (!LockCurrentFile(target, &locked, &info)) return false;
  // A second name would keep the old text; refuse rather than split them.
  if (info.st_nlink != 1) return false;
  std::string current;
  if (!ReadAll(locked.get(), &current)) return false;
  std::optional<std::string> updated = edit(current);
  if (!updated) return false;
  if (*updated == current) return true;
  TemporaryFile temporary(target);
  if (!temporary.Write(*updated, info) || !may_replace()) return false;
  if (!temporary.RenameOver(target)) return false;
  SyncFolder(FolderOf(target));
  return true;  // the lock is released as `locked` closes, after the rename
}

}  // namespace tandor
