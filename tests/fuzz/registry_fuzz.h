// Shared by the registry file targets: their input's fields, and a second
// reading of a file's values to hold the lookups against.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_main.h"
#include "winereg/wine_registry_file.h"
#include "winereg/wine_registry_items.h"
#include "winereg/wine_registry_text.h"

namespace tandor {

// Splits `count` fields, each ended by a zero byte, off the front of
// `*data`; the rest is the file (where a zero byte makes it one Wine refuses,
// so the fields may hold every other byte). False when there are fewer.
inline bool TakeFields(std::string_view* data, size_t count, std::string_view* fields) {
  for (size_t i = 0, end; i < count; ++i, data->remove_prefix(end + 1)) {
    if ((end = data->find('\0')) == std::string_view::npos) return false;
    fields[i] = data->substr(0, end);
  }
  return true;
}

// A value's folded key path (elements hold no backslash, so one joins them)
// and name.
using ValueKey = std::pair<std::u16string, std::u16string>;
template <typename Path>
ValueKey KeyOf(const Path& path, std::u16string_view name) {
  ValueKey key{{}, std::u16string(name)};
  for (const auto& element : path) key.first.append(element).push_back(u'\\');
  for (std::u16string* part : {&key.first, &key.second})
    for (char16_t& unit : *part) unit = FoldCase(unit);
  return key;
}

// A value read, comparable: "-" for none (or malformed), else "type:data".
inline std::string Shown(const std::optional<WineValue>& value) {
  return value ? std::to_string(value->type) + ':' + value->data : "-";
}

// Every value line under the key open at it, read in one walk with no
// shortcut: repeated sections merge, the last line of a name wins, links are
// not followed.
inline std::map<ValueKey, std::string> AllValues(std::string_view file) {
  std::map<ValueKey, std::string> values;
  std::optional<Line> header = LoadableHeader(file);
  ItemWalker walker(file, header ? header->end : file.size(), file.size(), /*in_key=*/false);
  WineKeyPath path;
  Item item;
  while (walker.Next(&item)) {
    const auto& section = walker.section_path();
    if (item.kind == ItemKind::kSection) path.assign(section.begin(), section.end());
    if (item.kind == ItemKind::kValue)
      values[KeyOf(path, walker.value_name())] = Shown(DecodeValue(file, item));
  }
  return values;
}

}  // namespace tandor
