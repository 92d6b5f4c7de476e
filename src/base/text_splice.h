// A change to a large text described by the pieces that replace some of its
// byte ranges, so that the changed text can be written out without first
// being built as a second whole copy.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
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

// `text` with `splices` made: the whole changed text, where it is small
// enough to hold twice.
inline std::string Spliced(std::string_view text, const TextSplices& splices) {
  std::string out;
  size_t done = 0;
  for (const TextSplice& splice : splices) {
    out.append(text.substr(done, splice.begin - done)).append(splice.text);
    done = splice.end;
  }
  return out.append(text.substr(done));
}

}  // namespace tandor
