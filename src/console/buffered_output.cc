#include "console/buffered_output.h"

#include <algorithm>
#include <system_error>

namespace tandor {

namespace {

// Each buffer starts on a page of its own.
size_t Stride(size_t buffer_size) {
  return (buffer_size + PageBuffer::kPageSize - 1) / PageBuffer::kPageSize * PageBuffer::kPageSize;
}

}  // namespace

WriteBehind::WriteBehind(ByteSink& sink, size_t buffer_size)
    : sink_(sink), buffer_size_(buffer_size), storage_(kBuffers * Stride(buffer_size)) {
  for (size_t i = 0; i < kBuffers; ++i) buffers_[i] = storage_.data() + i * Stride(buffer_size);
}

WriteBehind::~WriteBehind() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  handed_.notify_one();
  writer_.join();
}

void WriteBehind::Hand(size_t size) {
  if (!writer_.joinable() && !StartWriter()) {
    Write(buffer(), size);
    return;
  }
  std::unique_lock lock(mutex_);
  sizes_[filling_] = size;
  ++queued_;
  handed_.notify_one();
  written_.wait(lock, [this] { return queued_ < kBuffers; });
  // The writer takes buffers in the order handed over, so the one after
  // the last handed over is the one it finished longest ago.
  filling_ = (filling_ + 1) % kBuffers;
}

void WriteBehind::Deliver(size_t size) {
  if (!writer_.joinable()) {
    Write(buffer(), size);
    return;
  }
  if (size > 0) Hand(size);
  std::unique_lock lock(mutex_);
  written_.wait(lock, [this] { return queued_ == 0; });
}

void WriteBehind::Write(const char* data, size_t size) {
  if (size > 0 && !failed() && !sink_.WriteAll(data, size)) {
    failed_.store(true, std::memory_order_relaxed);
  }
}

bool WriteBehind::StartWriter() {
  if (writer_refused_) return false;
  // With one processor the two threads would only take turns, at the cost
  // of the hand-overs.
  if (std::thread::hardware_concurrency() == 1) {
    writer_refused_ = true;
    return false;
  }
  try {
    writer_ = std::thread(&WriteBehind::RunWriter, this);
    return true;
  } catch (const std::system_error&) {
    writer_refused_ = true;
    return false;
  }
}

void WriteBehind::RunWriter() {
  for (;;) {
    size_t index;
    {
      std::unique_lock lock(mutex_);
      handed_.wait(lock, [this] { return queued_ > 0 || closing_; });
      if (queued_ == 0) return;
      index = writing_;
    }
    Write(buffers_[index], sizes_[index]);
    {
      std::lock_guard lock(mutex_);
      --queued_;
      writing_ = (writing_ + 1) % kBuffers;
    }
    written_.notify_one();
  }
}

BufferedOutput::BufferedOutput(ByteSink& sink, size_t buffer_size, bool immediate)
    : immediate_(immediate), writer_(sink, buffer_size) {}

BufferedOutput::~BufferedOutput() { Flush(); }

void BufferedOutput::Write(std::string_view bytes) {
  const size_t capacity = writer_.buffer_size();
  while (!bytes.empty()) {
    size_t take = std::min(bytes.size(), capacity - used_);
    CopyBytes(writer_.buffer() + used_, bytes.data(), take);
    used_ += take;
    bytes.remove_prefix(take);
    if (used_ == capacity) {
      if (immediate_) {
        writer_.Deliver(used_);
      } else {
        writer_.Hand(used_);
      }
      used_ = 0;
    }
  }
  if (immediate_) Flush();
}

void BufferedOutput::Flush() {
  writer_.Deliver(used_);
  used_ = 0;
}

}  // namespace tandor
