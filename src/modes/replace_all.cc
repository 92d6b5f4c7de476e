#include "modes/replace_all.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tandor {

namespace {

template <typename Word>
Word Load(const char* bytes) {
  Word word;
  memcpy(&word, bytes, sizeof word);
  return word;
}

// True if the `size` (at least 2) bytes at `a` and at `b` are equal. Compared inline, a
// word at a time, with overlapping words at the end: this runs for every
// candidate, where a library call would spill the caller's vector registers
// and a byte loop costs a mispredicted exit.
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
  return Load<uint16_t>(a) == Load<uint16_t>(b) &&
         Load<uint16_t>(a + size - 2) == Load<uint16_t>(b + size - 2);
}

#if defined(__SSE2__)
// Bit i set where `text[i]` is `first` and `text[i + distance]` is `last`,
// for the 16 starts at `text`.
inline unsigned CandidateMask(const char* text, size_t distance, __m128i first, __m128i last) {
  __m128i firsts = _mm_cmpeq_epi8(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(text)));
  __m128i lasts =
      _mm_cmpeq_epi8(last, _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + distance)));
  return _mm_movemask_epi8(_mm_and_si128(firsts, lasts));
}
#endif

// FindOccurrence for a `search` of at least two bytes that fits in `text`
// from `from` on.
size_t FindLong(std::string_view text, std::string_view search, size_t from) {
  const size_t last = search.size() - 1;
  const size_t end = text.size() - last;  // one past the last possible start
  const char* data = text.data();
  size_t start = from;
#if defined(__SSE2__)
  // 32 starts per step; only where the first and the last byte match are the
  // others compared.
  const __m128i first_byte = _mm_set1_epi8(search.front());
  const __m128i last_byte = _mm_set1_epi8(search.back());
  for (; start + 32 <= end; start += 32) {
    uint32_t candidates = CandidateMask(data + start, last, first_byte, last_byte) |
                          CandidateMask(data + start + 16, last, first_byte, last_byte) << 16;
    for (; candidates != 0; candidates &= candidates - 1) {
      size_t candidate = start + __builtin_ctz(candidates);
      if (SameBytes(data + candidate, search.data(), search.size())) return candidate;
    }
  }
#endif
  for (; start < end; ++start) {
    if (data[start] == search.front() && SameBytes(data + start, search.data(), search.size())) {
      return start;
    }
  }
  return std::string_view::npos;
}

}  // namespace

size_t FindOccurrence(std::string_view text, std::string_view search, size_t from) {
  if (search.empty() || from > text.size() || search.size() > text.size() - from) {
    return std::string_view::npos;
  }
  if (search.size() > 1) return FindLong(text, search, from);
  const void* hit = memchr(text.data() + from, search[0], text.size() - from);
  return hit ? static_cast<const char*>(hit) - text.data() : std::string_view::npos;
}

std::string ReplaceAll(std::string_view text, std::string_view search,
                       std::string_view replace, bool* found) {
  std::string result;
  *found = ReplaceAll(text, search, replace,
                      [&result](std::string_view piece) { result += piece; });
  return result;
}

}  // namespace tandor
