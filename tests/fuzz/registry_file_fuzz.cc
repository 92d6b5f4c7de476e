// libFuzzer target: finding and setting a string value in a Wine registry
// file, held against a second reading of the file that walks all its values
// with no shortcut. The input is a sub-key, a value name and a text, each
// ended by a zero byte, then the file (where a zero byte makes it one Wine
// refuses, so the fields may hold every other byte).
//
// Found: a REG_SZ value holds one zero byte, at its end, and a value of a key
// that exists is what the walk reads, and what the edit reports it replaces.
// Set, when the edit is made: the file it gives loads, reads
// the value back exactly, reads every other value as before, and needs no change when the same text
// is set again.
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "fuzz/fuzz_main.h"
#include "spliced.h"
#include "winereg/wine_registry_file.h"
#include "winereg/wine_registry_items.h"
#include "winereg/wine_registry_text.h"

namespace tandor {
namespace {

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
std::string Shown(const std::optional<WineValue>& value) {
  return value ? std::to_string(value->type) + ':' + value->data : "-";
}

// Every value line under the key open at it, read in one walk: repeated
// sections merge, the last line of a name wins, links are not followed.
std::map<ValueKey, std::string> AllValues(std::string_view file) {
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

}  // namespace
}  // namespace tandor

void FuzzOne(std::string_view data) {
  using namespace tandor;
  std::string_view fields[3];
  for (std::string_view& field : fields) {
    size_t end = data.find('\0');
    if (end == data.npos) return;
    field = data.substr(0, end);
    data.remove_prefix(end + 1);
  }
  const std::string_view file = data, name = fields[1], text = fields[2];
  WineKeyPath path;
  std::u16string units;
  if (!ParseWineKeyPath(fields[0], &path)) return;
  const bool named = DecodeUtf8(name, Surrogates::kAccept, &units);

  WineFileRootName(file);
  WineKey key = FindWineKey(file, path);
  std::string found = Shown(FindWineValue(file, key, name));
  if (found.starts_with("1:") && found.find('\0') != found.size() - 1) abort();
  auto values = AllValues(file);
  if (key.exists && named && found != values.try_emplace(KeyOf(path, units), "-").first->second)
    abort();

  constexpr WineTime kNow = {1796630493, 123456789};
  std::optional<WineStringEdit> edit = SetWineString(file, path, name, text, kNow);
  if (!edit || !named) return;
  if (Shown(edit->old_value) != found) abort();
  const TextSplices* splices = &edit->splices;
  for (size_t i = 1; i < splices->size(); ++i)
    if ((*splices)[i - 1].end > (*splices)[i].begin) abort();
  std::string edited = Spliced(file, *splices);
  std::string expected = "1:" + std::string(text) + '\0';
  WineKey edited_key = FindWineKey(edited, path);
  if (!edited_key.exists || Shown(FindWineValue(edited, edited_key, name)) != expected) abort();
  values[KeyOf(path, units)] = expected;
  if (AllValues(edited) != values) abort();
  std::optional<WineStringEdit> again = SetWineString(edited, path, name, text, kNow);
  if (!again || !again->splices.empty()) abort();
}
