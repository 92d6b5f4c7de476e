// The filter's behaviour in its plainest form, for differential tests of the
// streaming filter: the input cut into lines, each line searched on its own
// by trying every position, the lines joined again by '\n'.
#pragma once

#include <string>
#include <string_view>

namespace tandor {

// What the filter writes for `input`; `*found` tells whether it replaced
// anything, i.e. whether its status is 0.
inline std::string ModelFilter(std::string_view input, std::string_view search,
                               std::string_view replace, bool* found) {
  *found = false;
  std::string output;
  for (size_t begin = 0; begin < input.size();) {
    size_t end = std::min(input.find('\n', begin), input.size());
    std::string_view line = input.substr(begin, end - begin);
    for (size_t at = 0; at < line.size();) {
      if (!search.empty() && line.substr(at, search.size()) == search) {
        *found = true;
        output += replace;
        at += search.size();
      } else {
        output += line[at++];
      }
    }
    output += '\n';
    begin = end + 1;
  }
  return output;
}

}  // namespace tandor
