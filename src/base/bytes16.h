// Sixteen bytes compared at once: the scans of the filter and the text
// streams are built on this. x86-64 always has SSE2, so there it is one
// instruction each; elsewhere plain loops that compilers vectorize. This is
// the one place that knows which.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tandor {

class Bytes16 {
 public:
  static Bytes16 Load(const char* at) {
#if defined(__SSE2__)
    return Bytes16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
#else
    Bytes16 bytes;
    memcpy(bytes.v_, at, 16);
    return bytes;
#endif
  }

  static Bytes16 Repeat(char byte) {
#if defined(__SSE2__)
    return Bytes16(_mm_set1_epi8(byte));
#else
    Bytes16 bytes;
    memset(bytes.v_, byte, 16);
    return bytes;
#endif
  }

  void Store(char* at) const {
#if defined(__SSE2__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v_);
#else
    memcpy(at, v_, 16);
#endif
  }

  // 0xff in each byte where both are equal, 0 elsewhere.
  Bytes16 Equal(Bytes16 other) const {
#if defined(__SSE2__)
    return Bytes16(_mm_cmpeq_epi8(v_, other.v_));
#else
    Bytes16 bytes;
    for (int i = 0; i < 16; ++i) bytes.v_[i] = v_[i] == other.v_[i] ? '\xff' : 0;
    return bytes;
#endif
  }

  Bytes16 And(Bytes16 other) const {
#if defined(__SSE2__)
    return Bytes16(_mm_and_si128(v_, other.v_));
#else
    Bytes16 bytes;
    for (int i = 0; i < 16; ++i) bytes.v_[i] = static_cast<char>(v_[i] & other.v_[i]);
    return bytes;
#endif
  }

  // Bit i of the result is the top bit of byte i.
  uint32_t Mask() const {
#if defined(__SSE2__)
    return static_cast<uint32_t>(_mm_movemask_epi8(v_));
#else
    uint32_t mask = 0;
    for (int i = 0; i < 16; ++i) mask |= uint32_t{(v_[i] & 0x80) != 0} << i;
    return mask;
#endif
  }

  // Bit i of the result is set when byte i of both is equal.
  uint32_t EqualMask(Bytes16 other) const { return Equal(other).Mask(); }

 private:
#if defined(__SSE2__)
  Bytes16() = default;
  explicit Bytes16(__m128i v) : v_(v) {}
  __m128i v_;
#else
  char v_[16];
#endif
};

// The index of the lowest set bit; `mask` is not 0.
inline int LowestBit(uint32_t mask) { return __builtin_ctz(mask); }

}  // namespace tandor
