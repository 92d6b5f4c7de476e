#include "console/line_reader.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace tandor {
namespace {

std::vector<std::string> AllLines(const std::string& input, size_t chunk) {
  StringInput stream(input, chunk);
  LineReader reader(stream);
  std::vector<std::string> lines;
  std::string line;
  while (reader.ReadLine(&line)) lines.push_back(line);
  return lines;
}

TEST(LineReaderTest, SplitsLinesWhateverTheReadSizes) {
  const std::string big(100000, 'x');
  const struct {
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"\n", {""}},
      {"John\n", {"John"}},
      {"John", {"John"}},
      {"a\n\nb", {"a", "", "b"}},
      {"cr\r\nlone\r", {"cr\r", "lone\r"}},
      {std::string("nul\0kept\n", 9), {std::string("nul\0kept", 8)}},
      {big + "\nend\n", {big, "end"}},
  };
  for (const auto& c : cases) {
    for (size_t chunk : {1, 3, 4096}) EXPECT_EQ(AllLines(c.input, chunk), c.lines) << chunk;
  }
}

}  // namespace
}  // namespace tandor
