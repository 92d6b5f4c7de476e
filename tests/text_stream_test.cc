// The Windows text-stream rules, by example; tests/fuzz/text_stream_fuzz.cc
// holds them against a model whatever the cuts between reads and buffers.
#include "console/text_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "fakes.h"

namespace tandor {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

// Each Read() result, for `reads` reads of up to `capacity` bytes.
Strings ReadResults(InputStream& input, size_t capacity, size_t reads) {
  Strings results;
  std::string buffer(capacity, '\0');
  while (results.size() < reads)
    results.emplace_back(buffer.data(), input.Read(buffer.data(), capacity));
  return results;
}

std::string Joined(const Strings& parts) {
  std::string all;
  for (const std::string& part : parts) all += part;
  return all;
}

TEST(TextInputStreamTest, FilesAndPipesGiveCrLfAsOneLineEndAndStopAtCtrlZ) {
  const struct {
    Strings reads;
    size_t block;  // 2: a CR LF falls across a block end
    std::string expected;
  } kCases[] = {
      {{"a\r", "\nb\r"}, 4096, "a\nb\r"},
      {{"a\r\r\n\n\rb"}, 2, "a\r\n\n\rb"},
      {{"a\0\r\nb"s}, 4096, "a\0\nb"s},
      {{"ab\r\x1a\n", "never read"}, 4096, "ab\r"},
  };
  for (const auto& c : kCases) {
    FakeInput source(c.reads);
    TextInputStream input(source, StreamKind::kFileOrPipe, c.block);
    EXPECT_EQ(Joined(ReadResults(input, 3, 8)), c.expected) << testing::PrintToString(c.reads);
    // After 0x1A, or the end of a pipe, a read could block.
    EXPECT_EQ(source.reads_at_end, c.expected.size() == 3 ? 0 : 1)
        << testing::PrintToString(c.reads);
  }
}

TEST(TextInputStreamTest, ConsoleCtrlZEndsTheCurrentReadOnlyAFailedReadAllInput) {
  const struct {
    Strings reads;  // one typed line each
    size_t capacity;
    Strings expected;  // each Read() result
  } kCases[] = {
      {{"ab\r\n", "cd\r\n"}, 4096, {"ab\n", "cd\n", ""}},
      {{"ab\x1a"s + "cd\r\n", "ef\r\n"}, 4096, {"ab", "ef\n", ""}},
      {{"\x1a\r\n", "ef\r\n"}, 4096, {"", "ef\n", ""}},
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
  for (StreamKind kind : {StreamKind::kDevice, StreamKind::kFileOrPipe}) {
    FakeInput source({"ab\r"}, /*fail_at_end=*/true);
    TextInputStream input(source, kind, 4096);
    EXPECT_EQ(Joined(ReadResults(input, 4096, 3)), "ab\r");
    EXPECT_TRUE(input.failed());
    EXPECT_EQ(source.reads_at_end, 1);
  }
}

// Records each delivery; the `fail_at`th attempt (from 0) fails.
struct RecordingSink : ByteSink {
  bool WriteAll(const char* data, size_t size) override {
    if (attempts++ == fail_at) return false;
    deliveries.emplace_back(data, size);
    return true;
  }
  int fail_at = -1, attempts = 0;
  Strings deliveries;
};

// Every '\n' as CR LF, a CR already there kept; a console gets each write at
// once (a prompt shows before the tool waits), a file full blocks. To a file
// a failure may come from the thread that writes behind: it is known once
// flushed, and the rest is dropped.
TEST(TextOutputTest, NewlineBecomesCrLfConsoleAtOnceFilesInBlocks) {
  const Strings kWrites = {"a\nb", "\r\n", "x\0\n"s, std::string(40, 'y') + "\n"};
  const Strings kShown = {"a\r\nb", "\r\r\n", "x\0\r\n"s, std::string(40, 'y') + "\r\n"};
  for (size_t block : {1, 3, 19, 4096}) {
    RecordingSink console, file;
    CrLfSink console_text(console, block), file_text(file, block);
    BufferedOutput to_console(console_text, block, true), to_file(file_text, block, false);
    for (size_t i = 0; i < kWrites.size(); ++i) {
      to_console.Write(kWrites[i]);
      to_file.Write(kWrites[i]);
      EXPECT_EQ(Joined(console.deliveries),
                Joined(Strings(kShown.begin(), kShown.begin() + i + 1)));
    }
    to_file.Flush();
    EXPECT_EQ(Joined(file.deliveries), Joined(kShown)) << block;
    for (size_t i = 0; i + 1 < file.deliveries.size(); ++i)
      EXPECT_GE(file.deliveries[i].size(), block) << block;
  }
  for (bool device : {true, false}) {
    RecordingSink sink;
    sink.fail_at = 1;
    CrLfSink text(sink, 4);
    BufferedOutput output(text, 4, device);
    for (const char* piece : {"one", "two", "three"}) output.Write(piece);
    output.Flush();
    EXPECT_TRUE(output.failed());
    EXPECT_EQ(sink.deliveries, Strings{device ? "one" : "onet"});
  }
}

}  // namespace
}  // namespace tandor
