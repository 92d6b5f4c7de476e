// Registry value types as the registry reports them (the REG_* numbers).
#pragma once

#include <cstdint>

namespace tandor {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegLink = 6;
constexpr uint32_t kRegMultiSz = 7;

}  // namespace tandor
