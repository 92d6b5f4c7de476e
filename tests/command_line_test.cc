#include "console/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandor {
namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLineTest, SplitsArgumentsByEveryRule) {
  const struct {
    const char* line;  // the text after "tandor "
    Arguments expected;
  } kCases[] = {
      // Separators: runs of spaces and tabs; nothing else splits or expands.
      {"", {}},
      {"   \t ", {}},
      {"\ta \t  b\t", {"a", "b"}},
      {"-r *.txt ?", {"-r", "*.txt", "?"}},
      {"^i'Enter  name:'", {"^i'Enter", "name:'"}},
      // Quotes switch quoting and go.
      {"\"a \t b\" c", {"a \t b", "c"}},
      {"a\"b c\"d e", {"ab cd", "e"}},
      {"\"unterminated  text", {"unterminated  text"}},
      {"\"", {""}},
      {"\"\"", {""}},
      {"\"\" \"\"", {"", ""}},
      {"a \"\" b", {"a", "", "b"}},
      {"a\"\"b", {"ab"}},
      // Two quotes inside quotes give one quote and end the quoted part.
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"a\"\"b c\"", {"a\"b", "c"}},
      {"\"\"\"", {"\""}},
      {"\"\"\"\"\"\"", {"\"\""}},
      {"\"a\"\"\"b c\"", {"a\"b c"}},
      {"a\"\"\"b", {"a\"b"}},
      // Backslashes: halved before a quote, which an odd count escapes.
      {"C:\\dir\\ \\\\server\\share", {"C:\\dir\\", "\\\\server\\share"}},
      {"a\\\\", {"a\\\\"}},
      {"\\", {"\\"}},
      {"\\\"a", {"\"a"}},
      {"\\\\\"a b\"", {"\\a b"}},
      {"\\\\\\\"a b", {"\\\"a", "b"}},
      {"\\\\\\\\\"a b\"", {"\\\\a b"}},
      {"\"a \\\" b\"", {"a \" b"}},
      {"\"C:\\dir\\\\\"", {"C:\\dir\\"}},
      {"\"C:\\dir\\\"", {"C:\\dir\""}},
      {"\"a\\\\\"\"b\"", {"a\\\"b"}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SplitCommandLine(std::string("tandor ") + c.line).arguments, c.expected)
        << "tandor " << c.line;
  }
}

TEST(CommandLineTest, ProgramNameEndsAtFirstBlankOutsideQuotes) {
  const struct {
    const char* line;
    const char* program_name;
    Arguments arguments;
  } kCases[] = {
      {"", "", {}},
      {"tandor.exe", "tandor.exe", {}},
      {"tandor\t-r a b", "tandor", {"-r", "a", "b"}},
      {"\"C:\\Program Files\\tandor.exe\" x", "C:\\Program Files\\tandor.exe", {"x"}},
      {"C:\\a\" b\"\\t.exe x", "C:\\a b\\t.exe", {"x"}},
      // Backslashes are literal in the name, even before a quote.
      {"\"C:\\dir\\\" \"x y\"", "C:\\dir\\", {"x y"}},
      {"C:\\x\\\"y z\" w", "C:\\x\\y z", {"w"}},
      // Doubled quotes in the name just switch quoting twice.
      {"\"\"t.exe a", "t.exe", {"a"}},
      {"\"t a.exe", "t a.exe", {}},
      {" x", "", {"x"}},
  };
  for (const auto& c : kCases) {
    CommandLine split = SplitCommandLine(c.line);
    EXPECT_EQ(split.program_name, c.program_name) << c.line;
    EXPECT_EQ(split.arguments, c.arguments) << c.line;
  }
}

}  // namespace
}  // namespace tandor
