#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandor {
namespace {

using Arguments = std::vector<std::string>;

struct ArgumentCase {
  const char* line;  // the text after "tandor "
  Arguments expected;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << "tandor " << c.line; }

class ArgumentSplitTest : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentSplitTest, GivesExactlyTheseArguments) {
  const ArgumentCase& c = GetParam();
  EXPECT_EQ(SplitCommandLine(std::string("tandor ") + c.line).arguments, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Separators, ArgumentSplitTest, testing::Values(
    ArgumentCase{"", {}},
    ArgumentCase{"   \t ", {}},
    ArgumentCase{"a b", {"a", "b"}},
    ArgumentCase{"a \t  b\t", {"a", "b"}},
    ArgumentCase{"\ta\tb", {"a", "b"}},
    ArgumentCase{"-r *.txt ?", {"-r", "*.txt", "?"}},
    ArgumentCase{"^i'Enter  name:'", {"^i'Enter", "name:'"}},
    ArgumentCase{"'a b'", {"'a", "b'"}}));

INSTANTIATE_TEST_SUITE_P(Quotes, ArgumentSplitTest, testing::Values(
    ArgumentCase{"\"a b\"", {"a b"}},
    ArgumentCase{"\"a \t b\" c", {"a \t b", "c"}},
    ArgumentCase{"a\"b c\"d e", {"ab cd", "e"}},
    ArgumentCase{"\"^i'Enter  name:'\"", {"^i'Enter  name:'"}},
    ArgumentCase{"\"unterminated  text", {"unterminated  text"}},
    ArgumentCase{"a\"", {"a"}},
    ArgumentCase{"\"\"", {""}},
    ArgumentCase{"\"\" \"\"", {"", ""}},
    ArgumentCase{"a \"\" b", {"a", "", "b"}},
    ArgumentCase{"\"\"\t", {""}},
    ArgumentCase{"a\"\"b", {"ab"}},
    ArgumentCase{"\"", {""}}));

// Two quotes inside quotes give one quote and end the quoted part.
INSTANTIATE_TEST_SUITE_P(DoubledQuotes, ArgumentSplitTest, testing::Values(
    ArgumentCase{"\"a\"\"b\"", {"a\"b"}},
    ArgumentCase{"\"a\"\"b c\"", {"a\"b", "c"}},
    ArgumentCase{"\"a\"\" b\"", {"a\"", "b"}},
    ArgumentCase{"\"\"\"\"", {"\""}},
    ArgumentCase{"\"\"\"", {"\""}},
    ArgumentCase{"\"\"\"\"\"\"", {"\"\""}},
    ArgumentCase{"\"a\"\"\"b c\"", {"a\"b c"}},
    ArgumentCase{"a\"\"\"b", {"a\"b"}}));

INSTANTIATE_TEST_SUITE_P(Backslashes, ArgumentSplitTest, testing::Values(
    ArgumentCase{"a\\b \\\\c\\", {"a\\b", "\\\\c\\"}},
    ArgumentCase{"C:\\dir\\ \\\\server\\share", {"C:\\dir\\", "\\\\server\\share"}},
    ArgumentCase{"\\\"a", {"\"a"}},
    ArgumentCase{"\\\\\"a b\"", {"\\a b"}},
    ArgumentCase{"\\\\\\\"a b", {"\\\"a", "b"}},
    ArgumentCase{"\\\\\\\\\"a b\"", {"\\\\a b"}},
    ArgumentCase{"\"a \\\" b\"", {"a \" b"}},
    ArgumentCase{"\"a\\\\\" b", {"a\\", "b"}},
    ArgumentCase{"\"C:\\dir\\\\\"", {"C:\\dir\\"}},
    ArgumentCase{"\"C:\\dir\\\"", {"C:\\dir\""}},
    ArgumentCase{"\"a\\\\\"\"b\"", {"a\\\"b"}},
    ArgumentCase{"a\\\\", {"a\\\\"}},
    ArgumentCase{"\\", {"\\"}},
    ArgumentCase{"\"\\\\\"", {"\\"}}));

struct ProgramCase {
  const char* line;
  const char* program_name;
  Arguments arguments;
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.line; }

class ProgramNameTest : public testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramNameTest, EndsAtFirstBlankOutsideQuotes) {
  const ProgramCase& c = GetParam();
  CommandLine split = SplitCommandLine(c.line);
  EXPECT_EQ(split.program_name, c.program_name);
  EXPECT_EQ(split.arguments, c.arguments);
}

INSTANTIATE_TEST_SUITE_P(All, ProgramNameTest, testing::Values(
    ProgramCase{"", "", {}},
    ProgramCase{"tandor.exe", "tandor.exe", {}},
    ProgramCase{"tandor\t-r a b", "tandor", {"-r", "a", "b"}},
    ProgramCase{"\"C:\\Program Files\\tandor.exe\" x", "C:\\Program Files\\tandor.exe", {"x"}},
    ProgramCase{"C:\\a\" b\"\\t.exe x", "C:\\a b\\t.exe", {"x"}},
    // Backslashes are literal in the name, even before a quote.
    ProgramCase{"\"C:\\dir\\\" \"x y\"", "C:\\dir\\", {"x y"}},
    ProgramCase{"C:\\x\\\"y z\" w", "C:\\x\\y z", {"w"}},
    // Doubled quotes in the name just switch quoting twice.
    ProgramCase{"\"\"t.exe a", "t.exe", {"a"}},
    ProgramCase{"\"t a.exe", "t a.exe", {}},
    ProgramCase{" x", "", {"x"}}));

}  // namespace
}  // namespace tandor
