// Standard output on its way out as the Windows build stacks it: buffered and
// written behind on a second thread, the Windows newline put in on the way.
#include "console/buffered_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "console/text_stream.h"

namespace tandor {
namespace {

// Keeps what is written to it. Its first write takes a while, so that a
// caller writing behind fills every buffer meanwhile and must then wait for
// one; once `slow` is set, every write does. The write numbered
// `failing_write` (from 1) fails and writes nothing; later ones work again,
// as a sink whose trouble has passed.
struct SlowSink : ByteSink {
  bool WriteAll(const char* data, size_t size) override {
    if (++writes == 1 || slow) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (writes == failing_write) return false;
    text.append(data, size);
    return true;
  }

  std::atomic<bool> slow = false;
  std::string text;
  size_t writes = 0;
  size_t failing_write = 0;
};

// Lines of ten numbers, "0 1 ... 9\n10 11 ...", cut to `size` bytes: no two
// stretches alike, so any byte written out of place shows.
std::string Numbers(size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += std::to_string(i) + (i % 10 == 9 ? "\n" : " ");
  text.resize(size);
  return text;
}

// `text` with every '\n' as CR LF and every other byte as it is.
std::string CrLf(std::string_view text) {
  std::string crlf;
  for (char c : text) crlf.append(c == '\n' ? "\r\n" : std::string(1, c));
  return crlf;
}

// In pieces of 1 to 257 bytes through buffers of 100: a hundred hand-overs,
// far more than the writer has buffers. Flush returns once all is written,
// a last part of a buffer included, however slow the sink. A console
// (`immediate`) has each piece written before Write returns. The newlines
// are translated 32 bytes at a time: 16 at once, then one by one.
TEST(BufferedOutputTest, WritesEverythingInOrderAcrossManyBuffers) {
  const std::string text = Numbers(10050);
  for (bool immediate : {false, true}) {
    SlowSink sink;
    {
      CrLfSink crlf(sink, /*block_size=*/32);
      BufferedOutput output(crlf, /*buffer_size=*/100, immediate);
      for (size_t done = 0, piece = 1; done < text.size(); done += piece, piece = 1 + done % 257) {
        output.Write(text.substr(done, piece));
        if (immediate) {
          ASSERT_EQ(sink.text, CrLf(text.substr(0, done + piece)));
        }
      }
      sink.slow = true;
      output.Flush();
      EXPECT_EQ(sink.text, CrLf(text)) << "immediate " << immediate;
      EXPECT_FALSE(output.failed());
      output.Write("end");
    }
    EXPECT_EQ(sink.text, CrLf(text) + "end") << "the destructor flushes, immediate " << immediate;
  }
}

// A failed write leaves a hole: nothing after it may be written, not even the
// rest of the buffer it was part of, and the failure shows once flushed.
TEST(BufferedOutputTest, NothingAfterAFailedWriteIsWritten) {
  const std::string text = Numbers(10000);
  SlowSink sink;
  sink.failing_write = 5;
  CrLfSink crlf(sink, /*block_size=*/50);
  BufferedOutput output(crlf, /*buffer_size=*/100, /*immediate=*/false);
  output.Write(text);
  output.Flush();
  EXPECT_TRUE(output.failed());
  EXPECT_EQ(sink.text, CrLf(text.substr(0, 200)));
}

}  // namespace
}  // namespace tandor
