// Registry paths: one text "root\sub\key\value" naming a registry value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tandor {

struct RegistryPath {
  std::string root_name;
  std::string sub_key;     // empty: the root key itself
  std::string value_name;  // empty: the key's default value
};

// Splits at the first and the last backslash: the root name before the
// first, the value name after the last, the sub-key between them. A path
// without a backslash is a root name alone.
RegistryPath SplitRegistryPath(std::string_view path);

// The longest path the tool accepts; longer ones name no value.
constexpr size_t kMaxRegistryPathLength = 1023;

struct RootKey {
  std::string_view name;
  uint32_t predefined_key;  // the platform's HKEY value
};

// The platform's values of the predefined keys.
constexpr uint32_t kClassesRoot = 0x80000000u;
constexpr uint32_t kCurrentUser = 0x80000001u;
constexpr uint32_t kLocalMachine = 0x80000002u;
constexpr uint32_t kUsers = 0x80000003u;

inline constexpr RootKey RootKeyTable[] = {
    {"HKEY_CLASSES_ROOT", kClassesRoot},
    {"HKEY_CURRENT_USER", kCurrentUser},
    {"HKEY_LOCAL_MACHINE", kLocalMachine},
    {"HKEY_USERS", kUsers},
};

// The predefined key of `root_name`, which must match a row byte for byte
// (case-sensitive, no short forms); nullopt otherwise.
std::optional<uint32_t> FindRootKey(std::string_view root_name);

}  // namespace tandor
