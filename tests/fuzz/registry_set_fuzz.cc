// libFuzzer target: setting a string value in a Wine registry file. The
// input is a sub-key, a zero byte, a value name, a zero byte, the text, a
// zero byte, then the file. When the edit is made, the file it gives must
// load, read the value back exactly, read every other value as before, and
// need no change when the same text is set again.
#include "fuzz/registry_fuzz.h"

void FuzzOne(std::string_view data) {
  using namespace tandor;
  constexpr WineTime kNow = {1796630493, 123456789};
  std::string_view file = data, fields[3];
  WineKeyPath path;
  if (!TakeFields(&file, 3, fields) || !ParseWineKeyPath(fields[0], &path)) return;
  std::optional<TextSplices> splices = SetWineString(file, path, fields[1], fields[2], kNow);
  std::u16string name;
  if (!splices || !DecodeUtf8(fields[1], Surrogates::kAccept, &name)) return;
  for (size_t i = 1; i < splices->size(); ++i)
    if ((*splices)[i - 1].end > (*splices)[i].begin) abort();
  std::optional<std::string> edited = Spliced(file, *splices);
  std::string expected = "1:" + std::string(fields[2]) + '\0';
  WineKey key = FindWineKey(*edited, path);
  if (!key.exists || Shown(FindWineValue(*edited, key, fields[1])) != expected) abort();
  auto values = AllValues(file);
  values[KeyOf(path, name)] = expected;
  if (AllValues(*edited) != values) abort();
  std::optional<TextSplices> again = SetWineString(*edited, path, fields[1], fields[2], kNow);
  if (!again || !again->empty()) abort();
}
