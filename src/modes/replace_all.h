// The replacement rule shared by the filter and the registry rewrite:
// leftmost occurrences, left to right, never overlapping, the replacement
// never searched again.
#pragma once

#include <string>
#include <string_view>

namespace tandor {

// `text` with every occurrence of `search` replaced; `*found` tells whether
// anything was.
std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replace,
                       bool* found);

}  // namespace tandor
