// The three modes and the dispatch that picks one, on the console and
// registry fakes.
#include "modes/modes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "fakes.h"
#include "modes/exit_status.h"
#include "modes/filter.h"
#include "modes/replace_all.h"
#include "search/occurrence_finder.h"

namespace tandor {
namespace {

using namespace std::string_literals;

constexpr std::string_view kOk = "\n\nSuccessfully modified registry key.\n\n";
constexpr std::string_view kFailed = "\n\nERROR: Failed Registry write.\n\n";

// Each mode's output is flushed whole by its end, the usage screen included.
TEST(DispatchTest, TheShapeOfTheCommandLineChoosesTheMode) {
  // The usage screen byte for byte, shared with the black-box table.
  const std::string usage = TestFile("usage_screen.out");
  const struct {
    std::vector<std::string> arguments;
    std::string_view output;
    int status;
  } kCases[] = {
      {{"/r", "a", "b"}, usage, kStatusNotDone},
      {{"-r", "a", "b", "c"}, usage, kStatusNotDone},
      // A first argument that starts with -r or -w, in either case, picks the mode.
      {{"-R", "a", "b"}, "b\n", kStatusSuccess},
      {{"-wany", "HKEY_LOCAL_MACHINE\\V", "x", "y"},
       "\nERROR: Registry key not found: HKEY_LOCAL_MACHINE\\V\n\n",
       kStatusValueNotFound},
  };
  for (const auto& c : kCases) {
    FakeConsole console(c.arguments, FakeInput({"a\n"}));
    FakeRegistry registry;
    EXPECT_EQ(Dispatch(console, registry), c.status) << testing::PrintToString(c.arguments);
    EXPECT_EQ(console.output.flushed, c.output) << testing::PrintToString(c.arguments);
  }
}

// The output and status of expanding `control` in `directory` with `typed`
// on standard input, one byte per read so that lines are assembled across
// reads.
std::pair<std::string, int> Expand(std::string_view control, const std::string& typed,
                                   const std::string& directory) {
  FakeConsole console({}, FakeInput({typed}, false, /*chunk=*/1));
  console.directory = directory;
  FakeRegistry registry;
  registry.values["Tags"] = "^d^i\0"s;
  return {console.output.text, ExpandControlString(control, console, registry)};
}

TEST(ExpandTest, TagsExpandAndNothingInsertedIsScannedAgain) {
  const struct {
    std::string control, typed, output;
    int status;
    std::string directory = "C:\\dir1\\dir2";
  } kCases[] = {
      // Drive and path as the current directory gives them, at a drive's root
      // too (a folder below one: the black-box table); tags in either case.
      {"^D|^p", "", "d:|\\", kStatusSuccess, "d:\\"},
      {"^d|^p", "", "|", kStatusSuccess, ""},
      {"a^xb a^^b a^", "", "ab ab a", kStatusSuccess},
      {"^i", "^d^p\n", "> ^d^p", kStatusSuccess},
      {"^i|^i|^i", "cr\r\n\nnul\0kept"s, "> > > cr\r||nul\0kept"s, kStatusSuccess},
      {"[^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\Tags']", "", "[^d^i]", kStatusSuccess},
      {"x^r", "", "\n\n\n !!! Error: No Registry key specified !!! \n\n\n", kStatusNotDone},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Expand(c.control, c.typed, c.directory), std::pair(c.output, c.status))
        << c.control << " in " << c.directory;
  }
}

// A prompt must be on the screen before the tool waits for the answer; the
// expansion itself goes out at the end, after every prompt. A failed write
// must not end in success: a script would take a cut file for a whole one.
TEST(ExpandTest, PromptsAreFlushedBeforeEachReadAndFailedOutputEndsWithStatusOne) {
  FakeConsole console({}, FakeInput({"A\n", "B"}));
  FakeRegistry registry;
  EXPECT_EQ(ExpandControlString("^i'Name: '^i'Next: '", console, registry), kStatusSuccess);
  EXPECT_EQ(console.input.seen,
            (std::vector<std::string>{"Name: ", "Name: Next: ", "Name: Next: "}));
  EXPECT_EQ(console.output.flushed, "Name: Next: AB");
  FakeConsole full_disk({}, FakeInput(), FakeOutput(/*fails=*/true));
  EXPECT_EQ(ExpandControlString("text", full_disk, registry), kStatusNotDone);
}

// The output and status of filtering `input` given in reads of `chunk`
// bytes, a block of `block` bytes at a time.
std::pair<std::string, int> Filter(const std::string& input, std::string_view search,
                                   std::string_view replace, size_t chunk, size_t block) {
  FakeInput in({input}, false, chunk);
  FakeOutput out;
  int status = FilterStreamInBlocks(search, replace, in, out, block);
  return {out.text, status};
}

// Each case runs with reads and blocks from 1 byte up, so that occurrences
// and line ends fall on every kind of boundary; a one-line input is also
// ReplaceAll's, as the rewrite applies it.
TEST(FilterTest, LinesOutAsInWithEveryOccurrenceReplaced) {
  const struct {
    std::string input, search, replace, output;
    int status;
  } kCases[] = {
      // Occurrences do not overlap: the search goes on after each.
      {"aaaaa", "aa", "b", "bba\n", kStatusSuccess},
      {"aa", "a", "aa", "aaaa\n", kStatusSuccess},  // the replacement is not searched again
      // More occurrences in one block than the filter gathers in one pass.
      {std::string(5000, 'a'), "a", "b", std::string(5000, 'b') + "\n", kStatusSuccess},
      {"abc", "", "y", "abc\n", kStatusNotDone},            // an empty search text is never found
      {"ab\ncd", "b\nc", "y", "ab\ncd\n", kStatusNotDone},  // a line end is never matched
      // Every byte but the line end is ordinary: NUL, a CR, 0x1A, a format.
      {"x\0y\r\n%s\x1a\r"s, "\0y\r"s, "%d", "x%d\n%s\x1a\r\n", kStatusSuccess},
  };
  for (const auto& c : kCases) {
    for (size_t chunk : {1, 2, 3, 8192}) {
      for (size_t block : {1, 2, 5, 8192}) {
        EXPECT_EQ(Filter(c.input, c.search, c.replace, chunk, block), std::pair(c.output, c.status))
            << c.input << " chunk " << chunk << " block " << block;
      }
    }
    if (c.input.find('\n') != std::string::npos) continue;
    // The filter ends the last line with a line end; ReplaceAll adds none.
    const std::string line = c.output.substr(0, c.output.size() - 1);
    // `found` tells this call's outcome, whatever it held before.
    for (bool found_before : {false, true}) {
      bool found = found_before;
      EXPECT_EQ(ReplaceAll(c.input, c.search, c.replace, &found), line) << c.input;
      EXPECT_EQ(found, c.status == kStatusSuccess) << c.input << " found before " << found_before;
    }
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
// bytes, periodic and not, each checked against a plain search, a few
// occurrences at a time.
TEST(OccurrenceFinderTest, AgreesWithPlainSearch) {
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

// The path is printed as given, never used as a format.
const std::string kPath = "HKEY_LOCAL_MACHINE\\Software\\Abc\\%s%n";
const std::string kMissing = "\nERROR: Registry key not found: " + kPath + "\n\n";

// What happens to the value between the rewrite's read and its write.
enum class Meanwhile { kNothing, kAnotherProcessChangesIt };

TEST(RewriteTest, ReplacesEveryOccurrenceAndReportsTheOutcome) {
  const struct {
    std::string value, search, replace;  // the value as stored: its zero included
    Meanwhile meanwhile;
    std::string_view output;
    int status;
    std::string value_after;
  } kCases[] = {
      {"a X b X c\0"s, "X", "Y", Meanwhile::kNothing, kOk, kStatusSuccess, "a Y b Y c\0"s},
      // The other change is kept, not overwritten with text made from the old.
      {"abc\0"s, "b", "y", Meanwhile::kAnotherProcessChangesIt, kFailed, kStatusWriteFailed,
       "new\0"s},
      // A value that reads as empty is not found: this empty one as a missing one.
      {"\0"s, "b", "y", Meanwhile::kNothing, kMissing, kStatusValueNotFound, "\0"s},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry;
    registry.values["%s%n"] = c.value;
    if (c.meanwhile == Meanwhile::kAnotherProcessChangesIt) registry.changed_to = "new\0"s;
    FakeOutput output;
    EXPECT_EQ(RewriteRegistryValue(kPath, c.search, c.replace, output, registry), c.status)
        << c.value << " " << c.search;
    EXPECT_EQ(output.text, c.output) << c.value << " " << c.search;
    EXPECT_EQ(registry.values.at("%s%n"), c.value_after) << c.search;
  }
}

}  // namespace
}  // namespace tandor
