// Reading and safely rewriting one registry file of a Wine prefix.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/text_splice.h"

namespace tandor {

// Registry files are a few MiB; anything far larger is not one.
constexpr size_t kMaxRegistryFileSize = size_t{256} << 20;

// The whole text of the regular file `path`; nullopt when it is missing, not
// a regular file (never blocks on a FIFO or a device), larger than
// kMaxRegistryFileSize or unreadable.
std::optional<std::string> ReadRegistryFile(const std::string& path);

// Gives the changes to make to the current text (none: nothing to write), or
// nullopt to change nothing and fail.
using RegistryFileEdit = std::function<std::optional<TextSplices>(std::string_view current)>;

// Whether the new file may be renamed over the old one, asked just before.
using ReplaceCheck = std::function<bool()>;

// Rewrites the regular file `path` with `edit` under an exclusive lock, so
// that concurrent rewrites of one file all keep their change: the file is
// read after the lock is taken, the changed text goes to a temporary file in
// the same folder, which is flushed to disk, given the file's mode and
// renamed over it, provided `may_replace` agrees and nothing has changed or
// replaced the file since it was read (a program that does not take the lock,
// such as Wine saving its registry); the folder is then flushed too. A
// symbolic link is followed (the file it names is replaced); a file with more
// than one name is refused. Temporary files of this naming that a killed run
// left beside the file are removed, and a catchable signal that ends the
// process meanwhile removes this run's. Gives true when the file holds the
// change (or `edit` asked for none); false when anything fails, the file then
// left byte for byte as it was and no temporary file remaining.
bool RewriteRegistryFile(const std::string& path, const RegistryFileEdit& edit,
                         const ReplaceCheck& may_replace);

}  // namespace tandor
