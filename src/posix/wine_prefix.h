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

}  // namespace tandor
