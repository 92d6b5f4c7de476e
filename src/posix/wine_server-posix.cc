#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "posix/fd.h"
#include "posix/wine_server.h"

namespace tandor {

namespace {

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

}  // namespace

bool WineServerRuns(const std::string& prefix) {
  struct stat info;
  if (stat(prefix.c_str(), &info) != 0) return false;  // no prefix, no server
  char server[64];
  snprintf(server, sizeof server, "/server-%llx-%llx/lock",
           static_cast<unsigned long long>(info.st_dev),
           static_cast<unsigned long long>(info.st_ino));
  // Wine runs a prefix only as its owner, so the server's folder is named
  // after the owner's uid, whoever asks.
  std::vector<std::string> locks = {"/tmp/.wine-" + std::to_string(info.st_uid) + server};
  std::string name;
  if (!DebianServerName(prefix, &name)) return true;
  if (!name.empty()) {
    // The server may have been started with another TMPDIR than ours.
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && *tmpdir != '\0') locks.push_back(tmpdir + ("/" + name) + server);
    locks.push_back("/tmp/" + name + server);
  }
  for (const std::string& lock : locks) {
    if (ServerLock(lock) != LockState::kFree) return true;
  }
  return false;
}

}  // namespace tandor
