#include "modes/replace_all.h"

#include <cstring>

namespace tandor {

size_t FindOccurrence(std::string_view text, std::string_view search, size_t from) {
  if (search.empty() || from > text.size()) return std::string_view::npos;
  return text.find(search, from);
}

std::string ReplaceAll(std::string_view text, std::string_view search,
                       std::string_view replace, bool* found) {
  std::string result;
  *found = ReplaceAll(text, search, replace,
                      [&result](std::string_view piece) { result += piece; });
  return result;
}

}  // namespace tandor
