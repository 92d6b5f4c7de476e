#include "cli/text_stream.h"

#include <algorithm>
#include <cstring>

namespace tandor {

namespace {

constexpr char kCtrlZ = '\x1a';

}  // namespace

TextInputStream::TextInputStream(ByteSource& source, StreamKind kind, size_t block_size)
    : source_(source),
      device_(kind == StreamKind::kDevice),
      block_size_(std::max<size_t>(block_size, 2)),
      raw_(new char[block_size_]) {}

size_t TextInputStream::Read(char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  for (;;) {
    size_t produced = Translate(buffer, capacity);
    // Once the bytes before a device's 0x1A are handed out, the next Read
    // reads the device again.
    if (produced > 0 && begin_ == end_) read_ends_here_ = false;
    if (produced > 0 || ended_) return produced;
    if (read_ends_here_) {
      read_ends_here_ = false;
      return 0;
    }
    Fill();
  }
}

// Copies translated bytes into `out`. A CR as the last raw byte is held back
// until the next read tells whether LF follows, unless nothing can follow.
size_t TextInputStream::Translate(char* out, size_t capacity) {
  char* next = out;
  char* const limit = out + capacity;
  while (next < limit && begin_ < end_) {
    size_t span = std::min<size_t>(limit - next, end_ - begin_);
    const char* start = raw_.get() + begin_;
    const void* cr = std::memchr(start, '\r', span);
    size_t plain = cr ? static_cast<const char*>(cr) - start : span;
    std::memcpy(next, start, plain);
    next += plain;
    begin_ += plain;
    if (!cr) continue;
    bool last = begin_ + 1 == end_;
    if (last && !ended_ && !read_ends_here_) break;
    bool crlf = !last && raw_[begin_ + 1] == '\n';
    *next++ = crlf ? '\n' : '\r';
    begin_ += crlf ? 2 : 1;
  }
  return next - out;
}

// Reads the next block behind the one CR that Translate may have held back.
void TextInputStream::Fill() {
  size_t kept = end_ - begin_;
  std::memmove(raw_.get(), raw_.get() + begin_, kept);
  begin_ = 0;
  end_ = kept;
  size_t count = source_.ReadSome(raw_.get() + kept, block_size_ - kept);
  const void* ctrl_z = std::memchr(raw_.get() + kept, kCtrlZ, count);
  end_ = ctrl_z ? static_cast<const char*>(ctrl_z) - raw_.get() : kept + count;
  bool read_ended = ctrl_z != nullptr || count == 0;
  if (!read_ended) return;
  if (device_ && !source_.failed()) {
    read_ends_here_ = true;
  } else {
    ended_ = true;
  }
}

TextOutputStream::TextOutputStream(ByteSink& sink, StreamKind kind, size_t block_size)
    : sink_(sink),
      device_(kind == StreamKind::kDevice),
      block_size_(std::max<size_t>(block_size, 2)),
      buffer_(new char[block_size_]) {}

TextOutputStream::~TextOutputStream() { Flush(); }

void TextOutputStream::Write(std::string_view bytes) {
  while (!bytes.empty() && !failed_) {
    const void* newline = std::memchr(bytes.data(), '\n', bytes.size());
    size_t plain = newline ? static_cast<const char*>(newline) - bytes.data() : bytes.size();
    Append(bytes.substr(0, plain));
    if (newline) Append("\r\n");
    bytes.remove_prefix(newline ? plain + 1 : plain);
  }
  if (device_) Flush();
}

void TextOutputStream::Flush() {
  Deliver(buffer_.get(), used_);
  used_ = 0;
}

void TextOutputStream::Append(std::string_view bytes) {
  if (bytes.size() > block_size_ - used_) {
    Flush();
    // A piece of a block or more goes out directly, without copying.
    if (bytes.size() >= block_size_) {
      Deliver(bytes.data(), bytes.size());
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

void TextOutputStream::Deliver(const char* data, size_t size) {
  if (size > 0 && !failed_ && !sink_.WriteAll(data, size)) failed_ = true;
}

}  // namespace tandor
