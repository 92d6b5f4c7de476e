// The Wine prefix the POSIX build works on, and how a program under Wine
// sees the Unix file system through it.
#pragma once

#include <string>

namespace tandor {

// $WINEPREFIX when set and not empty, else $HOME/.wine.
std::string WinePrefixDirectory();

// The DOS form of `unix_directory` ("Z:\tmp\x") as Wine derives it: the
// deepest ancestor that is the target of one of the prefix's drive letters
// gives the drive (the first letter on a tie); with none, Z: stands for /.
std::string DosDirectoryOf(const std::string& unix_directory, const std::string& prefix);

// True while a wineserver serves `prefix`, or when that cannot be ruled out.
// The server holds a write lock on byte 0 of the file "lock" in its server
// directory for its whole life: /tmp/.wine-<uid>/server-<dev>-<inode> upstream,
// ${TMPDIR:-/tmp}/<name in $prefix/wineserver>/server-<dev>-<inode> in
// Debian's build. The directory outlives the server; only the lock tells.
bool WineServerRuns(const std::string& prefix);

}  // namespace tandor
