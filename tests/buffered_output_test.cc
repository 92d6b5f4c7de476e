// Standard output on its way out: buffered and written behind on a second
// thread, and the Windows newline put in on the way.
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

// "0 1 2 3 ..." cut to `size` bytes: no two stretches alike, so any byte
// written out of place shows.
std::string Numbers(size_t size) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += std::to_string(i) + " ";
  text.resize(size);
  return text;
}

// In pieces of 1 to 257 bytes through buffers of 100: a hundred hand-overs,
// far more than the writer has buffers. Flush returns once all is written,
// a last part of a buffer included, however slow the sink. A console
// (`immediate`) has each piece written before Write returns.
TEST(BufferedOutputTest, WritesEverythingInOrderAcrossManyBuffers) {
  const std::string text = Numbers(10050);
  for (bool immediate : {false, true}) {
    SlowSink sink;
    {
      BufferedOutput output(sink, /*buffer_size=*/100, immediate);
      for (size_t done = 0, piece = 1; done < text.size(); done += piece, piece = 1 + done % 257) {
        output.Write(text.substr(done, piece));
        if (immediate) {
          ASSERT_EQ(sink.text, text.substr(0, done + piece));
        }
      }
      sink.slow = true;
      output.Flush();
      EXPECT_EQ(sink.text, text) << "immediate " << immediate;
      EXPECT_FALSE(output.failed());
      output.Write("end");
    }
    EXPECT_EQ(sink.text, text + "end") << "the destructor flushes, immediate " << immediate;
  }
}

// A failed write leaves a hole: nothing after it may be written, and the
// failure shows once flushed.
TEST(BufferedOutputTest, NothingAfterAFailedWriteIsWritten) {
  const std::string text = Numbers(10000);
  SlowSink sink;
  sink.failing_write = 3;
  BufferedOutput output(sink, /*buffer_size=*/100, /*immediate=*/false);
  output.Write(text);
  output.Flush();
  EXPECT_TRUE(output.failed());
  EXPECT_EQ(sink.text, text.substr(0, 200));
}

// Every '\n' goes out as CR LF and every other byte as it is, whatever the
// blocks a write is translated in (32: 16 bytes at a time, then one by one);
// a failed write ends the rest of it.
TEST(CrLfSinkTest, EveryNewlineGoesOutAsCrLf) {
  const std::string text = "one\ntwo\r\nthree\n" + std::string(20, 'x') + "\nend\r";
  const std::string crlf_text = "one\r\ntwo\r\r\nthree\r\n" + std::string(20, 'x') + "\r\nend\r";
  for (size_t block_size : {1, 32}) {
    SlowSink sink;
    EXPECT_TRUE(CrLfSink(sink, block_size).WriteAll(text.data(), text.size()));
    EXPECT_EQ(sink.text, crlf_text) << block_size;
    sink.failing_write = sink.writes + 1;
    EXPECT_FALSE(CrLfSink(sink, block_size).WriteAll(text.data(), text.size()));
    EXPECT_EQ(sink.text, crlf_text) << block_size;
  }
}

}  // namespace
}  // namespace tandor
