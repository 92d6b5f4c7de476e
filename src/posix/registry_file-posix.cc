#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "posix/fd.h"
#include "posix/registry_file.h"

namespace tandor {

namespace {

// O_NONBLOCK: a FIFO or device in place of a registry file must not block.
int OpenForReading(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

bool ReadAll(int fd, std::string* text) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return ReadToEnd(fd, kMaxRegistryFileSize, text);
}

void IgnoreResult(int) {}

// Takes the exclusive lock of the file `path` names. Another run may rename
// a new file over `path` while this one waits for the lock of the old one;
// the lock counts only once `path` still names the locked file, so the
// locked text is the current one.
bool LockCurrentFile(const std::string& path, Fd* fd, struct stat* info) {
  for (;;) {
    fd->Reset(OpenForReading(path));
    if (!fd->valid() || fstat(fd->get(), info) != 0 || !S_ISREG(info->st_mode) ||
        !LockExclusively(fd->get())) {
      return false;
    }
    struct stat named;
    if (stat(path.c_str(), &named) != 0) return false;
    if (PlaceOf(named) == PlaceOf(*info)) return true;
  }
}

// Whether `path` still names the file of `locked` as it was when locked:
// nothing that does not take the lock (Wine saving its registry) has
// replaced it or written to it since.
bool StillAsLocked(const std::string& path, const struct stat& locked) {
  struct stat now;
  return stat(path.c_str(), &now) == 0 && PlaceOf(now) == PlaceOf(locked) &&
         now.st_size == locked.st_size && now.st_mtim.tv_sec == locked.st_mtim.tv_sec &&
         now.st_mtim.tv_nsec == locked.st_mtim.tv_nsec;
}

// The temporary file a catchable signal removes before the process ends:
// prepared before the file is created, so the handler only has to unlink it.
char pending_path[PATH_MAX + 64];
volatile sig_atomic_t pending = 0;

// The signals whose default action ends the process, but for the real-time
// ones (SIGRTMIN to SIGRTMAX), which are not constants. SIGKILL and SIGSTOP
// cannot be caught: a file left by SIGKILL is removed by the next rewrite.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                                  SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                                  SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                                  SIGPROF, SIGIO,   SIGPWR,    SIGSYS};

bool EndsTheProcess(int signal_number) {
  return std::find(std::begin(kEndingSignals), std::end(kEndingSignals), signal_number) !=
             std::end(kEndingSignals) ||
         (signal_number >= SIGRTMIN && signal_number <= SIGRTMAX);
}

extern "C" void RemovePendingAndEnd(int signal_number) {
  if (pending) unlink(pending_path);
  // Ended by the signal itself once the handler returns, so whoever waits
  // for the process still learns which signal it was.
  struct sigaction restore = {};
  restore.sa_handler = SIG_DFL;
  sigemptyset(&restore.sa_mask);
  sigaction(signal_number, &restore, nullptr);
  raise(signal_number);
}

// Catches the ending signals not ignored while it lives.
class PendingFileRemover {
 public:
  PendingFileRemover() {
    struct sigaction remove = {};
    remove.sa_handler = RemovePendingAndEnd;
    sigfillset(&remove.sa_mask);
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      if (!EndsTheProcess(signal_number)) continue;
      sigaction(signal_number, nullptr, &saved_[signal_number]);
      if (saved_[signal_number].sa_handler != SIG_IGN) sigaction(signal_number, &remove, nullptr);
    }
  }
  PendingFileRemover(const PendingFileRemover&) = delete;
  PendingFileRemover& operator=(const PendingFileRemover&) = delete;
  ~PendingFileRemover() {
    pending = 0;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
      if (EndsTheProcess(signal_number)) sigaction(signal_number, &saved_[signal_number], nullptr);
    }
  }

  // `path` is removed if a signal ends the process, until Clear().
  bool Set(const std::string& path) {
    pending = 0;
    if (path.size() >= sizeof pending_path) return false;
    memcpy(pending_path, path.c_str(), path.size() + 1);
    pending = 1;
    return true;
  }
  void Clear() { pending = 0; }

