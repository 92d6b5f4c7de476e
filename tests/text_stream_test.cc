#include "cli/text_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tandor {
namespace {

// Hands out the given reads in order, then ends (or fails).
class ScriptedSource : public ByteSource {
 public:
  ScriptedSource(std::vector<std::string> reads, bool fail_at_end)
      : reads_(std::move(reads)), fail_at_end_(fail_at_end) {}

  size_t ReadSome(char* buffer, size_t capacity) override {
    ++calls_;
    if (next_ == reads_.size()) {
      failed_ = fail_at_end_;
      return 0;
    }
    std::string& read = reads_[next_];
    size_t count = std::min(capacity, read.size());
    read.copy(buffer, count);
    read.erase(0, count);
    if (read.empty()) ++next_;
    return count;
  }
  bool failed() const override { return failed_; }
  int calls() const { return calls_; }

 private:
  std::vector<std::string> reads_;
  size_t next_ = 0;
  bool fail_at_end_;
  bool failed_ = false;
  int calls_ = 0;
};

// Everything a stream gives, each Read() result as one entry, until `reads`
// results or a run of zeros that shows the stream has ended.
std::vector<std::string> ReadResults(InputStream& input, size_t capacity, int reads) {
  std::vector<std::string> results;
  std::string buffer(capacity, '\0');
  for (int i = 0; i < reads; ++i) results.emplace_back(buffer.data(), input.Read(buffer.data(), capacity));
  return results;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& part : parts) all += part;
  return all;
}

struct FileInputCase {
  std::vector<std::string> reads;  // what each raw read gives
  std::string expected;
};

class FileInputTest : public testing::TestWithParam<FileInputCase> {};

