#include "modes/replace_all.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/bytes16.h"

namespace tandor {

namespace {

// The starts FindOccurrence examines per pass, few enough for its stack.
constexpr size_t kWindow = 64;

template <typename Word>
Word Load(const char* bytes) {
  Word word;
  memcpy(&word, bytes, sizeof word);
  return word;
}

// True if the `size` bytes at `a` and at `b` are equal. Compared inline, a
// word at a time with overlapping words at the end: this runs for every
// candidate, where a library call or a byte loop would cost more than the
// scan that found it.
inline bool SameBytes(const char* a, const char* b, size_t size) {
  if (size >= 8) {
    for (size_t i = 0; i + 8 < size; i += 8) {
      if (Load<uint64_t>(a + i) != Load<uint64_t>(b + i)) return false;
    }
    return Load<uint64_t>(a + size - 8) == Load<uint64_t>(b + size - 8);
  }
  if (size >= 4) {
    return Load<uint32_t>(a) == Load<uint32_t>(b) &&
           Load<uint32_t>(a + size - 4) == Load<uint32_t>(b + size - 4);
  }
  if (size >= 2) {
    return Load<uint16_t>(a) == Load<uint16_t>(b) &&
           Load<uint16_t>(a + size - 2) == Load<uint16_t>(b + size - 2);
  }
  return *a == *b;
}

// Writes to `starts` the positions in [from, to) where `text` holds the first
// byte of `search` and, `search.size() - 1` further on, its last byte; gives
// their count.
size_t FindCandidates(const char* text, std::string_view search, size_t from, size_t to,
                      size_t* starts) {
  const size_t last = search.size() - 1;
  size_t count = 0;
  size_t start = from;
  // 32 starts per step. A step's first candidate is stored whether or not
  // there is one, so that the usual step, with none or one, has no branch
  // that the text can make the processor mispredict.
  const Bytes16 first_byte = Bytes16::Repeat(search.front());
  const Bytes16 last_byte = Bytes16::Repeat(search.back());
  auto mask = [&](const char* at) -> uint32_t {
    return Bytes16::Load(at).EqualMask(first_byte) & Bytes16::Load(at + last).EqualMask(last_byte);
  };
  for (; start + 32 <= to; start += 32) {
    uint32_t found = mask(text + start) | mask(text + start + 16) << 16;
    starts[count] = start + LowestBit(found | 0x80000000u);
    count += found != 0;
    for (found &= found - 1; found != 0; found &= found - 1) {
      starts[count++] = start + LowestBit(found);
    }
  }
  for (; start < to; ++start) {
    starts[count] = start;
    count += text[start] == search.front() && text[start + last] == search.back();
  }
  return count;
}

}  // namespace

size_t FindOccurrences(std::string_view text, std::string_view search, size_t from, size_t to,
                       size_t* starts) {
  size_t candidates = FindCandidates(text.data(), search, from, to, starts);
  size_t count = 0;
  for (size_t i = 0; i < candidates; ++i) {
    starts[count] = starts[i];
    count += SameBytes(text.data() + starts[i], search.data(), search.size());
  }
  return count;
}

size_t FindOccurrence(std::string_view text, std::string_view search, size_t from) {
  if (search.empty() || from > text.size() || search.size() > text.size() - from) {
    return std::string_view::npos;
  }
  if (search.size() == 1) {
    const void* hit = memchr(text.data() + from, search[0], text.size() - from);
    return hit ? static_cast<const char*>(hit) - text.data() : std::string_view::npos;
  }
  const size_t end = text.size() - search.size() + 1;
  size_t starts[kWindow];
  for (size_t window = from; window < end; window += kWindow) {
    if (FindOccurrences(text, search, window, std::min(end, window + kWindow), starts)) {
      return starts[0];
    }
  }
  return std::string_view::npos;
}

std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replace,
                       bool* found) {
  std::string result;
  *found =
      ReplaceAll(text, search, replace, [&result](std::string_view piece) { result += piece; });
  return result;
}

}  // namespace tandor
