// Keeping wineservers off a Wine prefix while its registry files are
// rewritten: a server that runs owns the registry, and overwrites the files
// when it next saves.
//
// A wineserver takes a write lock on byte 0 of the file "lock" in its server
// directory before it loads the registry, holds it for its whole life, and
// when another process holds it, exits with status 2 (its client then tries
// again for about five seconds). The server directory is
// server-<dev>-<inode> (of the prefix folder, in hex) under /tmp/.wine-<uid>
// upstream, and under ${TMPDIR:-/tmp}/<name in $prefix/wineserver> in
// Debian's build. It outlives the server: only the lock tells. A server's
// working directory is its server directory, or the prefix while it loads or
// saves the registry.
#pragma once

#include <string>
#include <vector>

#include "posix/fd.h"

namespace tandor {

// Keeps wineservers from starting on a prefix while it lives, by holding the
// lock of the server directories a server of the prefix would use. Runs of
// this tool on one prefix take turns at it.
class WineServerLockout {
 public:
  explicit WineServerLockout(std::string prefix) : prefix_(std::move(prefix)) {}

  // Takes the lock in every server directory of the prefix that exists under
  // the temporary folders a server may use, and in the one a server started
  // now would use, made as Wine makes it when it is missing. False when a
  // server runs or cannot be ruled out.
  bool Acquire();

  // After Acquire, whether still no server can have loaded the prefix's
  // registry since: none holds a lock this one could not take, and no
  // server process of the prefix is found outside the directories locked.
  bool StillClear();

 private:
  std::string prefix_;
  Fd turn_;                            // this tool's own turn on the prefix
  std::vector<Fd> locks_;              // held
  std::vector<FilePlace> lock_files_;  // the files of `locks_`
  std::vector<FilePlace> folders_;     // their server directories
  std::vector<std::string> unlocked_;  // lock files seen but not held
};

}  // namespace tandor
