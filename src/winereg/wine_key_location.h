// Where a Wine prefix keeps a registry key: which of its registry files, and
// the path below that file's root, with the link keys on the way followed as
// Windows follows them. Pure: the files' texts come through a callback.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "winereg/wine_registry_file.h"

namespace tandor {

// The links one path may pass through: a loop of links fails instead of
// hanging, and real chains are short (a fresh prefix has two at most).
constexpr int kMaxWineLinks = 16;

// The text of the prefix's registry file `file` ("system.reg", "user.reg" or
// "userdef.reg"); nullopt when it cannot be read. The text outlives the
// WineKeyLocation found in it.
using WineFileText = std::function<std::optional<std::string_view>(const std::string& file)>;

struct WineKeyLocation {
  std::string file;  // "system.reg", "user.reg" or "userdef.reg"
  WineKeyPath path;  // below the file's root
  WineKey key;       // as FindWineKey finds `path` in the file
};

// The existing key `sub_key` (UTF-8; empty: the root) of the predefined key
// `root`, where Wine keeps it: HKEY_LOCAL_MACHINE in system.reg,
// HKEY_CURRENT_USER in user.reg, HKEY_CLASSES_ROOT in system.reg below
// Software\Classes, and below HKEY_USERS the key .Default in userdef.reg and
// the user whose SID user.reg's header names in user.reg. A link key on the
// path leads to its target ("\Registry\Machine\..." or
// "\Registry\User\<SID or .Default>\..."), and the rest of the path goes on
// below that, through at most kMaxWineLinks links. Nullopt when the key does
// not exist, a file it needs cannot be read, or a link leads nowhere: a
// loop, a target outside the registry, a link without one.
std::optional<WineKeyLocation> LocateWineKey(uint32_t root, std::string_view sub_key,
                                             const WineFileText& text_of);

}  // namespace tandor
