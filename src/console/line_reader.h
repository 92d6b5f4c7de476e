#pragma once

#include <string>

#include "console/console.h"

namespace tandor {

// Splits standard input into lines for typed input. Lines may be of any
// length and may hold NUL bytes.
class LineReader {
 public:
  explicit LineReader(InputStream& input) : input_(input) {}

  // Reads the next line into `line` without its '\n'. A last line without a
  // line end still counts. Gives false at end of input with nothing read.
  bool ReadLine(std::string* line);

 private:
  InputStream& input_;
  std::string pending_;  // bytes read past the last line handed out
  bool at_end_ = false;
};

}  // namespace tandor
