// Reading and safely rewriting one registry file of a Wine prefix.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tandor {

// Registry files are a few MiB; anything far larger is not one.
constexpr size_t kMaxRegistryFileSize = size_t{256} << 20;

// The whole text of the regular file `path`; nullopt when it is missing, not
// a regular file (never blocks on a FIFO or a device), larger than
// kMaxRegistryFileSize or unreadable.
std::optional<std::string> ReadRegistryFile(const std::string& path);

// Gives the new text for the current one, or nullopt to change nothing.
using RegistryFileEdit = std::function<std::optional<std::string>(std::string_view current)>;

// Rewrites the regular file `path` with `edit` under an exclusive lock, so
// that concurrent rewrites of one file all keep their change: the file is
// read after the lock is taken, the new text goes to a temporary file in the
// same folder, which is flushed to disk, given the file's mode and renamed
// over it; the folder is then flushed too. `may_replace` is asked before
// anything is written and again just before the rename. Gives false when
// anything fails (`edit` or `may_replace` included); the file is then left
// byte for byte as it was and no temporary file remains.
bool RewriteRegistryFile(const std::string& path, const RegistryFileEdit& edit,
                         const std::function<bool()>& may_replace);

}  // namespace tandor
