#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "posix/fd.h"
#include "posix/wine_server.h"

namespace tandor {

namespace {

// What identifies a prefix's servers.
struct PrefixId {
  FilePlace place;
  uid_t owner = 0;
  std::string server_dir;   // "server-<dev>-<inode>"
  std::string debian_name;  // the name in $prefix/wineserver, if any
};

// Up to `limit` bytes of the file `path`; false (errno set) when it cannot
// be read whole.
bool ReadSmallFile(const std::string& path, size_t limit, std::string* text) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  return fd.valid() && ReadToEnd(fd.get(), limit, text);
}

// The name Debian's build keeps in $prefix/wineserver ("wine-wYDHjo"); empty
// when there is no such file. False when the file exists but cannot be read.
bool DebianServerName(const std::string& prefix, std::string* name) {
  name->clear();
  if (!ReadSmallFile(prefix + "/wineserver", 256, name)) return errno == ENOENT;
  while (!name->empty() && (name->back() == '\n' || name->back() == ' ')) name->pop_back();
  return name->find('/') == std::string::npos;
}

// False when the prefix's details cannot be read.
bool Identify(const std::string& prefix, PrefixId* id) {
  struct stat info;
  if (stat(prefix.c_str(), &info) != 0) return false;
  id->place = PlaceOf(info);
  // Wine runs a prefix only as its owner, so the server's folder is named
  // after the owner's uid, whoever asks.
  id->owner = info.st_uid;
  char name[64];
  snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(info.st_dev),
           static_cast<unsigned long long>(info.st_ino));
  id->server_dir = name;
  return DebianServerName(prefix, &id->debian_name);
}

bool Among(const std::vector<FilePlace>& places, const struct stat& info) {
  return std::find(places.begin(), places.end(), PlaceOf(info)) != places.end();
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

bool Gone() { return errno == ENOENT || errno == ESRCH; }

// The home folder of the user `uid` in /etc/passwd, where Wine looks when
// HOME is not set; nullopt when it is not listed there.
std::optional<std::string> PasswdHome(uid_t uid) {
  std::string passwd;
  if (!ReadSmallFile("/etc/passwd", size_t{16} << 20, &passwd)) return std::nullopt;
  std::string_view rest = passwd;
  while (!rest.empty()) {
    std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(line.size() + 1, rest.size()));
    // name:password:uid:gid:gecos:home:shell
    std::string_view fields[7];
    for (std::string_view& field : fields) {
      field = line.substr(0, line.find(':'));
      line.remove_prefix(std::min(field.size() + 1, line.size()));
    }
    if (fields[2] == std::to_string(uid)) return std::string(fields[5]);
  }
  return std::nullopt;
}

enum class Verdict { kUnrelated, kServes, kUnknown };

// The prefix that the environment `environ` of a server owned by `id.owner`
// names, as Wine takes it; appends its TMPDIR to `tmpdirs`.
Verdict NamedPrefix(const PrefixId& id, std::string_view environ,
                    std::vector<std::string>* tmpdirs) {
  std::optional<std::string> wineprefix, home;
  for (size_t end; !environ.empty(); environ.remove_prefix(std::min(end + 1, environ.size()))) {
    end = std::min(environ.find('\0'), environ.size());
    std::string_view entry = environ.substr(0, end);
    if (entry.starts_with("WINEPREFIX=")) wineprefix = entry.substr(11);
    if (entry.starts_with("HOME=")) home = entry.substr(5);
    if (entry.starts_with("TMPDIR=/")) tmpdirs->emplace_back(entry.substr(7));
  }
  if (!home) home = PasswdHome(id.owner);
  if (!wineprefix && !home) return Verdict::kUnknown;
  std::string prefix = wineprefix ? *wineprefix : *home + "/.wine";
  // Wine refuses to run on a relative prefix.
  if (!prefix.starts_with('/')) return Verdict::kUnrelated;
  struct stat info;
  // A prefix that does not exist is not this one (Debian's wrapper script,
  // named wineserver too, is in that state before it starts the server).
  if (stat(prefix.c_str(), &info) != 0)
    return errno == ENOENT ? Verdict::kUnrelated : Verdict::kUnknown;
  return PlaceOf(info) == id.place ? Verdict::kServes : Verdict::kUnrelated;
}

// Whether the process `proc` ("/proc/<pid>") has let go of its memory, as a
// process does on its way out: it runs no code again, so it can neither load
// the registry nor save it. Its environment then reads as empty.
bool Exiting(const std::string& proc) {
  std::string statm;
  return ReadSmallFile(proc + "/statm", 256, &statm) && statm.starts_with("0 ");
}

