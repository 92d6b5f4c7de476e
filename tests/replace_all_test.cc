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

// Texts and search texts built from a repeated unit of one to four of the
// letters a and b, with a letter or two changed: periodic, dense in near
// misses and in overlapping occurrences. Search texts from 1 to about 110
// bytes take both checks of a place, word compares up to
// OccurrenceFinder::kShortSearch and Two-Way beyond; each is checked against
// a plain search, for one occurrence and for all at once, a few at a time.
TEST(FindOccurrenceTest, AgreesWithPlainSearch) {
  std::mt19937 random(11);
  auto pick = [&random](size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound)(random);
  };
  auto periodic_text = [&](const std::string& unit, size_t length) {
    std::string text;
    while (text.size() < length) text += unit;
    text.resize(length);
    for (int changes = pick(2); changes > 0 && length > 0; --changes) text[pick(length - 1)] ^= 3;
    return text;
  };
  for (int i = 0; i < 20000; ++i) {
    std::string unit = periodic_text("ab", 1 + pick(3));
    for (char& c : unit) c = "ab"[pick(1)];
    std::string search = periodic_text(unit, 1 + pick(pick(3) ? 40 : 110));
    std::string text = periodic_text(pick(1) ? unit : "ab", pick(300));
    for (int copies = pick(3); copies > 0; --copies) text.insert(pick(text.size()), search);
    size_t from = pick(text.size() + 1);
    ASSERT_EQ(FindOccurrence(text, search, from), std::string_view(text).find(search, from))
        << text << " / " << search << " from " << from;

    std::vector<size_t> expected, starts(1 + pick(3));
    for (size_t at = text.find(search, from); at != std::string::npos;
         at = text.find(search, at + search.size())) {
      expected.push_back(at);
    }
    OccurrenceFinder finder(search);
    std::vector<size_t> all;
    for (size_t count = starts.size(); count == starts.size();) {
      count = finder.FindOccurrences(text, &from, starts.data(), starts.size());
      all.insert(all.end(), starts.begin(), starts.begin() + count);
    }
    ASSERT_EQ(all, expected) << text << " / " << search;
  }
}

}  // namespace
}  // namespace tandor
