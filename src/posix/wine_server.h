// Whether a Wine prefix's wineserver runs: while it does, it owns the
// prefix's registry, and overwrites the files when it next saves.
#pragma once

#include <string>

namespace tandor {

// True while a wineserver serves `prefix`, or when that cannot be ruled out.
// The server holds a write lock on byte 0 of the file "lock" in its server
// directory for its whole life: /tmp/.wine-<uid>/server-<dev>-<inode> upstream,
// ${TMPDIR:-/tmp}/<name in $prefix/wineserver>/server-<dev>-<inode> in
// Debian's build. The directory outlives the server; only the lock tells.
bool WineServerRuns(const std::string& prefix);

}  // namespace tandor
