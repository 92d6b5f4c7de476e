#include "modes/replace_all.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tandor
