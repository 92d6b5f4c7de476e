// Standard output, buffered, and written on a second thread while the caller
// fills the next buffer: copying a large output into a file or pipe costs the
// kernel about as much as reading and filtering it, and with two cores the
// two overlap.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string_view>
#include <thread>

#include "base/buffers.h"
#include "console/console.h"

namespace tandor {

// The raw destination of standard output.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `size` bytes. Gives false if any could not be written.
  virtual bool WriteAll(const char* data, size_t size) = 0;
};

// Buffers for the caller to fill, written to a ByteSink in the order handed
// over. Nothing runs in the background until a buffer is handed over with
// more to follow, so short outputs (a prompt, an expansion) are written in
// the caller's thread; so is everything on a machine with one processor, or
// when the thread cannot be started. After a failed write everything later
// is dropped.
class WriteBehind {
 public:
  // `buffer_size` > 0.
  WriteBehind(ByteSink& sink, size_t buffer_size);
  ~WriteBehind();  // everything handed over is written first

  // buffer_size() bytes, starting on a page, to fill.
  char* buffer() const { return buffers_[filling_]; }
  size_t buffer_size() const { return buffer_size_; }

  // Hands over the first `size` bytes of buffer(), more output to follow:
  // they may be written later, while buffer() is a fresh one.
  void Hand(size_t size);
  // Hands over the first `size` bytes of buffer(), 0 too, and returns once
  // they and all handed over before are written.
  void Deliver(size_t size);

  // True once a write has failed.
  bool failed() const { return failed_.load(std::memory_order_relaxed); }

 private:
  // Enough for the two threads to take turns without waiting on each
  // other's every buffer.
  static constexpr size_t kBuffers = 4;

  void Write(const char* data, size_t size);
  bool StartWriter();
  void RunWriter();

  ByteSink& sink_;
  const size_t buffer_size_;
  PageBuffer storage_;
  char* buffers_[kBuffers];
  size_t sizes_[kBuffers];
  size_t filling_ = 0;           // the caller's buffer
  bool writer_refused_ = false;  // single-threaded from now on
  std::atomic<bool> failed_{false};

  // Shared with the writer thread, under mutex_.
  std::mutex mutex_;
  std::condition_variable handed_;   // to the writer: a buffer came, or closing
  std::condition_variable written_;  // to the caller: a buffer is free again
  size_t queued_ = 0;                // handed over, not yet written
  size_t writing_ = 0;               // the writer's next buffer
  bool closing_ = false;
  std::thread writer_;
};

// Standard output over a ByteSink: bytes are gathered in buffers of
// `buffer_size`, and each full one is written behind. `immediate` (for a
// console) delivers every Write before it returns, in the caller's thread.
class BufferedOutput : public OutputStream {
 public:
  BufferedOutput(ByteSink& sink, size_t buffer_size, bool immediate);
  ~BufferedOutput() override;  // flushes

  void Write(std::string_view bytes) override;
  void Flush() override;
  // Once flushed, true if any write has failed.
  bool failed() const override { return writer_.failed(); }

 private:
  const bool immediate_;
  WriteBehind writer_;
  size_t used_ = 0;
};

}  // namespace tandor
