// libFuzzer target: finding a key and a value in a Wine registry file. The
// input is a sub-key, a zero byte, a value name, a zero byte, then the file.
// The names in upper case must find the same, a REG_SZ value must hold one
// zero byte, at its end, and a value of a key that exists must be what a
// plain walk over all the file's values reads.
#include "base/ascii.h"
#include "fuzz/registry_fuzz.h"

void FuzzOne(std::string_view data) {
  using namespace tandor;
  auto upper = [](std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = UpperAscii(c);
    return upper;
  };
  std::string_view file = data, fields[2];
  WineKeyPath path, upper_path;
  if (!TakeFields(&file, 2, fields) || !ParseWineKeyPath(fields[0], &path)) return;
  WineFileRootName(file);
  WineKey key = FindWineKey(file, path);
  std::string found = Shown(FindWineValue(file, key, fields[1]));
  if (found.starts_with("1:") && found.find('\0') != found.size() - 1) abort();
  if (!ParseWineKeyPath(upper(fields[0]), &upper_path)) abort();
  WineKey upper_key = FindWineKey(file, upper_path);
  if (upper_key.exists != key.exists ||
      Shown(FindWineValue(file, upper_key, upper(fields[1]))) != found)
    abort();
  std::u16string name;
  if (!key.exists || !DecodeUtf8(fields[1], Surrogates::kAccept, &name)) return;
  if (found != AllValues(file).try_emplace(KeyOf(path, name), "-").first->second) abort();
}
