#include "modes/replace_all.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "base/bytes16.h"

namespace tandor {

namespace {

// The starts whose candidates a search for few occurrences gathers per pass.
constexpr size_t kFewStarts = 64;

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

// The number of bytes that the word `difference` (two words exclusive-or'ed)
// has equal before the first that differs, in memory order; or after the last
// that differs when `from_end`.
inline size_t EqualBytes(uint64_t difference, bool from_end) {
  bool little = std::endian::native == std::endian::little;
  return (little != from_end ? std::countr_zero(difference) : std::countl_zero(difference)) / 8;
}

// The first index in [begin, end) where `a` and `b` differ, or `end`. A word
// at a time: the long stretches that match cost little.
inline size_t FirstDifference(const char* a, const char* b, size_t begin, size_t end) {
  for (; begin + 8 <= end; begin += 8) {
    uint64_t difference = Load<uint64_t>(a + begin) ^ Load<uint64_t>(b + begin);
    if (difference != 0) return begin + EqualBytes(difference, false);
  }
  while (begin < end && a[begin] == b[begin]) ++begin;
  return begin;
}

// One past the last index in [begin, end) where `a` and `b` differ, or `begin`.
inline size_t LastDifference(const char* a, const char* b, size_t begin, size_t end) {
  for (; end >= begin + 8; end -= 8) {
    uint64_t difference = Load<uint64_t>(a + end - 8) ^ Load<uint64_t>(b + end - 8);
    if (difference != 0) return end - EqualBytes(difference, true);
  }
  while (end > begin && a[end - 1] == b[end - 1]) --end;
  return end;
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
    return Bytes16::Load(at)
        .Equal(first_byte)
        .And(Bytes16::Load(at + last).Equal(last_byte))
        .Mask();
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

// Writes to `starts` every position in [from, to) where `search` occurs in
// `text`, overlapping ones included; gives their count. In a pass with no
// branch on the text's bytes: each candidate is stored, and kept if it is an
// occurrence.
size_t AllOccurrences(const char* text, std::string_view search, size_t from, size_t to,
                      size_t* starts) {
  size_t candidates = FindCandidates(text, search, from, to, starts);
  size_t count = 0;
  for (size_t i = 0; i < candidates; ++i) {
    starts[count] = starts[i];
    count += SameBytes(text + starts[i], search.data(), search.size());
  }
  return count;
}

// The places in [from, end) where `text` holds the bytes of `search` at two
// given offsets, found 32 at a time and handed out in order: so that a search
// that moves on by one or two places at a time pays little for each.
class CandidateScan {
 public:
  CandidateScan(const char* text, size_t from, size_t end, std::string_view search, size_t first,
                size_t second)
      : text_(text),
        end_(end),
        first_(first),
        second_(second),
        first_byte_(search[first]),
        second_byte_(search[second]),
        first_bytes_(Bytes16::Repeat(first_byte_)),
        second_bytes_(Bytes16::Repeat(second_byte_)) {
    Scan(from);
  }

  // The first place at or after `at` (never less than in the call before),
  // or `end`.
  size_t Next(size_t at) {
    if (at >= base_ + 32) Scan(at);
    for (;;) {
      if (base_ >= end_) return end_;
      uint32_t left = found_ & ~0u << (at - base_);
      if (left != 0) return base_ + LowestBit(left);
      at = base_ + 32;
      Scan(at);
    }
  }

 private:
  void Scan(size_t base) {
    base_ = base;
    if (base + 32 <= end_) {
      found_ = Mask16(base) | Mask16(base + 16) << 16;
      return;
    }
    found_ = 0;
    for (size_t at = base; at < end_; ++at) {
      found_ |= uint32_t{text_[at + first_] == first_byte_ && text_[at + second_] == second_byte_}
                << (at - base);
    }
  }

  uint32_t Mask16(size_t at) const {
    return Bytes16::Load(text_ + at + first_)
        .Equal(first_bytes_)
        .And(Bytes16::Load(text_ + at + second_).Equal(second_bytes_))
        .Mask();
  }

  const char* const text_;
  const size_t end_, first_, second_;
  const char first_byte_, second_byte_;
  const Bytes16 first_bytes_, second_bytes_;
  size_t base_;     // the first place of the 32 in `found_`
  uint32_t found_;  // bit i: base_ + i is one of the places
};

// The start of the greatest suffix of `search` in byte order, or in the
// reverse order when `reverse`, and that suffix's period.
size_t GreatestSuffix(std::string_view search, bool reverse, size_t* period) {
  size_t best = 0;  // start of the greatest suffix so far
  size_t next = 1;  // start of the suffix compared with it
  size_t offset = 1, best_period = 1;
  while (next + offset <= search.size()) {
    unsigned char a = search[next + offset - 1];
    unsigned char b = search[best + offset - 1];
    if (a == b) {
      if (offset == best_period) {
        next += best_period;
        offset = 1;
      } else {
        ++offset;
      }
    } else if ((a < b) != reverse) {
      next += offset;
      offset = 1;
      best_period = next - best;
    } else {
      best = next++;
      offset = best_period = 1;
    }
  }
  *period = best_period;
  return best;
}

}  // namespace

OccurrenceFinder::OccurrenceFinder(std::string_view search) : search_(search) {
  const size_t size = search.size();
  if (size <= kShortSearch) {
    for (size_t shift = 1; shift < size && !self_overlapping_; ++shift)
      self_overlapping_ = search.substr(shift) == search.substr(0, size - shift);
    return;
  }
  // The later of the greatest suffixes in the two byte orders starts the
  // right part of a critical split: nothing shorter than the search text's
  // period repeats across it. The period found with that suffix is the search
  // text's when the left part recurs that far on.
  size_t forward_period, reverse_period;
  size_t forward = GreatestSuffix(search, false, &forward_period);
  size_t reverse = GreatestSuffix(search, true, &reverse_period);
  split_ = std::max(forward, reverse);
  size_t period = forward > reverse ? forward_period : reverse_period;
  periodic_ = memcmp(search.data(), search.data() + period, split_) == 0;
  shift_ = periodic_ ? period : std::max(split_, size - split_) + 1;
  // The split's byte, where each check begins, and the farther end's.
  probes_[0] = split_ >= size - 1 - split_ ? 0 : split_;
  probes_[1] = split_ >= size - 1 - split_ ? split_ : size - 1;
}

size_t OccurrenceFinder::FindOccurrences(std::string_view text, size_t* from, size_t* starts,
                                         size_t capacity) const {
  const size_t size = search_.size();
  if (size == 0 || size > text.size() || *from > text.size() - size) return 0;
  const size_t end = text.size() - size + 1;
  return size <= kShortSearch ? FindShort(text, from, end, starts, capacity)
                              : FindLong(text, from, end, starts, capacity);
}

// Candidates a window at a time, each checked whole. The candidates go to
// the room left in `starts` (where the occurrences among them are kept), and
// a window spans no more starts than that room holds, so that no occurrence
// is looked for in vain; only when the room is small do they go to a few
// places of their own.
size_t OccurrenceFinder::FindShort(std::string_view text, size_t* from, size_t end, size_t* starts,
                                   size_t capacity) const {
  const size_t size = search_.size();
  size_t few[kFewStarts];
  size_t count = 0;
  size_t free_from = *from;  // the end of the last occurrence
  for (size_t window = *from; window < end;) {
    size_t room = capacity - count;
    size_t* found = room >= kFewStarts ? starts + count : few;
    size_t to = std::min(end, window + std::max(room, kFewStarts));
    size_t hits = AllOccurrences(text.data(), search_, window, to, found);
    if (!self_overlapping_ && found == starts + count) {
      // Occurrences of a search text that cannot overlap itself are all kept,
      // in place: the common case, with nothing to sort out per occurrence.
      count += hits;
      if (count == capacity) {
        *from = starts[count - 1] + size;
        return count;
      }
      window = to;
      continue;
    }
    for (size_t i = 0; i < hits; ++i) {
      if (found[i] < free_from) continue;  // overlaps the one before
      starts[count++] = found[i];
      free_from = found[i] + size;
      if (count == capacity) {
        *from = free_from;
        return count;
      }
    }
    window = to;
  }
  return count;
}

// Two-Way: the right part is compared left to right, and a mismatch moves
// the search past every place that mismatch rules out; only when the right
// part matched is the left part compared. Where the search text is periodic,
// the part of it that the move keeps in view is remembered as matched.
size_t OccurrenceFinder::FindLong(std::string_view text, size_t* from, size_t end, size_t* starts,
                                  size_t capacity) const {
  const char* bytes = text.data();
  const char* search = search_.data();
  const size_t size = search_.size();
  size_t count = 0;
  size_t memory = 0;  // bytes known to match at the start of the place `at`
  CandidateScan candidates(bytes, *from, end, search_, probes_[0], probes_[1]);
  for (size_t at = *from;;) {
    if (memory == 0) at = candidates.Next(at);
    if (at >= end) return count;
    const char* place = bytes + at;
    size_t i = FirstDifference(search, place, std::max(split_, memory), size);
    if (i < size) {
      at += i - split_ + 1;
      memory = 0;
      continue;
    }
    size_t left = LastDifference(search, place, memory, split_);
    if (left <= memory) {
      starts[count++] = at;
      at += size;
      memory = 0;
      if (count == capacity) {
        *from = at;
        return count;
      }
    } else {
      at += shift_;
      memory = periodic_ ? size - shift_ : 0;
    }
  }
}

std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replace,
                       bool* found) {
  std::string result;
  *found =
      ReplaceAll(text, search, replace, [&result](std::string_view piece) { result += piece; });
  return result;
}

}  // namespace tandor
