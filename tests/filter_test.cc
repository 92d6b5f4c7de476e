#include "modes/filter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fakes.h"
#include "modes/exit_status.h"
#include "modes/modes.h"
#include "modes/replace_all.h"

namespace tandor {
namespace {

using namespace std::string_literals;

// The output, then the status as a digit, of filtering `input` given in
// reads of `chunk` bytes, a block of `block` bytes at a time.
std::string Filter(const std::string& input, std::string_view search, std::string_view replace,
                   size_t chunk, size_t block) {
  FakeInput in = FakeInput::Chunked(input, chunk);
  FakeOutput out;
  int status = FilterStreamInBlocks(search, replace, in, out, block);
  return out.text + std::to_string(status);
}

// Each case runs with reads and blocks from 1 byte up, so that occurrences
// and line ends fall on every kind of boundary; a one-line input is also
// ReplaceAll's, as the rewrite applies it.
TEST(FilterTest, LinesOutAsInWithEveryOccurrenceReplaced) {
  const struct {
    std::string input, search, replace, output;  // the output ends with the status
  } kCases[] = {
      {"pass XX\n", "pass XX", "pass 1.1", "pass 1.1\n0"},
      {"a X b X c", "X", "Y", "a Y b Y c\n0"},
      {"aaaa\naaa\n", "aa", "b", "bb\nba\n0"},
      {"aa", "a", "aa", "aaaa\n0"},  // the replacement is not searched again
      {"abab", "ab", "", "\n0"},
      {"100%s %d", "%s", "%n", "100%n %d\n0"},
      {"abababc", "ababc", "X", "abX\n0"},
      {"ppass XX pass X", "pass XX", "-", "p- pass X\n0"},
      {"abc", "c", "XYZ", "abXYZ\n0"},
      {"a-b\n", "-", "\n", "a\nb\n0"},
      {"xx\n\nx", "x", "", "\n\n\n0"},
      {"Pass XX\n", "pass XX", "y", "Pass XX\n1"},
      {"\n\n", "a", "b", "\n\n1"},
      {"", "a", "b", "1"},
      {"abc", "", "y", "abc\n1"},
      {"a\0b\0"s, "\0"s, "-", "a-b-\n0"},
      {"ab\ncd", "b\nc", "y", "ab\ncd\n1"},  // a line end is never matched
      {"a\nb", "\n", "y", "a\nb\n1"},
      {"x\0y\r\n%s\x1a\r"s, "\0y\r"s, "%d", "x%d\n%s\x1a\r\n0"},
  };
  for (const auto& c : kCases) {
    for (size_t chunk : {1, 2, 3, 4096}) {
      for (size_t block : {1, 2, 5, 4096}) {
        EXPECT_EQ(Filter(c.input, c.search, c.replace, chunk, block), c.output)
            << c.input << " chunk " << chunk << " block " << block;
      }
    }
    if (c.input.find('\n') != std::string::npos) continue;
    bool found = c.output.back() == '1';  // the opposite: it must be set either way
    std::string line = ReplaceAll(c.input, c.search, c.replace, &found);
    EXPECT_EQ(line + (c.input.empty() ? "" : "\n") + (found ? "0" : "1"), c.output);
  }
}

// The production block size, with occurrences straddling its block ends and
// one line far longer than a block.
TEST(FilterTest, LongLinesAcrossProductionBlocks) {
  std::string input, expected;
  for (int i = 0; input.size() < 3 * 256 * 1024; ++i) {
    bool line_end = i % 97 == 0 && i > 20000;
    input += line_end ? "\n" : "ab pass XX pass X";
    expected += line_end ? "\n" : "ab pass 1.1 pass X";
  }
  for (size_t chunk : {1000, 100 * 1000, 1000 * 1000}) {
    FakeInput in = FakeInput::Chunked(input, chunk);
    FakeOutput out;
    EXPECT_EQ(FilterStream("pass XX", "pass 1.1", in, out), kStatusSuccess);
    EXPECT_TRUE(out.text == expected + "\n") << "chunk " << chunk;
  }
}

// Lines typed at a console come one per read: each must go out before the
// tool waits for the next. A failed read is not the end of the input: the
// output is then cut short, and a script must not take it for the whole file.
TEST(FilterTest, EachLineGoesOutBeforeTheNextReadAndFailuresEndWithStatusOne) {
  FakeInput in({"pass XX\n", "a pass XX b\n", "pass"});
  FakeOutput out;
  in.shown = &out;
  EXPECT_EQ(FilterStream("pass XX", "y", in, out), kStatusSuccess);
  EXPECT_EQ(in.seen, (std::vector<std::string>{"", "y\n", "y\na y b\n", "y\na y b\n"}));
  EXPECT_EQ(out.text, "y\na y b\npass\n");
  for (bool read_fails : {true, false}) {
    FakeInput in({"pass XX\n"}, /*fail_at_end=*/read_fails);
    FakeOutput out(/*fails=*/!read_fails);
    EXPECT_EQ(FilterStream("pass XX", "y", in, out), kStatusNotDone) << read_fails;
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

    std::vector<size_t> expected, starts(1 + pick(3)), all;
    for (size_t at = text.find(search, from); at != std::string::npos;
         at = text.find(search, at + search.size())) {
      expected.push_back(at);
    }
    OccurrenceFinder finder(search);
    for (size_t count = starts.size(); count == starts.size();) {
      count = finder.FindOccurrences(text, &from, starts.data(), starts.size());
      all.insert(all.end(), starts.begin(), starts.begin() + count);
    }
    ASSERT_EQ(all, expected) << text << " / " << search;
  }
}

}  // namespace
}  // namespace tandor
