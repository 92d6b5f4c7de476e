// A change to a large text described by the pieces that replace some of its
// byte ranges, so that the changed text can be written out without first
// being built as a second whole copy.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tandor {

// Bytes [begin, end) of the text become `text`.
struct TextSplice {
  size_t begin = 0;
  size_t end = 0;
  std::string text;
};

// In text order, none overlapping another.
using TextSplices = std::vector<TextSplice>;

}  // namespace tandor
