#include "modes/replace_all.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace tandor {
namespace {

struct ReplaceCase {
  std::string text, search, replace, expected;
  bool found;
};

TEST(ReplaceAllTest, LeftmostNonOverlappingNeverRescanned) {
  const ReplaceCase cases[] = {
      {"pass XX", "pass XX", "pass 1.1", "pass 1.1", true},
      {"a X b X c", "X", "Y", "a Y b Y c", true},
      {"aaaa", "aa", "b", "bb", true},
      {"aaa", "aa", "b", "ba", true},
      {"abc", "c", "XYZ", "abXYZ", true},
      {"Pass XX", "pass XX", "y", "Pass XX", false},
      {"aa", "a", "aa", "aaaa", true},  // the replacement is not searched again
      {"abab", "ab", "", "", true},
      {"", "x", "y", "", false},
      {"abc", "", "y", "abc", false},  // an empty search text has no occurrence
      {std::string("a\0b\0", 4), std::string("\0", 1), "-", "a-b-", true},
      {"100%s %d", "%s", "%n", "100%n %d", true},
  };
  for (const ReplaceCase& c : cases) {
    bool found = !c.found;
    EXPECT_EQ(ReplaceAll(c.text, c.search, c.replace, &found), c.expected) << c.text;
    EXPECT_EQ(found, c.found) << c.text;
  }
}

// Two-letter texts are dense in near misses; their lengths take the search
// through its 32-byte steps and its byte-wise end, from every start.
TEST(FindOccurrenceTest, AgreesWithPlainSearch) {
  std::mt19937 random(11);
  auto pick = [&random](size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound)(random);
  };
  auto random_text = [&](size_t length) {
    std::string text(length, 'a');
    for (char& c : text) c = "ab"[pick(1)];
    return text;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string search = random_text(1 + pick(pick(1) ? 4 : 40));
    std::string text = random_text(pick(200));
    if (pick(1)) text.insert(pick(text.size()), search);
    size_t from = pick(text.size() + 1);
    ASSERT_EQ(FindOccurrence(text, search, from), std::string_view(text).find(search, from))
        << text << " / " << search << " from " << from;

    std::vector<size_t> all;  // overlapping ones too
    for (size_t at = text.find(search); at != std::string::npos; at = text.find(search, at + 1)) {
      all.push_back(at);
    }
    size_t end = text.size() >= search.size() ? text.size() - search.size() + 1 : 0;
    std::vector<size_t> starts(end + 1);
    starts.resize(FindOccurrences(text, search, 0, end, starts.data()));
    ASSERT_EQ(starts, all) << text << " / " << search;
  }
}

}  // namespace
}  // namespace tandor
