#include "console/line_reader.h"

namespace tandor {

bool LineReader::ReadLine(std::string* line) {
  size_t scanned = 0;
  for (;;) {
    size_t newline = pending_.find('\n', scanned);
    if (newline != std::string::npos) {
      line->assign(pending_, 0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    scanned = pending_.size();
    if (at_end_) break;
    char block[4096];
    size_t count = input_.Read(block, sizeof block);
    if (count == 0) {
      at_end_ = true;
    } else {
      pending_.append(block, count);
    }
  }
  if (pending_.empty()) return false;
  line->swap(pending_);
  pending_.clear();
  return true;
}

}  // namespace tandor
