#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "posix/fd.h"
#include "posix/wine_server.h"

namespace tandor {

namespace {

// What identifies a prefix's servers.
struct PrefixId {
  dev_t dev = 0;
  ino_t ino = 0;
  uid_t owner = 0;
  std::string server_dir;   // "server-<dev>-<inode>"
  std::string debian_name;  // the name in $prefix/wineserver, if any
};

// The name Debian's build keeps in $prefix/wineserver ("wine-wYDHjo"); empty
// when there is no such file. False when the file exists but cannot be read.
bool DebianServerName(const std::string& prefix, std::string* name) {
  name->clear();
  Fd fd(open((prefix + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return errno == ENOENT;
  char buffer[256];
  ssize_t count = read(fd.get(), buffer, sizeof buffer);
  if (count < 0) return false;
  name->assign(buffer, count);
  while (!name->empty() && (name->back() == '\n' || name->back() == ' ')) name->pop_back();
  return name->find('/') == std::string::npos;
}

// False when the prefix's details cannot be read.
bool Identify(const std::string& prefix, const struct stat& info, PrefixId* id) {
  id->dev = info.st_dev;
  id->ino = info.st_ino;
  // Wine runs a prefix only as its owner, so the server's folder is named
  // after the owner's uid, whoever asks.
  id->owner = info.st_uid;
  char name[64];
  snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(info.st_dev),
           static_cast<unsigned long long>(info.st_ino));
  id->server_dir = name;
  return DebianServerName(prefix, &id->debian_name);
}

bool Same(const struct stat& a, dev_t dev, ino_t ino) { return a.st_dev == dev && a.st_ino == ino; }

bool Among(const std::vector<FilePlace>& places, const struct stat& info) {
  return std::any_of(places.begin(), places.end(),
                     [&](const auto& place) { return Same(info, place.dev, place.ino); });
}

// The folders a server of the prefix may have made its directory in: upstream
// and Debian naming under each temporary folder a server may have been given.
std::vector<std::string> ServerDirs(const PrefixId& id, std::vector<std::string> roots) {
  if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && *tmpdir == '/')
    roots.push_back(tmpdir);
  roots.insert(roots.end(), {"/tmp", "/var/tmp", "/dev/shm"});
  std::vector<std::string> dirs;
  for (const std::string& root : roots) {
    dirs.push_back(root + "/.wine-" + std::to_string(id.owner) + "/" + id.server_dir);
    if (!id.debian_name.empty()) dirs.push_back(root + "/" + id.debian_name + "/" + id.server_dir);
  }
  std::sort(dirs.begin(), dirs.end());
  dirs.erase(std::unique(dirs.begin(), dirs.end()), dirs.end());
  return dirs;
}

// The directory a server started now, in this environment, would use.
std::string NextServerDir(const PrefixId& id) {
  if (id.debian_name.empty()) return "/tmp/.wine-" + std::to_string(id.owner) + "/" + id.server_dir;
  const char* tmpdir = std::getenv("TMPDIR");
  std::string root = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
  return root + "/" + id.debian_name + "/" + id.server_dir;
}

// Makes `dir` as Wine does (mode 0700), or checks that it is as Wine wants it.
bool MakeWineDir(const std::string& dir, uid_t owner) {
  struct stat info;
  if (lstat(dir.c_str(), &info) != 0 &&
      (errno != ENOENT || mkdir(dir.c_str(), 0700) != 0 || lstat(dir.c_str(), &info) != 0)) {
    return false;
  }
  return S_ISDIR(info.st_mode) && info.st_uid == owner && (info.st_mode & 077) == 0;
}

// Up to `limit` bytes of a /proc file; false (errno set) when it cannot be read.
bool ReadProcFile(const std::string& path, size_t limit, std::string* text) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  text->clear();
  char buffer[4096];
  while (text->size() < limit) {
    ssize_t count = read(fd.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    if (count == 0) break;
    text->append(buffer, static_cast<size_t>(count));
  }
  return true;
}

bool Gone() { return errno == ENOENT || errno == ESRCH; }

enum class Verdict { kUnrelated, kServes, kUnknown };

// The prefix that the environment `environ` (of the process `proc`) names,
// and its TMPDIR, appended to `tmpdirs`.
Verdict NamedPrefix(const PrefixId& id, std::string_view environ,
                    std::vector<std::string>* tmpdirs) {
  std::string wineprefix, home;
  for (size_t end; !environ.empty(); environ.remove_prefix(std::min(end + 1, environ.size()))) {
    end = std::min(environ.find('\0'), environ.size());
    std::string_view entry = environ.substr(0, end);
    if (entry.starts_with("WINEPREFIX=")) wineprefix = entry.substr(11);
    if (entry.starts_with("HOME=")) home = entry.substr(5);
    if (entry.starts_with("TMPDIR=/")) tmpdirs->emplace_back(entry.substr(7));
  }
  std::string prefix = !wineprefix.empty() ? wineprefix : home.empty() ? "" : home + "/.wine";
  if (prefix.empty()) return Verdict::kUnknown;
  if (prefix[0] != '/') return Verdict::kUnrelated;  // Wine refuses a relative prefix
  struct stat info;
  // A prefix that does not exist is not this one (Debian's wrapper script,
  // named wineserver too, is in that state before it starts the server).
  if (stat(prefix.c_str(), &info) != 0)
    return errno == ENOENT ? Verdict::kUnrelated : Verdict::kUnknown;
  return Same(info, id.dev, id.ino) ? Verdict::kServes : Verdict::kUnrelated;
}

// Whether the wineserver process `proc` ("/proc/<pid>") serves the prefix.
// A server sits in its server directory, or in the prefix while it loads or
// saves; before it gets there, its environment names its prefix.
Verdict Classify(const PrefixId& id, const std::string& proc, const std::vector<FilePlace>& locked,
                 std::vector<std::string>* tmpdirs) {
  std::string environ;
  bool environ_read = ReadProcFile(proc + "/environ", size_t{1} << 20, &environ);
  int environ_error = errno;
  char link[PATH_MAX];
  ssize_t size = readlink((proc + "/cwd").c_str(), link, sizeof link);
  if (size < 0) return Gone() ? Verdict::kUnrelated : Verdict::kUnknown;
  std::string_view cwd(link, static_cast<size_t>(size));
  if (cwd.ends_with(" (deleted)")) cwd.remove_suffix(10);
  std::string_view leaf = cwd.substr(cwd.rfind('/') + 1);
  struct stat here;
  bool here_known = stat((proc + "/cwd").c_str(), &here) == 0;
  // It cannot hold the lock of a directory locked here, so it has loaded
  // nothing and will back off.
  if (here_known && Among(locked, here)) return Verdict::kUnrelated;
  if (leaf == id.server_dir || (here_known && Same(here, id.dev, id.ino))) return Verdict::kServes;
  if (leaf.starts_with("server-")) return Verdict::kUnrelated;  // another prefix's server
  errno = environ_error;
  if (!environ_read) return Gone() ? Verdict::kUnrelated : Verdict::kUnknown;
  return NamedPrefix(id, environ, tmpdirs);
}

// Whether no wineserver process of the prefix's owner may serve it, leaving
// aside those in the server directories `locked`; collects the TMPDIR of
// each such process in `tmpdirs`.
bool NoServerProcess(const PrefixId& id, const std::vector<FilePlace>& locked,
                     std::vector<std::string>* tmpdirs) {
  Dir proc(opendir("/proc"));
  if (!proc) return false;
  while (struct dirent* entry = readdir(proc.get())) {
    std::string_view pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != pid.npos) continue;
    std::string path = "/proc/" + std::string(pid);
    std::string comm;
    // Upstream's "wineserver", Debian's "wineserver64" and its wrapper script.
    if (!ReadProcFile(path + "/comm", 64, &comm) || !comm.starts_with("wineserver")) continue;
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || info.st_uid != id.owner) continue;
    if (Classify(id, path, locked, tmpdirs) != Verdict::kUnrelated) return false;
  }
  return true;
}

enum class LockState { kFree, kHeld, kUnknown };

// Whether another process holds a write lock on byte 0 of `path`, asked the
// way Wine itself asks (F_GETLK).
LockState ServerLock(const std::string& path) {
  // Non-blocking, so that something other than a file planted there (a FIFO)
  // cannot stall the run.
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid())
    return errno == ENOENT || errno == ENOTDIR ? LockState::kFree : LockState::kUnknown;
  struct flock query = {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  query.l_start = 0;
  query.l_len = 1;
  if (fcntl(fd.get(), F_GETLK, &query) != 0) return LockState::kUnknown;
  return query.l_type == F_UNLCK ? LockState::kFree : LockState::kHeld;
}

// Runs of this tool on one prefix take turns at the server locks (an
// exclusive flock on the prefix folder, which Wine does not use): each would
// otherwise take another's hold on a lock for a running server.
bool TakeTurn(const std::string& prefix, Fd* turn) {
  turn->Reset(open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!turn->valid()) return false;
  // Each run holds it for a few milliseconds; far longer means trouble.
  for (int waited = 0; waited < 30000; waited += 2) {
    if (flock(turn->get(), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    struct timespec pause = {0, 2000000};
    nanosleep(&pause, nullptr);
  }
  return false;
}

}  // namespace

bool WineServerRuns(const std::string& prefix) {
  struct stat info;
  if (stat(prefix.c_str(), &info) != 0) return false;  // no prefix, no server
  Fd turn;
  if (!TakeTurn(prefix, &turn)) return true;
  PrefixId id;
  std::vector<std::string> tmpdirs;
  if (!Identify(prefix, info, &id) || !NoServerProcess(id, {}, &tmpdirs)) return true;
  for (const std::string& dir : ServerDirs(id, tmpdirs)) {
    if (ServerLock(dir + "/lock") != LockState::kFree) return true;
  }
  return false;
}

bool WineServerLockout::Acquire() {
  struct stat info;
  PrefixId id;
  std::vector<std::string> tmpdirs;
  if (!TakeTurn(prefix_, &turn_) || stat(prefix_.c_str(), &info) != 0 ||
      !Identify(prefix_, info, &id) || !NoServerProcess(id, folders_, &tmpdirs)) {
    return false;
  }
  // Only the owner may make them: Wine refuses a directory of another user.
  std::string next = NextServerDir(id);
  if (next[0] == '/' && geteuid() == id.owner &&
      MakeWineDir(next.substr(0, next.rfind('/')), id.owner) && MakeWineDir(next, id.owner)) {
    Fd(open((next + "/lock").c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  }
  for (const std::string& dir : ServerDirs(id, tmpdirs)) {
    std::string path = dir + "/lock";
    struct stat file, folder;
    // Closing another descriptor of a file locked here would drop the lock.
    if (lstat(path.c_str(), &file) != 0) {
      unlocked_.push_back(path);  // a server starting now may make it: seen by StillClear
      continue;
    }
    if (Among(lock_files_, file)) continue;
    // Wine refuses to run with anything else there.
    if (!S_ISREG(file.st_mode)) continue;
    Fd fd(open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    if (!fd.valid() || fstat(fd.get(), &file) != 0 || stat(dir.c_str(), &folder) != 0) {
      unlocked_.push_back(path);
    } else if (fcntl(fd.get(), F_SETLK, &lock) == 0) {
      lock_files_.push_back({file.st_dev, file.st_ino});
      folders_.push_back({folder.st_dev, folder.st_ino});
      locks_.push_back(std::move(fd));
    } else {
      return false;  // a server holds it, or locks do not work there
    }
  }
  return StillClear();
}

bool WineServerLockout::StillClear() {
  struct stat info;
  PrefixId id;
  std::vector<std::string> tmpdirs;
  if (stat(prefix_.c_str(), &info) != 0 || !Identify(prefix_, info, &id) ||
      !NoServerProcess(id, folders_, &tmpdirs)) {
    return false;
  }
  for (const std::string& path : unlocked_) {
    struct stat file;
    if (stat(path.c_str(), &file) == 0 && Among(lock_files_, file)) continue;
    if (ServerLock(path) != LockState::kFree) return false;
  }
  return true;
}

}  // namespace tandor
