#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "posix/wine_prefix.h"

namespace tandor {

namespace {

struct Drive {
  char letter;  // upper case
  dev_t device;
  ino_t inode;
};

// The prefix's drives, A to Z, by the identity of the directory each names.
// Comparing identities rather than spellings follows symbolic links the way
// Wine does.
std::vector<Drive> ListDrives(const std::string& prefix) {
  std::vector<Drive> drives;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    std::string link = prefix + "/dosdevices/" + letter + ":";
    struct stat target;
    if (stat(link.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) continue;
    drives.push_back({static_cast<char>(letter - 'a' + 'A'), target.st_dev, target.st_ino});
  }
  return drives;
}

const Drive* DriveOf(const std::vector<Drive>& drives, const std::string& directory) {
  struct stat info;
  if (stat(directory.empty() ? "/" : directory.c_str(), &info) != 0) return nullptr;
  for (const Drive& drive : drives) {
    if (drive.device == info.st_dev && drive.inode == info.st_ino) return &drive;
  }
  return nullptr;
}

// "C:\rest\below" from a drive letter and the Unix path below its target;
// a trailing backslash only at the drive's root.
std::string DosPath(char letter, const std::string& below) {
  std::string dos{letter, ':', '\\'};
  for (char c : below) {
    if (c != '/') {
      dos += c;
    } else if (dos.back() != '\\') {
      dos += '\\';
    }
  }
  if (dos.size() > 3 && dos.back() == '\\') dos.pop_back();
  return dos;
}

enum class LockState { kFree, kHeld, kUnknown };

// Whether another process holds a write lock on byte 0 of `path`, asked the
// way Wine itself asks (F_GETLK).
LockState ServerLock(const std::string& path) {
  // Non-blocking, so that something other than a file planted there (a FIFO)
  // cannot stall the run.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? LockState::kFree : LockState::kUnknown;
  struct flock query = {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  query.l_start = 0;
  query.l_len = 1;
  int result = fcntl(fd, F_GETLK, &query);
  close(fd);
  if (result != 0) return LockState::kUnknown;
  return query.l_type == F_UNLCK ? LockState::kFree : LockState::kHeld;
}

// The name Debian's build keeps in $prefix/wineserver ("wine-wYDHjo"); empty
// when there is no such file. False when the file exists but cannot be read.
bool DebianServerName(const std::string& prefix, std::string* name) {
  name->clear();
  int fd = open((prefix + "/wineserver").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT;
  char buffer[256];
  ssize_t count = read(fd, buffer, sizeof buffer);
  close(fd);
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
           static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino));
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

std::string WinePrefixDirectory() {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix != nullptr && *prefix != '\0') return prefix;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.wine";
}

std::string DosDirectoryOf(const std::string& unix_directory, const std::string& prefix) {
  std::vector<Drive> drives = ListDrives(prefix);
  // Walk up from the directory itself; the deepest match wins.
  std::string head = unix_directory;
  while (!head.empty() && head.back() == '/') head.pop_back();
  for (;;) {
    if (const Drive* drive = DriveOf(drives, head))
      return DosPath(drive->letter, unix_directory.substr(head.size()));
    if (head.empty()) break;
    head.erase(head.rfind('/'));
  }
  return DosPath('Z', unix_directory);
}

}  // namespace tandor
