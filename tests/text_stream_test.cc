#include "console/text_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tandor {
namespace {

using Strings = std::vector<std::string>;

// Hands out the given reads in order, then ends (or fails). Notes a read
// asked for after it gave 0x1A or nothing: on a pipe that read could block.
class ScriptedSource : public InputStream {
 public:
  explicit ScriptedSource(Strings reads, bool fail_at_end = false)
      : reads_(reads.rbegin(), reads.rend()), fail_at_end_(fail_at_end) {}
  size_t Read(char* buffer, size_t capacity) override {
    read_past_end |= ended_;
    if (reads_.empty()) {
      failed_ = fail_at_end_;
      ended_ = true;
      return 0;
    }
    size_t count = reads_.back().copy(buffer, capacity);
    ended_ = count == 0 || std::string_view(buffer, count).find('\x1a') != std::string_view::npos;
    reads_.back().erase(0, count);
    if (reads_.back().empty()) reads_.pop_back();
    return count;
  }
  bool failed() const override { return failed_; }
  bool read_past_end = false;

 private:
  Strings reads_;  // the next one last
  bool fail_at_end_, failed_ = false, ended_ = false;
};

Strings ReadResults(InputStream& input, size_t capacity, size_t reads) {
  Strings results;
  std::string buffer(capacity, '\0');
  while (results.size() < reads) {
    results.emplace_back(buffer.data(), input.Read(buffer.data(), capacity));
  }
  return results;
}

std::string Joined(const Strings& parts) {
  std::string all;
  for (const std::string& part : parts) all += part;
  return all;
}

// The text must not depend on where the bytes are cut: between raw reads,
// blocks (2 forces CR LF across every block end) or the caller's buffers.
TEST(TextInputStreamTest, FileTextDoesNotDependOnWhereTheBytesAreCut) {
  std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"a\rb\r", "a\rb\r"},
      {"a\r\r\n\n\rb", "a\r\n\n\rb"},
      {std::string("a\0\r\nb", 5), std::string("a\0\nb", 4)},
      {"a\r\x1a\n", "a\r"},  // 0x1A ends the input
  };
  // Scanning goes 16 bytes at a time: each position within and across those.
  for (size_t at = 0; at <= 40; ++at) {
    std::string x(at, 'x'), y(40 - at, 'y');
    cases.push_back({x + "\r\n" + y + "\r", x + "\n" + y + "\r"});
    cases.push_back({x + "\x1a" + y, x});
  }
  for (const auto& [raw, expected] : cases) {
    for (size_t split = 0; split <= raw.size(); ++split) {
      Strings reads;
      for (std::string part : {raw.substr(0, split), raw.substr(split)})
        if (!part.empty()) reads.push_back(part);
      for (size_t block : {2, 3, 17, 4096}) {
        for (size_t capacity : {1, 7, 4096}) {
          ScriptedSource source(reads);
          TextInputStream input(source, StreamKind::kFileOrPipe, block);
          EXPECT_EQ(Joined(ReadResults(input, capacity, raw.size() + 2)), expected)
              << testing::PrintToString(raw) << " split " << split << " block " << block
              << " capacity " << capacity;
          EXPECT_FALSE(source.read_past_end) << testing::PrintToString(raw);
          EXPECT_FALSE(input.failed());
        }
      }
    }
  }
}

TEST(TextInputStreamTest, ConsoleCtrlZEndsTheCurrentReadOnly) {
  struct {
    Strings reads;  // one typed line each
    size_t capacity;
    Strings expected;  // each Read() result
  } cases[] = {
      {{"ab\r\n", "cd\r\n"}, 4096, {"ab\n", "cd\n", ""}},
      {{"ab\x1a"
        "cd\r\n",
        "ef\r\n"},
       4096,
       {"ab", "ef\n", ""}},
      {{"\x1a\r\n", "ef\r\n"}, 4096, {"", "ef\n", ""}},
      {{"", "ef\r\n"}, 4096, {"", "ef\n"}},
      {{"a\r\x1a", "b\r\n"}, 4096, {"a\r", "b\n"}},
      // What came before the 0x1A is all handed out before the read ends.
      {{"abc\x1a"
        "d",
        "e"},
       2,
       {"ab", "c", "e"}},
  };
  for (const auto& c : cases) {
    ScriptedSource source(c.reads);
    TextInputStream input(source, StreamKind::kDevice, 4096);
    EXPECT_EQ(ReadResults(input, c.capacity, c.expected.size()), c.expected)
        << testing::PrintToString(c.reads);
  }
}

