// The console services every build shares: the Windows command-line splitter
// and text streams.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "console/command_line.h"
#include "console/text_stream.h"
#include "fakes.h"

namespace tandor {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

// Splitting a Windows command line, rule by rule.
TEST(CommandLineTest, SplitsByEveryRule) {
  const struct {
    std::string line, program_name;
    Strings arguments;
  } kCases[] = {
      // Runs of spaces and tabs separate; nothing else splits.
      {"t \ta \t  b\t", "t", {"a", "b"}},
      // Quotes switch quoting and go; a pair alone is an empty argument.
      {"t \"\" a\"\"b \"", "t", {"", "ab", ""}},
      // Two quotes inside quotes give one quote and end the quoted part.
      {"t \"a\"\"b c\"", "t", {"a\"b", "c"}},
      // Backslashes: halved before a quote, which an odd count escapes.
      {"t C:\\dir\\ \\\\server\\share a\\\\", "t", {"C:\\dir\\", "\\\\server\\share", "a\\\\"}},
      {"t \\\"a \\\\\"a b\" \\\\\\\"a b", "t", {"\"a", "\\a b", "\\\"a", "b"}},
      // The program name ends at the first blank outside quotes; its quotes
      // go and its backslashes are literal, even before a quote.
      {"\"C:\\Program Files\\t.exe\" x", "C:\\Program Files\\t.exe", {"x"}},
      {"\"C:\\dir\\\" \"x y\"", "C:\\dir\\", {"x y"}},
      // A blank before the program name ends it empty; a quote that is not
      // closed runs to the end.
      {" t \"a b", "", {"t", "a b"}},
  };
  for (const auto& c : kCases) {
    CommandLine split = SplitCommandLine(c.line);
    EXPECT_EQ(std::pair(split.program_name, split.arguments),
              std::pair(c.program_name, c.arguments))
        << c.line;
  }
}

// Windows text-stream input from a console, and a failed read;
// tests/fuzz/text_stream_fuzz.cc holds files and pipes against a model
// whatever the cuts between reads, blocks and buffers.

// Each Read() result, for `reads` reads of up to `capacity` bytes.
Strings ReadResults(InputStream& input, size_t capacity, size_t reads) {
  Strings results;
  std::string buffer(capacity, '\0');
  while (results.size() < reads)
    results.emplace_back(buffer.data(), input.Read(buffer.data(), capacity));
  return results;
}

TEST(TextInputStreamTest, ConsoleCtrlZEndsTheCurrentReadOnlyAFailedReadAllInput) {
  const struct {
    Strings reads;  // one typed line each
    size_t capacity;
    Strings expected;  // each Read() result
  } kCases[] = {
      {{"", "ef\r\n"}, 4096, {"", "ef\n"}},
      {{"a\r\x1a", "b\r\n"}, 4096, {"a\r", "b\n"}},
      // What came before the 0x1A is all handed out before the read ends.
      {{"abc\x1a"s + "d", "e"}, 2, {"ab", "c", "e"}},
  };
  for (const auto& c : kCases) {
    FakeInput source(c.reads);
    TextInputStream input(source, StreamKind::kDevice, 4096);
    EXPECT_EQ(ReadResults(input, c.capacity, c.expected.size()), c.expected)
        << testing::PrintToString(c.reads);
  }
  // A failed read must end the input, or a reader would retry it for ever.
  FakeInput source({"ab\r"}, /*fail_at_end=*/true);
  TextInputStream input(source, StreamKind::kDevice, 4096);
  EXPECT_EQ(ReadResults(input, 4096, 3), (Strings{"ab", "\r", ""}));
  EXPECT_TRUE(input.failed());
  EXPECT_EQ(source.reads_at_end, 1);
}

}  // namespace
}  // namespace tandor
