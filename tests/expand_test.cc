#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "modes/exit_status.h"
#include "modes/modes.h"
#include "registry/registry_path.h"

namespace tandor {
namespace {

using namespace std::string_literals;

constexpr std::string_view kPromptError = "\n\n\n !!! Error in prompt string!!! \n\n\n";
constexpr std::string_view kNoKeyError = "\n\n\n !!! Error: No Registry key specified !!! \n\n\n";
constexpr std::string_view kKeyQuoteError =
    "\n\n\n !!! Error in specifying Registry key !!! \n\n\n";

// The output and status of expanding `control` in `directory` with `typed`
// on standard input, one byte per read so that lines are assembled across
// reads.
std::pair<std::string, int> Expand(std::string_view control, const std::string& typed,
                                   const std::string& directory) {
  FakeConsole console({}, FakeInput::Chunked(typed, 1));
  console.directory = directory;
  FakeRegistry registry;
  registry.Put(kLocalMachine, "Software\\Abc", "Version", {kRegSz, "1.5\0"s});
  registry.Put(kLocalMachine, "Software\\Abc", "Tags", {kRegSz, "^d^i\0"s});
  int status = ExpandControlString(control, console, registry);
  EXPECT_EQ(registry.open_keys, 0) << control;
  return {console.output.text, status};
}

TEST(ExpandTest, TagsExpandAndNothingInsertedIsScannedAgain) {
  const struct {
    std::string control, typed, output;
    int status;
    std::string directory = "C:\\dir1\\dir2";
  } kCases[] = {
      {"plain, no newline", "", "plain, no newline", kStatusSuccess},
      {"set dir=^p^nSET drive=^d^n", "", "set dir=\\dir1\\dir2\nSET drive=C:\n", kStatusSuccess},
      {"^D^P^N^I", "x\n", "> C:\\dir1\\dir2\nx", kStatusSuccess},
      // Drive and path as the current directory gives them.
      {"^d|^p", "", "C:|\\", kStatusSuccess, "C:\\"},
      {"^d|^p", "", "d:|\\a b\\c", kStatusSuccess, "d:\\a b\\c"},
      {"^d|^p", "", "|", kStatusSuccess, ""},
      {"^d|^p", "", "X:|", kStatusSuccess, "X"},
      {"a^xb a^^b a^", "", "ab ab a", kStatusSuccess},
      {"^iX", "John", "> JohnX", kStatusSuccess},
      {"^i'Enter  name:'", "John\n", "Enter  name:John", kStatusSuccess},
      {"^i''[^i'']", "a\nb\n", "a[b]", kStatusSuccess},
      {"^i'a^db'", "v\n", "a^dbv", kStatusSuccess},
      {"^i", "^d^p\n", "> ^d^p", kStatusSuccess},
      {"^i|^i|^i", "cr\r\n\nnul\0kept"s, "> > > cr\r||nul\0kept"s, kStatusSuccess},
      {"^i", std::string(100000, 'y') + "\n", "> "s.append(100000, 'y'), kStatusSuccess},
      {"first=^i second=^i", "only\n", "> > ", kStatusNotDone},
      {"^i'Name", "x\n", std::string(kPromptError), kStatusNotDone},
      {"ok ^i then ^i'bad", "x\n", "> "s.append(kPromptError), kStatusNotDone},
      {"v=^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\Version'", "", "v=1.5", kStatusSuccess},
      {"[^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\Tags']", "", "[^d^i]", kStatusSuccess},
      {"[^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\Missing'][^r'']", "", "[][]", kStatusSuccess},
      {"x^rabc", "", std::string(kNoKeyError), kStatusNotDone},
      {"x^r", "", std::string(kNoKeyError), kStatusNotDone},
      {"x^R'abc", "", std::string(kKeyQuoteError), kStatusNotDone},
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
  for (std::string control : {"text", "^i'P: '"}) {
    FakeConsole console({}, FakeInput({"x\n"}), FakeOutput(/*fails=*/true));
    EXPECT_EQ(ExpandControlString(control, console, registry), kStatusNotDone) << control;
  }
}

}  // namespace
}  // namespace tandor
