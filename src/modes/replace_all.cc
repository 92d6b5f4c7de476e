#include "modes/replace_all.h"

#include "search/occurrence_finder.h"

namespace tandor {

std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replace,
                       bool* found) {
  const OccurrenceFinder finder(search);
  std::string result;
  size_t scan = 0;
  *found = false;
  for (size_t from = 0, hit; finder.FindOccurrences(text, &from, &hit, 1) == 1;
       scan = hit + search.size()) {
    *found = true;
    result.append(text.substr(scan, hit - scan)).append(replace);
  }
  return result.append(text.substr(scan));
}

}  // namespace tandor
