#include "registry/registry_path.h"

namespace tandor {

RegistryPath SplitRegistryPath(std::string_view path) {
  RegistryPath parts;
  size_t last = path.rfind('\\');
  if (last != std::string_view::npos) {
    parts.value_name = path.substr(last + 1);
    path = path.substr(0, last);
  }
  size_t first = path.find('\\');
  parts.root_name = path.substr(0, first);
  if (first != std::string_view::npos) parts.sub_key = path.substr(first + 1);
  return parts;
}

std::optional<uint32_t> FindRootKey(std::string_view root_name) {
  for (const RootKey& row : RootKeyTable) {
    if (row.name == root_name) return row.predefined_key;
  }
  return std::nullopt;
}

}  // namespace tandor
