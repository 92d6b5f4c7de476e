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

// The text a read gives for a value of `type` holding `data`: a REG_SZ under
// kMaxRegistryValueSize, up to its first zero byte (or all of `data`); the
// empty text for any other value.
std::string_view StringValueText(uint32_t type, std::string_view data);

// The text of the value `value_name` of the opened `key`, by the rules of
// ReadRegistryText.
std::string QueryRegistryText(RegistryService& registry, RegistryKey key,
                              std::string_view value_name);

// Stores `text` as the REG_SZ value named by `path` in an existing key,
// provided the value still reads as `expected`, the text the caller read: a
// change that another process made since is never overwritten. Gives 0 on
// success, 1 on failure (memory exhausted included; nothing is then changed).
int WriteRegistryText(RegistryService& registry, std::string_view path, std::string_view expected,
                      std::string_view text);

}  // namespace tandor
