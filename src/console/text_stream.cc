#include "console/text_stream.h"

#include <algorithm>
#include <cstring>

#include "base/bytes16.h"

namespace tandor {

namespace {

constexpr char kCtrlZ = '\x1a';

// Some C runtimes (Wine's msvcrt among them) search byte by byte in memchr
// and spend longer on the call than on a short copy in memcpy; a filtered
// stream makes millions of both. These scan 16 bytes at a time: with memchr,
// memcpy and a byte loop instead, the Windows build under Wine takes 1.59
// times as long on bench/filter_bench.sh's 256 MiB of lines.

// The first `byte` in [begin, end), or null.
const char* FindByte(const char* begin, const char* end, char byte) {
  const Bytes16 wanted = Bytes16::Repeat(byte);
  for (; end - begin >= 16; begin += 16) {
    uint32_t matches = Bytes16::Load(begin).EqualMask(wanted);
    if (matches != 0) return begin + LowestBit(matches);
  }
  for (; begin < end; ++begin) {
    if (*begin == byte) return begin;
  }
  return nullptr;
}

// Copies `from[0, size)` to `to` up to the first `stop` byte and gives the
// count copied: `size` when no `stop` occurs. The bytes of `to` after that
// count may be overwritten too, but none at or past `to + size`.
size_t CopyUntil(const char* from, size_t size, char* to, char stop) {
  size_t done = 0;
  const Bytes16 wanted = Bytes16::Repeat(stop);
  for (; size - done >= 16; done += 16) {
    Bytes16 block = Bytes16::Load(from + done);
    block.Store(to + done);
    uint32_t matches = block.EqualMask(wanted);
    if (matches != 0) return done + LowestBit(matches);
  }
  for (; done < size && from[done] != stop; ++done) to[done] = from[done];
  return done;
}

// Copies `from[0, size)` to `to` with each '\n' as CR LF and gives the
// count written; `to` has room for 2 * size bytes. One pass for all lines: a
// filtered stream has millions.
size_t ExpandNewlines(const char* from, size_t size, char* to) {
  size_t done = 0, written = 0;
  // A block may be stored whole however many of its bytes count: the room
  // behind `written` is at least the room the rest of the input needs.
  const Bytes16 newline = Bytes16::Repeat('\n');
  while (size - done >= 16) {
    Bytes16 block = Bytes16::Load(from + done);
    block.Store(to + written);
    uint32_t matches = block.EqualMask(newline);
    if (matches == 0) {
      done += 16;
      written += 16;
      continue;
    }
    size_t plain = LowestBit(matches);
    to[written + plain] = '\r';
    to[written + plain + 1] = '\n';
    done += plain + 1;
    written += plain + 2;
  }
  for (; done < size; ++done) {
    if (from[done] == '\n') to[written++] = '\r';
    to[written++] = from[done];
  }
  return written;
}

}  // namespace

TextInputStream::TextInputStream(InputStream& source, StreamKind kind, size_t block_size)
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
    size_t plain = CopyUntil(raw_.get() + begin_, span, next, '\r');
    next += plain;
    begin_ += plain;
    if (plain == span) continue;
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
  size_t count = source_.Read(raw_.get() + kept, block_size_ - kept);
  const char* ctrl_z = FindByte(raw_.get() + kept, raw_.get() + kept + count, kCtrlZ);
  end_ = ctrl_z ? ctrl_z - raw_.get() : kept + count;
  bool read_ended = ctrl_z != nullptr || count == 0;
  if (!read_ended) return;
  if (device_ && !source_.failed()) {
    read_ends_here_ = true;
  } else {
    ended_ = true;
  }
}

CrLfSink::CrLfSink(ByteSink& sink, size_t block_size)
    : sink_(sink), block_size_(std::max<size_t>(block_size, 1)), translated_(2 * block_size_) {}

bool CrLfSink::WriteAll(const char* data, size_t size) {
  for (size_t done = 0; done < size;) {
    size_t take = std::min(size - done, block_size_);
    size_t count = ExpandNewlines(data + done, take, translated_.data());
    if (!sink_.WriteAll(translated_.data(), count)) return false;
    done += take;
  }
  return true;
}

}  // namespace tandor
