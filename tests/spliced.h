// The text a list of splices describes, built whole: what a test compares.
#pragma once

#include <string>
#include <string_view>

#include "base/text_splice.h"

namespace tandor {

// `text` with `splices` made.
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
