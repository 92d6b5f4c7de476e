#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "posix/fd.h"
#include "posix/wine_prefix.h"

namespace tandor {

namespace {

struct Drive {
  char letter;  // upper case
  FilePlace target;
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
    drives.push_back({static_cast<char>(letter - 'a' + 'A'), PlaceOf(target)});
  }
  return drives;
}

const Drive* DriveOf(const std::vector<Drive>& drives, const std::string& directory) {
  struct stat info;
  if (stat(directory.empty() ? "/" : directory.c_str(), &info) != 0) return nullptr;
  for (const Drive& drive : drives) {
    if (drive.target == PlaceOf(info)) return &drive;
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

}  // namespace

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
