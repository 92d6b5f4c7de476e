#include "modes/filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fakes.h"
#include "filter_model.h"
#include "modes/exit_status.h"
#include "modes/modes.h"
#include "modes/replace_all.h"

namespace tandor {
namespace {

using namespace std::string_literals;

struct FilterRun {
  std::string output;
  int status;
};

FilterRun Filter(const std::string& input, std::string_view search, std::string_view replace,
                 size_t read_chunk, size_t block_size) {
  FakeInput in = FakeInput::Chunked(input, read_chunk);
  FakeOutput out;
  int status = FilterStreamInBlocks(search, replace, in, out, block_size);
  return {out.text, status};
}

struct FilterCase {
  std::string input, search, replace, output;
  int status;
};

// Each case runs with reads and blocks from 1 byte up, so that occurrences
// and line ends fall on every kind of boundary; a one-line input is also
// ReplaceAll's, as the rewrite applies it.
TEST(FilterTest, LinesOutAsInWithEveryOccurrenceReplaced) {
  const FilterCase cases[] = {
      {"pass XX\n", "pass XX", "pass 1.1", "pass 1.1\n", kStatusSuccess},
      {"a X b X c", "X", "Y", "a Y b Y c\n", kStatusSuccess},
      {"aaaa\naaa\n", "aa", "b", "bb\nba\n", kStatusSuccess},
      {"aa", "a", "aa", "aaaa\n", kStatusSuccess},  // the replacement is not searched again
      {"abab", "ab", "", "\n", kStatusSuccess},
      {"100%s %d", "%s", "%n", "100%n %d\n", kStatusSuccess},
      {"abababc", "ababc", "X", "abX\n", kStatusSuccess},
      {"ppass XX pass X", "pass XX", "-", "p- pass X\n", kStatusSuccess},
      {"abc", "c", "XYZ", "abXYZ\n", kStatusSuccess},
      {"a-b\n", "-", "\n", "a\nb\n", kStatusSuccess},
      {"xx\n\nx", "x", "", "\n\n\n", kStatusSuccess},
      {"Pass XX\n", "pass XX", "y", "Pass XX\n", kStatusNotDone},
      {"\n\n", "a", "b", "\n\n", kStatusNotDone},
      {"", "a", "b", "", kStatusNotDone},
      {"abc", "", "y", "abc\n", kStatusNotDone},
      {"a\0b\0"s, "\0"s, "-", "a-b-\n", kStatusSuccess},
      {"ab\ncd", "b\nc", "y", "ab\ncd\n", kStatusNotDone},  // a line end is never matched
      {"a\nb", "\n", "y", "a\nb\n", kStatusNotDone},
      {"x\0y\r\n%s\x1a\r"s, "\0y\r"s, "%d", "x%d\n%s\x1a\r\n", kStatusSuccess},
  };
  for (const FilterCase& c : cases) {
    for (size_t chunk : {1, 2, 3, 4096}) {
      for (size_t block : {1, 2, 5, 4096}) {
        FilterRun run = Filter(c.input, c.search, c.replace, chunk, block);
        EXPECT_EQ(run.output, c.output) << c.input << " chunk " << chunk << " block " << block;
        EXPECT_EQ(run.status, c.status) << c.input << " chunk " << chunk << " block " << block;
      }
    }
    if (c.input.find('\n') != std::string::npos) continue;
    bool found = c.status != kStatusSuccess;
    EXPECT_EQ(ReplaceAll(c.input, c.search, c.replace, &found) + (c.input.empty() ? "" : "\n"),
              c.output);
    EXPECT_EQ(found, c.status == kStatusSuccess) << c.input;
  }
}

// Random texts over few bytes, rich in line ends, CRs, NULs and prefixes of
// the search text, against the line-by-line model.
TEST(FilterTest, AgreesWithLineByLineModel) {
  std::mt19937 random(20240607);
  auto pick = [&random](size_t bound) {
    return std::uniform_int_distribution<size_t>(0, bound)(random);
  };
  const std::string alphabet = "ab\n\r\0"s;
  auto random_text = [&](size_t max_length) {
    std::string text(pick(max_length), ' ');
    for (char& c : text) c = alphabet[pick(alphabet.size() - 1)];
    return text;
  };
  for (int i = 0; i < 3000; ++i) {
    std::string search = random_text(5);
    // Half the time long, with a prefix that repeats: checked by Two-Way, and
    // carried whole across blocks shorter than it.
    bool long_search = pick(1) && !search.empty() && search.find('\n') == std::string::npos;
    while (long_search && search.size() <= OccurrenceFinder::kShortSearch + pick(40)) {
      search += search.substr(0, 1 + pick(search.size() - 1));
    }
    std::string replace = random_text(4);
    std::string input;
    while (input.size() < pick(400)) {
      input += pick(2) == 0 ? search.substr(0, pick(search.size())) : random_text(6);
    }
    bool found;
    std::string expected = ModelFilter(input, search, replace, &found);
    FilterRun run = Filter(input, search, replace, 1 + pick(50), 1 + pick(40));
    ASSERT_EQ(run.output, expected) << "case " << i;
    ASSERT_EQ(run.status, found ? kStatusSuccess : kStatusNotDone) << "case " << i;
  }
}

// The production block size, with occurrences straddling its block ends and
// one line far longer than a block.
TEST(FilterTest, LongLinesAcrossProductionBlocks) {
  std::string input;
  while (input.size() < 300 * 1024) input += "ab pass XX pass X";
  for (int i = 0; input.size() < 3 * 256 * 1024; ++i)
    input += i % 97 == 0 ? "\n" : "ab pass XX pass X";
  bool found;
  std::string expected = ModelFilter(input, "pass XX", "pass 1.1", &found);
  for (size_t chunk : {1000, 100 * 1000, 1000 * 1000}) {
    FakeInput in = FakeInput::Chunked(input, chunk);
    FakeOutput out;
    EXPECT_EQ(FilterStream("pass XX", "pass 1.1", in, out), kStatusSuccess);
    EXPECT_TRUE(out.text == expected) << "chunk " << chunk;
  }
}

// Lines typed at a console come one per read: each must go out before the
// tool waits for the next.
TEST(FilterTest, EachLineGoesOutBeforeTheNextIsRead) {
  EventLog log;
  FakeInput in({"pass XX\n", "a pass XX b\n", "pass"}, false, &log);
  FakeOutput out(-1, &log);
  EXPECT_EQ(FilterStream("pass XX", "y", in, out), kStatusSuccess);
  const std::vector<std::string> kSeen = {"", "y\n", "y\na y b\n", "y\na y b\n"};
  EXPECT_EQ(AtEachRead(log), kSeen);
  EXPECT_EQ(out.text, "y\na y b\npass\n");
}

// A failed read is not the end of the input: the output is then cut short,
// and a script must not take it for the whole file.
TEST(FilterTest, FailedReadOrWriteEndsWithStatusOne) {
  for (bool read_fails : {true, false}) {
    FakeInput in({"pass XX\n"}, /*fail_at_end=*/read_fails);
    FakeOutput out(read_fails ? -1 : 0);
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
