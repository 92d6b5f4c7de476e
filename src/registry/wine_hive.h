// One of a Wine prefix's registry files (system.reg, user.reg, userdef.reg)
// read as Wine's own loader reads it, and edited so that every byte outside
// the changed value stays as it was.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace tandor {

// A key's path below the file's root, one name per element; empty: the root.
using HivePath = std::vector<std::u16string>;

struct HiveValue {
  std::u16string name;  // empty: the default value
  uint32_t type = 0;    // REG_NONE (0) when Wine could not load the data
  std::string data;     // as Wine holds it; strings are UTF-16LE
  size_t line_begin = 0;
  size_t data_begin = 0;  // where the data follows "name"=
  size_t data_end = 0;    // end of the data, continuation lines included,
                          // before the last line's line end
};

struct HiveSection {
  HivePath path;         // as spelled in the file
  std::u16string folded; // path in lower case, joined by '\'
  bool link = false;
  size_t header_begin = 0;
  size_t content_end = 0;  // after the section's last non-blank line
  std::vector<HiveValue> values;  // in file order
};

class Hive {
 public:
  // Gives nullopt when `text` is not a file Wine would load (wrong first line).
  static std::optional<Hive> Parse(std::string text);

  const std::string& text() const { return text_; }
  // The path after ";; All keys relative to" in the file's header, split at
  // backslashes ("REGISTRY", "User", "S-1-5-21-0-0-0-1000").
  const HivePath& relative_to() const { return relative_to_; }

  // A key exists when a section names it or lies below it; the root always.
  bool KeyExists(const HivePath& key) const;
  bool IsLink(const HivePath& key) const;
  // The value as Wine loads it: over all sections of the key, the last line
  // of that name (any letter case) wins. Null when there is none.
  const HiveValue* FindValue(const HivePath& key, std::u16string_view name) const;

  // The file's text with `name` set to the REG_SZ `text` (its terminating
  // zero added) in the existing key `key`: the value's line replaced, or a
  // line added to the key's section, or a section added for a key that only
  // lies on the path of others. nullopt when the key does not exist.
  std::optional<std::string> WithString(const HivePath& key, std::u16string_view name,
                                        std::u16string_view text, std::time_t now) const;

 private:
  explicit Hive(std::string text) : text_(std::move(text)) {}
  void ParseLines();
  std::vector<const HiveSection*> SectionsOf(const HivePath& key) const;

  std::string text_;
  HivePath relative_to_;
  std::vector<HiveSection> sections_;
};

// Splits a registry path at runs of backslashes, as Wine does; a trailing
// backslash ends the path. nullopt when the path starts with a backslash.
std::optional<HivePath> SplitKeyPath(std::u16string_view path);

// `path` in lower case, joined by '\'.
std::u16string FoldedKey(const HivePath& path);

}  // namespace tandor
