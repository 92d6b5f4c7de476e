#pragma once

namespace tandor {

// Option letters and tags fold only a to z; no other byte changes, whatever
// the code page.
inline char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace tandor