 private:
  struct sigaction saved_[NSIG];
};

// What this run names its temporary files: "<target>.tandor-<pid>-<n>.tmp".
constexpr std::string_view kTemporaryInfix = ".tandor-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// Whether the folder entry `name` is a temporary file of `base`'s rewrites.
bool IsTemporaryOf(std::string_view name, std::string_view base) {
  if (!name.starts_with(base) || !name.substr(base.size()).starts_with(kTemporaryInfix) ||
      !name.ends_with(kTemporarySuffix)) {
    return false;
  }
  name = name.substr(base.size() + kTemporaryInfix.size());
  name.remove_suffix(kTemporarySuffix.size());
  size_t dash = name.find('-');
  auto digits = [](std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == text.npos;
  };
  return dash != name.npos && digits(name.substr(0, dash)) && digits(name.substr(dash + 1));
}

// Runs write their temporary file only while they hold the target's lock, so
// whatever temporary file is there while this run holds it is left over from
// a run that was killed, whatever process id it names.
void RemoveLeftoverTemporaries(const std::string& folder, std::string_view base) {
  Dir dir(opendir(folder.c_str()));
  if (!dir) return;
  while (struct dirent* entry = readdir(dir.get())) {
    if (IsTemporaryOf(entry->d_name, base)) unlinkat(dirfd(dir.get()), entry->d_name, 0);
  }
}

// A new file beside the one it will replace; removed unless renamed over it.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) {
    for (int attempt = 0; attempt < 100 && !fd_.valid(); ++attempt) {
      path_ = target + std::string(kTemporaryInfix) + std::to_string(getpid()) + "-" +
              std::to_string(attempt) + std::string(kTemporarySuffix);
      if (!remover_.Set(path_)) break;
      fd_.Reset(open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0600));
      if (!fd_.valid() && errno != EEXIST) break;
    }
    created_ = fd_.valid();
    if (!created_) remover_.Clear();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (created_ && !committed_) unlink(path_.c_str());
  }

  // Writes `text` changed by `splices`, with the mode and, where allowed,
  // the owner of `like`, and flushes it to disk.
  bool Write(std::string_view text, const TextSplices& splices, const struct stat& like) {
    if (!fd_.valid()) return false;
    size_t at = 0;
    for (const TextSplice& splice : splices) {
      if (splice.begin < at || splice.end < splice.begin || splice.end > text.size()) return false;
      if (!WriteAll(fd_.get(), text.data() + at, splice.begin - at) ||
          !WriteAll(fd_.get(), splice.text.data(), splice.text.size())) {
        return false;
      }
      at = splice.end;
    }
    if (!WriteAll(fd_.get(), text.data() + at, text.size() - at)) return false;
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
    remover_.Clear();
    return true;
  }

 private:
  PendingFileRemover remover_;  // first made, last gone: it outlives the file
  std::string path_;
  Fd fd_;
  bool created_ = false;
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
                         const ReplaceCheck& may_replace) {
  // The file itself is replaced, not a symbolic link on the way to it.
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  if (!resolved) return false;
  std::string target(resolved.get());
  Fd locked;
  struct stat info;
  if (!LockCurrentFile(target, &locked, &info)) return false;
  std::string folder = FolderOf(target);
  RemoveLeftoverTemporaries(folder, target.substr(target.rfind('/') + 1));
  // A second name would keep the old text; refuse rather than split them.
  if (info.st_nlink != 1) return false;
  std::string current;
  if (!ReadAll(locked.get(), &current)) return false;
  std::optional<TextSplices> splices = edit(current);
  if (!splices) return false;
  if (splices->empty()) return true;
  TemporaryFile temporary(target);
  if (!temporary.Write(current, *splices, info)) return false;
  if (!may_replace() || !StillAsLocked(target, info) || !temporary.RenameOver(target)) return false;
  SyncFolder(folder);
  return true;  // the lock is released as `locked` closes, after the rename
}

}  // namespace tandor
