// ASCII character classes. Only these bytes are ever folded or classified:
// the tool's texts are in whatever code page the system uses.
#pragma once

namespace tandor {

// Option letters and tags fold only a to z; no other byte changes, whatever
// the code page.
inline char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline bool IsHexDigit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The value of a hex digit; IsHexDigit(c) must hold.
inline unsigned HexDigitValue(unsigned char c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

}  // namespace tandor
