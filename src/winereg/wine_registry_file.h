// Wine's registry files ("WINE REGISTRY Version 2"): finding keys and values
// in a file's text as Wine's loader sees them, and editing one string value
// while every other byte stays as it was. Pure: no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_splice.h"

namespace tandor {

// A key's path below a file's root, one element per entry; empty: the root.
using WineKeyPath = std::vector<std::u16string>;

// Splits `sub_key` (UTF-8, "Software\Abc") into path elements the way Wine
// opens keys: runs of backslashes separate, a trailing one is ignored. Gives
// false for a leading backslash, text that is not UTF-8 or an element longer
// than Wine allows.
bool ParseWineKeyPath(std::string_view sub_key, WineKeyPath* path);

// A value as the registry reports it. REG_SZ data is the UTF-8 text up to the
// first zero unit followed by one zero byte; REG_EXPAND_SZ and REG_MULTI_SZ
// data is all units as UTF-8; REG_DWORD four bytes, little-endian; other
// types their bytes.
struct WineValue {
  uint32_t type = 0;
  std::string data;
};

// Byte range [begin, end) of a file's text.
struct TextSpan {
  size_t begin = 0;
  size_t end = 0;
};

// A key as one file holds it.
struct WineKey {
  // False when the file is not one Wine loads, the key has no section and no
  // deeper section implies it, or it is a symbolic link or lies below one.
  bool exists = false;
  // The lines of each of the key's sections after its header, in file order
  // (empty when the key is only implied).
  std::vector<TextSpan> sections;
  // When the path runs through a symbolic link key (the key itself or one
  // above it): how many of the path's elements name the first such key, and
  // its target as stored ("\Registry\Machine\Software\Classes"), empty
  // when it has none. Programs see the target's key, not the link's.
  size_t link_depth = 0;
  std::u16string link_target;
};

// Finds `path` in `file`.
WineKey FindWineKey(std::string_view file, const WineKeyPath& path);

// The value named `name` (UTF-8, case-insensitive; empty: the default value)
// of `key`, found earlier in the same `file`. The last line naming it wins, as
// in Wine. Nullopt when there is none or its data is malformed.
std::optional<WineValue> FindWineValue(std::string_view file, const WineKey& key,
                                       std::string_view name);

// The last element of the root named in the file's header comment, e.g.
// u"S-1-5-21-0-0-0-1000" for ";; All keys relative to REGISTRY\\User\\S-1-...".
std::optional<std::u16string> WineFileRootName(std::string_view file);

// The moment written into a new key's header.
struct WineTime {
  int64_t unix_seconds = 0;
  uint32_t nanoseconds = 0;
};

// An edit of one value: the splices that make it, and the value they replace
// (nullopt: it is new), as FindWineValue would have read it.
struct WineStringEdit {
  TextSplices splices;
  std::optional<WineValue> old_value;
};

// The splices that set the value `name` (UTF-8) of the existing key `path`
// in `file` to the REG_SZ `text` (UTF-8): the value's data is replaced in its
// line (the name keeps its stored spelling, text after the data, which Wine
// ignores, stays), or a line is added to the key's last section, or, for a
// key only implied by deeper ones, a section is appended. The edited
// section's time (the seconds after its header, its "#time=" line) becomes
// `now` where it has one; Wine takes a section without one as changed when
// it loads it. Every other byte is kept. No splices when the value already
// holds exactly `text`. Nullopt when `text` is not valid UTF-8, the key does
// not exist or is a link, or the file cannot be edited with certainty (not
// loadable, a malformed line in the key, a value still open at the end).
std::optional<WineStringEdit> SetWineString(std::string_view file, const WineKeyPath& path,
                                            std::string_view name, std::string_view text,
                                            WineTime now);

}  // namespace tandor
