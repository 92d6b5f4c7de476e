// Finding the occurrences of a search text, the one search the filter and
// the registry rewrite share.
#pragma once

#include <cstddef>
#include <string_view>

namespace tandor {

// A search text made ready for finding its occurrences: leftmost first and
// never overlapping, each next one at or after the end of the one before. The
// time taken is linear in the text searched, whatever the search text: each
// place is checked by the Two-Way method (Crochemore and Perrin), which
// compares at most about twice as many bytes as the text has, where checking
// every place byte by byte would cost up to the text's length times the
// search text's.
class OccurrenceFinder {
 public:
  // `search` outlives the finder. An empty one has no occurrence.
  explicit OccurrenceFinder(std::string_view search);

  std::string_view search() const { return search_; }

  // Writes to `starts`, in order, the positions of the occurrences in `text`
  // that start at or after `*from`, until there are `capacity` of them (at
  // least 1) or no more; gives their count. When there are `capacity`, sets
  // `*from` to the end of the last one: a further call goes on from there.
  size_t FindOccurrences(std::string_view text, size_t* from, size_t* starts,
                         size_t capacity) const;

 private:
  std::string_view search_;
  // The Two-Way method's split of the search text into a left and a right
  // part (a critical factorization), and how far it moves on when the right
  // part matched: the period of the search text when the left part repeats
  // in it (`periodic_`), else further than either part.
  size_t split_ = 0;
  size_t shift_ = 0;
  bool periodic_ = false;
};

}  // namespace tandor
