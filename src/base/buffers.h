// Buffers for bulk reads and writes, and the copy the streaming code uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace tandor {

// Memory that starts on a page boundary: some kernels copy to and from a
// buffer off one at about half the speed. Here the filter takes 1.08 times
// the processor time on bench/filter_bench.sh's 256 MiB of lines, and 1.13
// on its 1 GiB line, with its buffers where new[] puts them, 16 bytes on.
class PageBuffer {
 public:
  static constexpr size_t kPageSize = 4096;

  // `size` bytes from data() on, and `before` bytes of room in front of it.
  explicit PageBuffer(size_t size, size_t before = 0)
      : storage_(new char[before + kPageSize + size]) {
    uintptr_t address = reinterpret_cast<uintptr_t>(storage_.get() + before);
    data_ = storage_.get() + before + (kPageSize - address % kPageSize) % kPageSize;
  }

  char* data() const { return data_; }

 private:
  std::unique_ptr<char[]> storage_;
  char* data_;
};

namespace copy_detail {

template <size_t kWidth>
inline void Move(char* to, const char* from) {
  char bytes[kWidth];
  memcpy(bytes, from, kWidth);  // of constant size: compiled inline
  memcpy(to, bytes, kWidth);
}

}  // namespace copy_detail

// memcpy for the many short pieces of a filtered stream, inline and without
// a loop below 16 bytes: a runtime's memcpy may cost more per call than the
// copy (Wine's msvcrt, under the Windows build, by far). Overlapping moves at
// both ends cover any size without a byte loop. With memcpy the Windows
// build under Wine took 1.08 to 1.27 times as long on bench/filter_bench.sh's
// 256 MiB of lines, in three runs.
inline void CopyBytes(char* to, const char* from, size_t size) {
  using copy_detail::Move;
  if (size >= 16) {
    for (size_t done = 0; done + 16 < size; done += 16) Move<16>(to + done, from + done);
    Move<16>(to + size - 16, from + size - 16);
  } else if (size >= 8) {
    Move<8>(to, from);
    Move<8>(to + size - 8, from + size - 8);
  } else if (size >= 4) {
    Move<4>(to, from);
    Move<4>(to + size - 4, from + size - 4);
  } else if (size > 0) {
    to[0] = from[0];
    to[size / 2] = from[size / 2];
    to[size - 1] = from[size - 1];
  }
}

}  // namespace tandor
