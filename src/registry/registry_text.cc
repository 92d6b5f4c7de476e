#include "registry/registry_text.h"

#include <new>

#include "registry/registry_path.h"

namespace tandor {

namespace {

bool OpenValueKey(RegistryService& registry, std::string_view path, RegistryAccess access,
                  RegistryKey* key, std::string* value_name) {
  if (path.size() > kMaxRegistryPathLength) return false;
  RegistryPath parts = SplitRegistryPath(path);
  std::optional<uint32_t> root = FindRootKey(parts.root_name);
  if (!root) return false;
  *value_name = std::move(parts.value_name);
  return registry.Open(*root, parts.sub_key, access, key);
}

std::string ReadText(RegistryService& registry, std::string_view path) {
  RegistryKey raw_key;
  std::string value_name;
  if (!OpenValueKey(registry, path, RegistryAccess::kRead, &raw_key, &value_name)) return {};
  OpenedKey key(registry, raw_key);
  return QueryRegistryText(registry, key.get(), value_name);
}

int WriteText(RegistryService& registry, std::string_view path, std::string_view expected,
              std::string_view text) {
  RegistryKey raw_key;
  std::string value_name;
  if (!OpenValueKey(registry, path, RegistryAccess::kWrite, &raw_key, &value_name)) return 1;
  OpenedKey key(registry, raw_key);
  return registry.SetString(key.get(), value_name, expected, text) ? 0 : 1;
}

}  // namespace

std::string_view StringValueText(uint32_t type, std::string_view data) {
  if (type != kRegSz || data.size() >= kMaxRegistryValueSize) return {};
  // Data stored without a terminating zero ends with the data.
  return data.substr(0, data.find('\0'));
}

std::string QueryRegistryText(RegistryService& registry, RegistryKey key,
                              std::string_view value_name) {
  uint32_t type = 0;
  uint32_t size = 0;
  if (!registry.Query(key, value_name, &type, nullptr, &size)) return {};
  if (size >= kMaxRegistryValueSize) return {};
  // The second query gets exactly the size the first reported, so a value
  // that grew in between fails rather than being cut.
  char data[kMaxRegistryValueSize];
  if (!registry.Query(key, value_name, &type, data, &size)) return {};
  return std::string(StringValueText(type, std::string_view(data, size)));
}

// A registry too large for the memory left fails like any other: the
// services keep their files whole on every way out.
std::string ReadRegistryText(RegistryService& registry, std::string_view path) {
  try {
    return ReadText(registry, path);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

int WriteRegistryText(RegistryService& registry, std::string_view path, std::string_view expected,
                      std::string_view text) {
  try {
    return WriteText(registry, path, expected, text);
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

}  // namespace tandor