// The text must not depend on how the raw bytes were split into reads nor on
// the caller's buffer size; small blocks force CR LF across block ends.
TEST_P(FileInputTest, GivesTheSameTextForEveryBufferSize) {
  for (size_t block : {2, 3, 5, 4096}) {
    for (size_t capacity : {1, 2, 7, 4096}) {
      ScriptedSource source(GetParam().reads, false);
      TextInputStream input(source, StreamKind::kFileOrPipe, block);
      EXPECT_EQ(Joined(ReadResults(input, capacity, 64)), GetParam().expected)
          << "block " << block << " capacity " << capacity;
      EXPECT_FALSE(input.failed());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LineEnds, FileInputTest, testing::Values(
    FileInputCase{{}, ""},
    FileInputCase{{"a\r\nb\r\n"}, "a\nb\n"},
    FileInputCase{{"a\r", "\nb"}, "a\nb"},
    FileInputCase{{"a\r", "b\r"}, "a\rb\r"},
    FileInputCase{{"\r"}, "\r"},
    FileInputCase{{"a\r\r\n"}, "a\r\n"},
    FileInputCase{{"\r", "\r", "\n", "\n"}, "\r\n\n"},
    FileInputCase{{"a\n\rb"}, "a\n\rb"},
    FileInputCase{{std::string("a\0\r\nb", 5)}, std::string("a\0\nb", 4)}));

INSTANTIATE_TEST_SUITE_P(CtrlZ, FileInputTest, testing::Values(
    FileInputCase{{"a\r\nb\x1a" "c\r\n"}, "a\nb"},
    FileInputCase{{"\x1a" "abc"}, ""},
    FileInputCase{{"ab", "\x1a", "cd"}, "ab"},
    FileInputCase{{"a\r", "\x1a\n"}, "a\r"},
    FileInputCase{{"a\x1a\x1a", "b"}, "a"}));

// Bulk scanning works 16 bytes at a time: every position of a line end and
// of 0x1A within and across such blocks gives the same text.
TEST(TextInputStreamTest, LineEndAndCtrlZAtEveryPosition) {
  for (size_t at = 0; at < 40; ++at) {
    std::string before(at, 'x');
    std::string after(40 - at, 'y');
    for (size_t capacity : {1, 17, 4096}) {
      ScriptedSource crlf({before + "\r\n" + after + "\r"}, false);
      TextInputStream lines(crlf, StreamKind::kFileOrPipe, 4096);
      EXPECT_EQ(Joined(ReadResults(lines, capacity, 100)), before + "\n" + after + "\r");
      ScriptedSource ctrl_z({before + "\x1a" + after}, false);
      TextInputStream ended(ctrl_z, StreamKind::kFileOrPipe, 4096);
      EXPECT_EQ(Joined(ReadResults(ended, capacity, 100)), before);
    }
  }
}

TEST(TextInputStreamTest, ReadsNothingAfterCtrlZFromAFile) {
  ScriptedSource source({"ab\x1a", "cd", "ef"}, false);
  TextInputStream input(source, StreamKind::kFileOrPipe, 4096);
  EXPECT_EQ(ReadResults(input, 4096, 3), (std::vector<std::string>{"ab", "", ""}));
  EXPECT_EQ(source.calls(), 1);
}

TEST(TextInputStreamTest, ReadFailureEndsInputAndIsReported) {
  ScriptedSource source({"ab\r"}, true);
  TextInputStream input(source, StreamKind::kFileOrPipe, 4096);
  EXPECT_EQ(Joined(ReadResults(input, 4096, 3)), "ab\r");
  EXPECT_TRUE(input.failed());
  EXPECT_EQ(source.calls(), 2);
}

struct DeviceCase {
  std::vector<std::string> reads;     // one typed line per raw read
  std::vector<std::string> expected;  // each Read() result
};

class DeviceInputTest : public testing::TestWithParam<DeviceCase> {};

TEST_P(DeviceInputTest, CtrlZEndsTheCurrentReadOnly) {
  ScriptedSource source(GetParam().reads, false);
  TextInputStream input(source, StreamKind::kDevice, 4096);
  EXPECT_EQ(ReadResults(input, 4096, GetParam().expected.size()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Reads, DeviceInputTest, testing::Values(
    DeviceCase{{"ab\r\n", "cd\r\n"}, {"ab\n", "cd\n", ""}},
    DeviceCase{{"ab\x1a" "cd\r\n", "ef\r\n"}, {"ab", "ef\n", ""}},
    DeviceCase{{"\x1a\r\n", "ef\r\n"}, {"", "ef\n", ""}},
    DeviceCase{{"", "ef\r\n"}, {"", "ef\n"}},
    DeviceCase{{"a\r\x1a", "b\r\n"}, {"a\r", "b\n"}}));

TEST(TextInputStreamTest, DeviceReadCutAtCtrlZIsHandedOutWhole) {
  ScriptedSource source({"abc\x1a" "d", "e"}, false);
  TextInputStream input(source, StreamKind::kDevice, 4096);
  EXPECT_EQ(ReadResults(input, 2, 3), (std::vector<std::string>{"ab", "c", "e"}));
}

// Records each delivery; fails from the `fail_from`th on.
class RecordingSink : public ByteSink {
 public:
  explicit RecordingSink(int fail_from = -1) : fail_from_(fail_from) {}
  bool WriteAll(const char* data, size_t size) override {
    if (static_cast<int>(deliveries.size()) == fail_from_) return false;
    deliveries.emplace_back(data, size);
    return true;
  }
  std::vector<std::string> deliveries;

 private:
  int fail_from_;
};

struct OutputCase {
  std::vector<std::string> writes;
  std::string expected;
};

class OutputTest : public testing::TestWithParam<OutputCase> {};

TEST_P(OutputTest, TranslatesNewlinesOnly) {
  for (size_t block : {2, 3, 4096}) {
    RecordingSink sink;
    {
      TextOutputStream output(sink, StreamKind::kFileOrPipe, block);
      for (const std::string& piece : GetParam().writes) output.Write(piece);
    }
    EXPECT_EQ(Joined(sink.deliveries), GetParam().expected) << "block " << block;
  }
}

INSTANTIATE_TEST_SUITE_P(Newlines, OutputTest, testing::Values(
    OutputCase{{"a\nb"}, "a\r\nb"},
    OutputCase{{"\n\n"}, "\r\n\r\n"},
    OutputCase{{"a\r\n"}, "a\r\r\n"},
    OutputCase{{"a\r", "\n"}, "a\r\r\n"},
    OutputCase{{"", "x", ""}, "x"},
    OutputCase{{std::string("\0\n\x1a", 3)}, std::string("\0\r\n\x1a", 4)},
    OutputCase{{"long line without end", "\nz"}, "long line without end\r\nz"}));

TEST(TextOutputStreamTest, NewlineAtEveryPosition) {
  for (size_t at = 0; at < 40; ++at) {
    for (size_t block : {19, 4096}) {
      RecordingSink sink;
      {
        TextOutputStream output(sink, StreamKind::kFileOrPipe, block);
        output.Write(std::string(at, 'x') + "\n" + std::string(40 - at, 'y') + "\n");
      }
      EXPECT_EQ(Joined(sink.deliveries),
                std::string(at, 'x') + "\r\n" + std::string(40 - at, 'y') + "\r\n");
    }
  }
}

TEST(TextOutputStreamTest, DeviceGetsEachWriteAtOnce) {
  RecordingSink sink;
  TextOutputStream output(sink, StreamKind::kDevice, 4096);
  output.Write("Name: ");
  EXPECT_EQ(sink.deliveries, std::vector<std::string>{"Name: "});
  output.Write("a\nb");
  EXPECT_EQ(sink.deliveries, (std::vector<std::string>{"Name: ", "a\r\nb"}));
}

TEST(TextOutputStreamTest, FileGetsFullBlocksUntilFlushed) {
  RecordingSink sink;
  TextOutputStream output(sink, StreamKind::kFileOrPipe, 8);
  output.Write("abc\n");
  EXPECT_TRUE(sink.deliveries.empty());
  output.Write("defg\n0123456789");
  ASSERT_FALSE(sink.deliveries.empty());
  for (const std::string& block : sink.deliveries) EXPECT_GE(block.size(), 7u) << block;
  output.Flush();
  EXPECT_EQ(Joined(sink.deliveries), "abc\r\ndefg\r\n0123456789");
}

TEST(TextOutputStreamTest, FailedWriteDropsTheRest) {
  RecordingSink sink(1);
  TextOutputStream output(sink, StreamKind::kDevice, 4096);
  output.Write("one");
  output.Write("two");
  EXPECT_TRUE(output.failed());
  output.Write("three");
  EXPECT_EQ(sink.deliveries, std::vector<std::string>{"one"});
}

}  // namespace
}  // namespace tandor
