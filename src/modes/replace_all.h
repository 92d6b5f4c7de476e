// The replacement rule shared by the filter and the registry rewrite:
// leftmost occurrences, left to right, never overlapping, the replacement
// never searched again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tandor {

// Position of the leftmost occurrence of `search` in `text` at or after
// `from`, or npos. An empty `search` has no occurrence.
size_t FindOccurrence(std::string_view text, std::string_view search, size_t from);

// Every position in [from, to) where `search` occurs in `text`, overlapping
// ones included, written in order to `starts`; gives their count. For texts
// dense in occurrences: cheaper per occurrence than FindOccurrence. `search`
// is not empty, `to` is at most text.size() - search.size() + 1, and
// `starts` has room for to - from positions.
size_t FindOccurrences(std::string_view text, std::string_view search, size_t from, size_t to,
                       size_t* starts);

// Hands `emit` the pieces of `text` with every occurrence of `search`
// replaced: the text before each occurrence, then `replace`, and finally the
// remainder after the last occurrence. Gives true if anything was replaced.
template <typename Emit>
bool ReplaceAll(std::string_view text, std::string_view search, std::string_view replace,
                Emit&& emit) {
  size_t scan = 0;
  bool found = false;
  for (size_t hit; (hit = FindOccurrence(text, search, scan)) != std::string_view::npos;
       scan = hit + search.size()) {
    found = true;
    emit(text.substr(scan, hit - scan));
    emit(replace);
  }
  if (scan < text.size()) emit(text.substr(scan));
  return found;
}

// The whole new text; `*found` tells whether anything was replaced.
std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replace,
                       bool* found);

}  // namespace tandor
