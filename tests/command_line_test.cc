// Splitting a Windows command line, rule by rule; tests/fuzz/command_line_fuzz.cc
// holds the splitter against a second formulation of the rules.
#include "console/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandor {
namespace {

TEST(CommandLineTest, SplitsByEveryRule) {
  const struct {
    const char* line;
    const char* program_name;
    std::vector<std::string> arguments;
  } kCases[] = {
      // Runs of spaces and tabs separate; nothing else splits.
      {"t \ta \t  b\t", "t", {"a", "b"}},
      // Quotes switch quoting and go; a pair alone is an empty argument.
      {"t \"a \t b\" c a\"b c\"d", "t", {"a \t b", "c", "ab cd"}},
      {"t \"unterminated  text", "t", {"unterminated  text"}},
      {"t \"\" a\"\"b \"", "t", {"", "ab", ""}},
      // Two quotes inside quotes give one quote and end the quoted part.
      {"t \"a\"\"b c\"", "t", {"a\"b", "c"}},
      {"t \"a\"\"\"b c\"", "t", {"a\"b c"}},
      // Backslashes: halved before a quote, which an odd count escapes.
      {"t C:\\dir\\ \\\\server\\share a\\\\", "t", {"C:\\dir\\", "\\\\server\\share", "a\\\\"}},
      {"t \\\"a \\\\\"a b\" \\\\\\\"a b", "t", {"\"a", "\\a b", "\\\"a", "b"}},
      {"t \"C:\\dir\\\\\" \"C:\\dir\\\" x", "t", {"C:\\dir\\", "C:\\dir\" x"}},
      // The program name ends at the first blank outside quotes; its quotes
      // go and its backslashes are literal, even before a quote.
      {"\"C:\\Program Files\\t.exe\" x", "C:\\Program Files\\t.exe", {"x"}},
      {"\"C:\\dir\\\" \"x y\"", "C:\\dir\\", {"x y"}},
      {" x", "", {"x"}},
      {"", "", {}},
  };
  for (const auto& c : kCases) {
    CommandLine split = SplitCommandLine(c.line);
    EXPECT_EQ(split.program_name, c.program_name) << c.line;
    EXPECT_EQ(split.arguments, c.arguments) << c.line;
  }
}

}  // namespace
}  // namespace tandor
