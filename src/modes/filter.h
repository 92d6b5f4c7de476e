// The filter loop with its block size open, so that tests can make
// occurrences straddle the ends of blocks with small inputs.
#pragma once

#include <cstddef>
#include <string_view>

#include "console/console.h"

namespace tandor {

// FilterStream (modes.h) reading `input` in blocks of at most `block_size`
// bytes besides the few carried from one block to the next; `block_size`
// must be at least 1. Gives the same status and output for any block size.
int FilterStreamInBlocks(std::string_view search_string, std::string_view replace_string,
                         InputStream& input, OutputStream& output, size_t block_size);

}  // namespace tandor
