#include "console/text_stream.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tandor {

namespace {

constexpr char kCtrlZ = '\x1a';

// Some C runtimes (Wine's msvcrt among them) search byte by byte in memchr
// and spend longer on the call than on a short copy in memcpy; a filtered
// stream makes millions of both. These two keep to SSE2, which every x86-64
// has, and fall back to plain loops elsewhere.

// The first `byte` in [begin, end), or null.
const char* FindByte(const char* begin, const char* end, char byte) {
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(byte);
  for (; end - begin >= 16; begin += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin));
    unsigned matches = _mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted));
    if (matches != 0) return begin + __builtin_ctz(matches);
  }
#endif
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
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(stop);
  for (; size - done >= 16; done += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + done), block);
    unsigned matches = _mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted));
    if (matches != 0) return done + __builtin_ctz(matches);
  }
#endif
  for (; done < size && from[done] != stop; ++done) to[done] = from[done];
  return done;
}

// Copies `from[0, size)` to `to` with each '\n' as CR LF and gives the
// count written; `to` has room for 2 * size bytes. One pass for all lines: a
// filtered stream has millions.
size_t ExpandNewlines(const char* from, size_t size, char* to) {
  size_t done = 0, written = 0;
#if defined(__SSE2__)
  // A block may be stored whole however many of its bytes count: the room
  // behind `written` is at least the room the rest of the input needs.
  const __m128i newline = _mm_set1_epi8('\n');
  while (size - done >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + written), block);
    unsigned matches = _mm_movemask_epi8(_mm_cmpeq_epi8(block, newline));
    if (matches == 0) {
      done += 16;
      written += 16;
      continue;
    }
    size_t plain = __builtin_ctz(matches);
    to[written + plain] = '\r';
    to[written + plain + 1] = '\n';
    done += plain + 1;
    written += plain + 2;
  }
#endif
  for (; done < size; ++done) {
    if (from[done] == '\n') to[written++] = '\r';
    to[written++] = from[done];
  }
  return written;
}

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
  size_t count = source_.ReadSome(raw_.get() + kept, block_size_ - kept);
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