// A failed console read must end the input too, or a reader would retry it
// for ever.
TEST(TextInputStreamTest, ReadFailureEndsTheInputAndIsReported) {
  for (StreamKind kind : {StreamKind::kDevice, StreamKind::kFileOrPipe}) {
    ScriptedSource source({"ab\r"}, /*fail_at_end=*/true);
    TextInputStream input(source, kind, 4096);
    EXPECT_EQ(Joined(ReadResults(input, 4096, 4)), "ab\r");
    EXPECT_TRUE(input.failed());
    EXPECT_FALSE(source.read_past_end);
  }
}

// Records each delivery; the `fail_at`th attempt (from 0) fails.
class RecordingSink : public ByteSink {
 public:
  explicit RecordingSink(int fail_at = -1) : fail_at_(fail_at) {}
  bool WriteAll(const char* data, size_t size) override {
    if (attempts_++ == fail_at_) return false;
    deliveries.emplace_back(data, size);
    return true;
  }
  Strings deliveries;

 private:
  int fail_at_;
  int attempts_ = 0;
};

// Standard output of the Windows build: CR LF translation under the
// buffering. Also: a prompt must reach the console before the tool waits for
// the answer, while a file gets full blocks, not a write call per piece.
TEST(TextOutputTest, NewlineBecomesCrLfConsoleAtOnceFilesInBlocks) {
  std::vector<std::pair<Strings, std::string>> cases = {
      {{"a\nb"}, "a\r\nb"},   {{"\n\n"}, "\r\n\r\n"},
      {{"a\r\n"}, "a\r\r\n"}, {{"a\r", "\n"}, "a\r\r\n"},
      {{"", "x", ""}, "x"},   {{std::string("\0\n\x1a", 3)}, std::string("\0\r\n\x1a", 4)},
  };
  for (size_t at = 0; at <= 40; ++at) {
    std::string x(at, 'x'), y(40 - at, 'y');
    cases.push_back({{x + "\n", y + "\n"}, x + "\r\n" + y + "\r\n"});
  }
  for (const auto& [writes, expected] : cases) {
    for (StreamKind kind : {StreamKind::kDevice, StreamKind::kFileOrPipe}) {
      for (size_t block : {1, 3, 19, 4096}) {
        std::string context = testing::PrintToString(writes) + " block " + std::to_string(block);
        RecordingSink sink;
        {
          CrLfSink text(sink, block);
          BufferedOutput output(text, block, kind == StreamKind::kDevice);
          for (const std::string& piece : writes) output.Write(piece);
          if (kind == StreamKind::kDevice) {
            EXPECT_EQ(Joined(sink.deliveries), expected) << context;
          }
        }
        EXPECT_EQ(Joined(sink.deliveries), expected) << context;
        for (size_t i = 0; kind == StreamKind::kFileOrPipe && i + 1 < sink.deliveries.size(); ++i)
          EXPECT_GE(sink.deliveries[i].size(), block) << context;
      }
    }
  }
}

// To a file the failure may come from the thread that writes behind: it is
// known once flushed.
TEST(TextOutputTest, FailedWriteIsReportedAndDropsTheRest) {
  for (auto [kind, first] :
       {std::pair{StreamKind::kDevice, "one"}, std::pair{StreamKind::kFileOrPipe, "onet"}}) {
    RecordingSink sink(/*fail_at=*/1);
    CrLfSink text(sink, 4);
    BufferedOutput output(text, 4, kind == StreamKind::kDevice);
    for (const char* piece : {"one", "two", "three"}) output.Write(piece);
    output.Flush();
    EXPECT_TRUE(output.failed());
    EXPECT_EQ(sink.deliveries, Strings{first});
  }
}

}  // namespace
}  // namespace tandor
