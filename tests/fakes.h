// In-memory stand-ins for the platform boundary, so the modes can be tested
// on their own.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "console/console.h"
#include "registry/registry_service.h"

namespace tandor {

// Hands out `data` in reads of at most `chunk` bytes.
class StringInput : public InputStream {
 public:
  explicit StringInput(std::string data, size_t chunk = 4096)
      : data_(std::move(data)), chunk_(chunk) {}
  size_t Read(char* buffer, size_t capacity) override {
    size_t count = std::min({capacity, chunk_, data_.size() - offset_});
    memcpy(buffer, data_.data() + offset_, count);
    offset_ += count;
    return count;
  }
  bool failed() const override { return false; }

 private:
  std::string data_;
  size_t chunk_;
  size_t offset_ = 0;
};

class StringOutput : public OutputStream {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  void Flush() override { ++flushes; }
  bool failed() const override { return false; }
  std::string text;
  int flushes = 0;
};

}  // namespace tandor
