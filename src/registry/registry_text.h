// Reading and writing one registry string value named by a registry path.
// Neither operation prints anything; the modes turn results into messages.
#pragma once

#include <string>
#include <string_view>

#include "registry/registry_service.h"

namespace tandor {

// Values this size or larger (terminating zero counted) are not read.
constexpr uint32_t kMaxRegistryValueSize = 1024;

// The text of the REG_SZ value named by `path`, up to its first zero byte;
// the empty text when the value cannot be given for any reason: unknown
// root, missing key or value, another type, 1,024 bytes or more, a path
// longer than 1,023 characters, memory exhausted.
std::string ReadRegistryText(RegistryService& registry, std::string_view path);

// Stores `text` as the REG_SZ value named by `path` in an existing key.
// Gives 0 on success, 1 on failure (memory exhausted included; nothing is
// then changed).
int WriteRegistryText(RegistryService& registry, std::string_view path, std::string_view text);

}  // namespace tandor
