#include "cli/console.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tandor {

namespace {

// The kernel copies to and from a buffer off a page boundary at about half
// the speed, so each read lands on one.
constexpr size_t kPageSize = 4096;

size_t RoundUpToPage(size_t size) { return (size + kPageSize - 1) / kPageSize * kPageSize; }

}  // namespace

InputStream::InputStream() = default;
InputStream::~InputStream() = default;

std::string_view InputStream::NextWindow(size_t keep, size_t size) {
  return ReadWindow(window_.substr(window_.size() - std::min(keep, window_.size())), size);
}

std::string_view InputStream::ReadWindow(std::string_view kept, size_t size) {
  if (kept.size() > room_before_ || size > room_) {
    // At least a page before the block, so that a short search text's carry
    // never makes the buffer grow again.
    size_t before = RoundUpToPage(std::max({kept.size(), room_before_, kPageSize}));
    size_t room = std::max(size, room_);
    std::unique_ptr<char[]> storage(new char[kPageSize + before + room]);
    uintptr_t address = reinterpret_cast<uintptr_t>(storage.get());
    char* block = storage.get() + (kPageSize - address % kPageSize) % kPageSize + before;
    // `kept` may lie in the old buffer, which lives until it is copied.
    if (!kept.empty()) memcpy(block - kept.size(), kept.data(), kept.size());
    storage_ = std::move(storage);
    block_ = block;
    room_before_ = before;
    room_ = room;
  } else if (!kept.empty()) {
    memmove(block_ - kept.size(), kept.data(), kept.size());
  }
  size_t count = Read(block_, size);
  window_ = std::string_view(block_ - kept.size(), kept.size() + count);
  return window_;
}

}  // namespace tandor
