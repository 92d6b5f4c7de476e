#include "registry/wine_strings.h"

#include <cstdint>
#include <cstdio>

namespace tandor {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

void AppendCodePoint(char32_t code, std::u16string* units) {
  if (code < 0x10000) {
    units->push_back(static_cast<char16_t>(code));
  } else {
    code -= 0x10000;
    units->push_back(static_cast<char16_t>(0xd800 + (code >> 10)));
    units->push_back(static_cast<char16_t>(0xdc00 + (code & 0x3ff)));
  }
}

// Decodes one UTF-8 sequence at the start of `text`; gives its length, or 0
// when it is not a valid, shortest-form sequence of a scalar value.
size_t DecodeUtf8(std::string_view text, char32_t* code) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t length;
  char32_t min;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, min = 0x80, *code = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, min = 0x800, *code = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, min = 0x10000, *code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    *code = (*code << 6) | (byte(i) & 0x3f);
  }
  if (*code < min || *code > 0x10ffff || (*code >= 0xd800 && *code <= 0xdfff)) return 0;
  return length;
}

void AppendUtf8(char32_t code, std::string* text) {
  if (code < 0x80) {
    *text += static_cast<char>(code);
  } else if (code < 0x800) {
    *text += static_cast<char>(0xc0 | (code >> 6));
    *text += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    *text += static_cast<char>(0xe0 | (code >> 12));
    *text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    *text += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    *text += static_cast<char>(0xf0 | (code >> 18));
    *text += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    *text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    *text += static_cast<char>(0x80 | (code & 0x3f));
  }
}

// One escape after a backslash at `src[*pos]`; advances past it.
char16_t ParseEscape(std::string_view src, size_t* pos) {
  char c = src[(*pos)++];
  switch (c) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'e': return 0x1b;
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    case 'x': {
      if (*pos >= src.size() || !IsHexDigit(src[*pos])) return 'x';
      char16_t unit = 0;
      for (int digits = 0; digits < 4 && *pos < src.size() && IsHexDigit(src[*pos]); ++digits)
        unit = static_cast<char16_t>(unit * 16 + HexValue(src[(*pos)++]));
      return unit;
    }
    default:
      if (!IsOctalDigit(c)) return static_cast<unsigned char>(c);
      char16_t unit = c - '0';
      for (int digits = 1; digits < 3 && *pos < src.size() && IsOctalDigit(src[*pos]); ++digits)
        unit = static_cast<char16_t>(unit * 8 + (src[(*pos)++] - '0'));
      return unit;
  }
}

}  // namespace

size_t ParseWineString(std::string_view src, char delimiter, std::u16string* units) {
  units->clear();
  size_t pos = 0;
  while (pos < src.size() && src[pos] != delimiter) {
    unsigned char c = static_cast<unsigned char>(src[pos]);
    if (c == '\\') {
      ++pos;
      if (pos == src.size()) break;  // a backslash at the very end escapes nothing
      units->push_back(ParseEscape(src, &pos));
    } else if (c < 0x80) {
      units->push_back(c);
      ++pos;
    } else {
      // Raw bytes above ASCII are UTF-8; an invalid byte is dropped.
      char32_t code;
      size_t length = DecodeUtf8(src.substr(pos), &code);
      if (length == 0) {
        ++pos;
        continue;
      }
      AppendCodePoint(code, units);
      pos += length;
    }
  }
  if (pos < src.size()) return pos + 1;
  return delimiter == '\0' ? pos : std::string_view::npos;
}

std::string EscapeWineString(std::u16string_view units, char extra1, char extra2) {
  static constexpr char kCEscapes[33] = ".......abtnvfr.............e....";
  std::string out;
  char buffer[16];
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t unit = units[i];
    bool has_next = i + 1 < units.size();
    char16_t next = has_next ? units[i + 1] : 0;
    if (unit > 127) {
      // Four digits when an ASCII hex digit follows, so it is not taken in.
      bool pad = has_next && next < 128 && IsHexDigit(static_cast<char>(next));
      snprintf(buffer, sizeof buffer, pad ? "\\x%04x" : "\\x%x", static_cast<unsigned>(unit));
      out += buffer;
    } else if (unit < 32) {
      if (unit == 0 && !has_next) continue;  // the terminating zero
      if (kCEscapes[unit] != '.') {
        out += '\\';
        out += kCEscapes[unit];
      } else {
        bool pad = has_next && next >= '0' && next <= '7';
        snprintf(buffer, sizeof buffer, pad ? "\\%03o" : "\\%o", static_cast<unsigned>(unit));
        out += buffer;
      }
    } else {
      char c = static_cast<char>(unit);
      if (c == '\\' || c == extra1 || c == extra2) out += '\\';
      out += c;
    }
  }
  return out;
}

bool Utf8ToUtf16(std::string_view text, std::u16string* units) {
  units->clear();
  for (size_t pos = 0; pos < text.size();) {
    char32_t code;
    size_t length = DecodeUtf8(text.substr(pos), &code);
    if (length == 0) return false;
    AppendCodePoint(code, units);
    pos += length;
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string text;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t code = units[i];
    if (code >= 0xd800 && code <= 0xdbff && i + 1 < units.size() && units[i + 1] >= 0xdc00 &&
        units[i + 1] <= 0xdfff) {
      code = 0x10000 + ((code - 0xd800) << 10) + (units[++i] - 0xdc00);
    } else if (code >= 0xd800 && code <= 0xdfff) {
      code = 0xfffd;
    }
    AppendUtf8(code, &text);
  }
  return text;
}

char16_t FoldCase(char16_t u) {
  auto even_pair = [u](char16_t first, char16_t last) {
    return u >= first && u <= last && (u - first) % 2 == 0;
  };
  if (u >= 'A' && u <= 'Z') return u + 32;
  if (u < 0xc0) return u;
  if (u <= 0xde) return u == 0xd7 ? u : u + 32;
  if (even_pair(0x100, 0x136) || even_pair(0x139, 0x147) || even_pair(0x14a, 0x176) ||
      even_pair(0x179, 0x17d))
    return u + 1;
  if (u == 0x178) return 0xff;
  if (u == 0x386) return 0x3ac;
  if (u >= 0x388 && u <= 0x38a) return u + 37;
  if (u == 0x38c) return 0x3cc;
  if (u == 0x38e || u == 0x38f) return u + 63;
  if (u >= 0x391 && u <= 0x3a9 && u != 0x3a2) return u + 32;
  if (u >= 0x400 && u <= 0x40f) return u + 80;
  if (u >= 0x410 && u <= 0x42f) return u + 32;
  if (even_pair(0x460, 0x480) || even_pair(0x48a, 0x4be) || even_pair(0x4d0, 0x52e))
    return u + 1;
  if (u >= 0xff21 && u <= 0xff3a) return u + 32;
  return u;
}

std::u16string FoldCase(std::u16string_view units) {
  std::u16string folded(units);
  for (char16_t& unit : folded) unit = FoldCase(unit);
  return folded;
}

}  // namespace tandor