// Whether the process `proc` serves the prefix by where it works: in the
// prefix's server directory, or (`named_server`: a process named wineserver)
// in the prefix itself while it loads or saves. Processes in the server
// directories `locked` cannot hold their lock, so they have loaded nothing
// and will back off. Nullopt when that does not settle it.
std::optional<Verdict> ByWorkingFolder(const PrefixId& id, const std::string& proc,
                                       const std::vector<FilePlace>& locked, bool named_server) {
  char link[PATH_MAX];
  ssize_t size = readlink((proc + "/cwd").c_str(), link, sizeof link);
  if (size < 0) {
    // Another user's process under hidepid, or one that is not dumpable,
    // keeps its folder to itself; only one named wineserver must tell.
    if (Gone() || !named_server) return Verdict::kUnrelated;
    return Verdict::kUnknown;
  }
  std::string_view cwd(link, static_cast<size_t>(size));
  if (cwd.ends_with(" (deleted)")) cwd.remove_suffix(10);
  std::string_view leaf = cwd.substr(cwd.rfind('/') + 1);
  struct stat here;
  bool here_known = stat((proc + "/cwd").c_str(), &here) == 0;
  if (here_known && Among(locked, here)) return Verdict::kUnrelated;
  if (leaf == id.server_dir) return Verdict::kServes;
  if (!named_server) return Verdict::kUnrelated;
  if (here_known && PlaceOf(here) == id.place) return Verdict::kServes;
  if (leaf.starts_with("server-")) return Verdict::kUnrelated;  // another prefix's server
  return std::nullopt;
}

// Whether the process `proc` of the prefix's owner serves the prefix. A
// server sits in its server directory, or in the prefix while it loads or
// saves; before it gets there, its environment names its prefix. Any
// process in the server directory counts, whatever its name: a renamed
// server, or one started through the dynamic loader.
Verdict Classify(const PrefixId& id, const std::string& proc, const std::vector<FilePlace>& locked,
                 std::vector<std::string>* tmpdirs) {
  std::string comm;
  if (!ReadSmallFile(proc + "/comm", 64, &comm)) return Verdict::kUnrelated;  // gone
  // Upstream's "wineserver", Debian's "wineserver64" and its wrapper script.
  bool named_server = comm.starts_with("wineserver");
  if (named_server && Exiting(proc)) return Verdict::kUnrelated;
  if (std::optional<Verdict> verdict = ByWorkingFolder(id, proc, locked, named_server))
    return *verdict;
  std::string environ;
  if (!ReadSmallFile(proc + "/environ", size_t{4} << 20, &environ))
    return Gone() ? Verdict::kUnrelated : Verdict::kUnknown;
  // An environment that reads empty may be one the process has let go of.
  if (environ.empty() && Exiting(proc)) return Verdict::kUnrelated;
  return NamedPrefix(id, environ, tmpdirs);
}

// Whether no process of the prefix's owner may serve it as a wineserver,
// leaving aside those in the server directories `locked`; collects the
// TMPDIR of each wineserver process in `tmpdirs`.
bool NoServerProcess(const PrefixId& id, const std::vector<FilePlace>& locked,
                     std::vector<std::string>* tmpdirs) {
  Dir proc(opendir("/proc"));
  if (!proc) return false;
  while (struct dirent* entry = readdir(proc.get())) {
    std::string_view pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != pid.npos) continue;
    std::string path = "/proc/" + std::string(pid);
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || info.st_uid != id.owner) continue;
    if (Classify(id, path, locked, tmpdirs) != Verdict::kUnrelated) return false;
  }
  return true;
}

// A write lock on byte 0, the one a wineserver holds on its lock file.
struct flock ServerLockRange() {
  struct flock range = {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  return range;
}

enum class LockState { kFree, kHeld, kUnknown };

// Whether another process holds the server lock of `path`, asked the way
// Wine itself asks (F_GETLK).
LockState ServerLock(const std::string& path) {
  // Non-blocking, so that something other than a file planted there (a FIFO)
  // cannot stall the run.
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid())
    return errno == ENOENT || errno == ENOTDIR ? LockState::kFree : LockState::kUnknown;
  struct flock query = ServerLockRange();
  if (fcntl(fd.get(), F_GETLK, &query) != 0) return LockState::kUnknown;
  return query.l_type == F_UNLCK ? LockState::kFree : LockState::kHeld;
}

}  // namespace

bool WineServerLockout::Acquire() {
  PrefixId id;
  std::vector<std::string> tmpdirs;
  // Runs of this tool on one prefix take turns (an exclusive flock on the
  // prefix folder, which Wine does not use): each would otherwise take
  // another's hold on a lock for a running server.
  turn_.Reset(open(prefix_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!turn_.valid() || !LockExclusively(turn_.get()) || !Identify(prefix_, &id) ||
      !NoServerProcess(id, folders_, &tmpdirs)) {
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
    struct flock lock = ServerLockRange();
    if (!fd.valid() || fstat(fd.get(), &file) != 0 || stat(dir.c_str(), &folder) != 0) {
      unlocked_.push_back(path);
    } else if (fcntl(fd.get(), F_SETLK, &lock) == 0) {
      lock_files_.push_back(PlaceOf(file));
      folders_.push_back(PlaceOf(folder));
      locks_.push_back(std::move(fd));
    } else {
      return false;  // a server holds it, or locks do not work there
    }
  }
  return StillClear();
}

bool WineServerLockout::StillClear() {
  PrefixId id;
  std::vector<std::string> tmpdirs;
  if (!Identify(prefix_, &id) || !NoServerProcess(id, folders_, &tmpdirs)) return false;
  for (const std::string& path : unlocked_) {
    struct stat file;
    if (stat(path.c_str(), &file) == 0 && Among(lock_files_, file)) continue;
    if (ServerLock(path) != LockState::kFree) return false;
  }
  return true;
}

}  // namespace tandor
