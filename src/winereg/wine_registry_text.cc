#include "winereg/wine_registry_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>

#include "base/ascii.h"

namespace tandor {

namespace {

// Wine folds names with the lower-case table of its l_intl.nls. Every unit
// that changes lies in one of these runs: `count` units from `first`, `step`
// apart, each mapped to itself plus `delta` (modulo 2^16). Generated from
// Wine 8's table; runs are sorted and do not overlap.
struct FoldRun {
  uint16_t first;
  uint16_t count;
  uint16_t step;
  uint16_t delta;
};

constexpr FoldRun kFoldRuns[] = {
    {0x0041, 26, 1, 0x0020}, {0x00c0, 23, 1, 0x0020}, {0x00d8, 7, 1, 0x0020},
    {0x0100, 24, 2, 0x0001}, {0x0132, 3, 2, 0x0001},  {0x0139, 8, 2, 0x0001},
    {0x014a, 23, 2, 0x0001}, {0x0178, 1, 1, 0xff87},  {0x0179, 3, 2, 0x0001},
    {0x0181, 1, 1, 0x00d2},  {0x0182, 2, 2, 0x0001},  {0x0186, 1, 1, 0x00ce},
    {0x0187, 1, 1, 0x0001},  {0x0189, 2, 1, 0x00cd},  {0x018b, 1, 1, 0x0001},
    {0x018e, 1, 1, 0x004f},  {0x018f, 1, 1, 0x00ca},  {0x0190, 1, 1, 0x00cb},
    {0x0191, 1, 1, 0x0001},  {0x0193, 1, 1, 0x00cd},  {0x0194, 1, 1, 0x00cf},
    {0x0196, 1, 1, 0x00d3},  {0x0197, 1, 1, 0x00d1},  {0x0198, 1, 1, 0x0001},
    {0x019c, 1, 1, 0x00d3},  {0x019d, 1, 1, 0x00d5},  {0x019f, 1, 1, 0x00d6},
    {0x01a0, 3, 2, 0x0001},  {0x01a6, 1, 1, 0x00da},  {0x01a7, 1, 1, 0x0001},
    {0x01a9, 1, 1, 0x00da},  {0x01ac, 1, 1, 0x0001},  {0x01ae, 1, 1, 0x00da},
    {0x01af, 1, 1, 0x0001},  {0x01b1, 2, 1, 0x00d9},  {0x01b3, 2, 2, 0x0001},
    {0x01b7, 1, 1, 0x00db},  {0x01b8, 1, 1, 0x0001},  {0x01bc, 1, 1, 0x0001},
    {0x01c4, 1, 1, 0x0002},  {0x01c7, 1, 1, 0x0002},  {0x01ca, 1, 1, 0x0002},
    {0x01cd, 8, 2, 0x0001},  {0x01de, 9, 2, 0x0001},  {0x01f1, 1, 1, 0x0002},
    {0x01f4, 1, 1, 0x0001},  {0x01f6, 1, 1, 0xff9f},  {0x01f7, 1, 1, 0xffc8},
    {0x01f8, 20, 2, 0x0001}, {0x0220, 1, 1, 0xff7e},  {0x0222, 9, 2, 0x0001},
    {0x023a, 1, 1, 0x2a2b},  {0x023b, 1, 1, 0x0001},  {0x023d, 1, 1, 0xff5d},
    {0x023e, 1, 1, 0x2a28},  {0x0241, 1, 1, 0x0001},  {0x0243, 1, 1, 0xff3d},
    {0x0244, 1, 1, 0x0045},  {0x0245, 1, 1, 0x0047},  {0x0246, 5, 2, 0x0001},
    {0x0370, 2, 2, 0x0001},  {0x0376, 1, 1, 0x0001},  {0x037f, 1, 1, 0x0074},
    {0x0386, 1, 1, 0x0026},  {0x0388, 3, 1, 0x0025},  {0x038c, 1, 1, 0x0040},
    {0x038e, 2, 1, 0x003f},  {0x0391, 17, 1, 0x0020}, {0x03a3, 9, 1, 0x0020},
    {0x03cf, 1, 1, 0x0008},  {0x03d8, 12, 2, 0x0001}, {0x03f7, 1, 1, 0x0001},
    {0x03f9, 1, 1, 0xfff9},  {0x03fa, 1, 1, 0x0001},  {0x03fd, 3, 1, 0xff7e},
    {0x0400, 16, 1, 0x0050}, {0x0410, 32, 1, 0x0020}, {0x0460, 17, 2, 0x0001},
    {0x048a, 27, 2, 0x0001}, {0x04c0, 1, 1, 0x000f},  {0x04c1, 7, 2, 0x0001},
    {0x04d0, 48, 2, 0x0001}, {0x0531, 38, 1, 0x0030}, {0x10a0, 38, 1, 0x1c60},
    {0x10c7, 1, 1, 0x1c60},  {0x10cd, 1, 1, 0x1c60},  {0x13a0, 80, 1, 0x97d0},
    {0x13f0, 6, 1, 0x0008},  {0x1c90, 43, 1, 0xf440}, {0x1cbd, 3, 1, 0xf440},
    {0x1e00, 75, 2, 0x0001}, {0x1ea0, 48, 2, 0x0001}, {0x1f08, 8, 1, 0xfff8},
    {0x1f18, 6, 1, 0xfff8},  {0x1f28, 8, 1, 0xfff8},  {0x1f38, 8, 1, 0xfff8},
    {0x1f48, 6, 1, 0xfff8},  {0x1f59, 4, 2, 0xfff8},  {0x1f68, 8, 1, 0xfff8},
    {0x1f88, 8, 1, 0xfff8},  {0x1f98, 8, 1, 0xfff8},  {0x1fa8, 8, 1, 0xfff8},
    {0x1fb8, 2, 1, 0xfff8},  {0x1fba, 2, 1, 0xffb6},  {0x1fbc, 1, 1, 0xfff7},
    {0x1fc8, 4, 1, 0xffaa},  {0x1fcc, 1, 1, 0xfff7},  {0x1fd8, 2, 1, 0xfff8},
    {0x1fda, 2, 1, 0xff9c},  {0x1fe8, 2, 1, 0xfff8},  {0x1fea, 2, 1, 0xff90},
    {0x1fec, 1, 1, 0xfff9},  {0x1ff8, 2, 1, 0xff80},  {0x1ffa, 2, 1, 0xff82},
    {0x1ffc, 1, 1, 0xfff7},  {0x2132, 1, 1, 0x001c},  {0x2160, 16, 1, 0x0010},
    {0x2183, 1, 1, 0x0001},  {0x24b6, 26, 1, 0x001a}, {0x2c00, 48, 1, 0x0030},
    {0x2c60, 1, 1, 0x0001},  {0x2c62, 1, 1, 0xd609},  {0x2c63, 1, 1, 0xf11a},
    {0x2c64, 1, 1, 0xd619},  {0x2c67, 3, 2, 0x0001},  {0x2c6d, 1, 1, 0xd5e4},
    {0x2c6e, 1, 1, 0xd603},  {0x2c6f, 1, 1, 0xd5e1},  {0x2c70, 1, 1, 0xd5e2},
    {0x2c72, 1, 1, 0x0001},  {0x2c75, 1, 1, 0x0001},  {0x2c7e, 2, 1, 0xd5c1},
    {0x2c80, 50, 2, 0x0001}, {0x2ceb, 2, 2, 0x0001},  {0x2cf2, 1, 1, 0x0001},
    {0xa640, 23, 2, 0x0001}, {0xa680, 14, 2, 0x0001}, {0xa722, 7, 2, 0x0001},
    {0xa732, 31, 2, 0x0001}, {0xa779, 2, 2, 0x0001},  {0xa77d, 1, 1, 0x75fc},
    {0xa77e, 5, 2, 0x0001},  {0xa78b, 1, 1, 0x0001},  {0xa78d, 1, 1, 0x5ad8},
    {0xa790, 2, 2, 0x0001},  {0xa796, 10, 2, 0x0001}, {0xa7aa, 1, 1, 0x5abc},
    {0xa7ab, 1, 1, 0x5ab1},  {0xa7ac, 1, 1, 0x5ab5},  {0xa7ad, 1, 1, 0x5abf},
    {0xa7ae, 1, 1, 0x5abc},  {0xa7b0, 1, 1, 0x5aee},  {0xa7b1, 1, 1, 0x5ad6},
    {0xa7b2, 1, 1, 0x5aeb},  {0xa7b3, 1, 1, 0x03a0},  {0xa7b4, 8, 2, 0x0001},
    {0xa7c4, 1, 1, 0xffd0},  {0xa7c5, 1, 1, 0x5abd},  {0xa7c6, 1, 1, 0x75c8},
    {0xa7c7, 2, 2, 0x0001},  {0xa7d0, 1, 1, 0x0001},  {0xa7d6, 2, 2, 0x0001},
    {0xa7f5, 1, 1, 0x0001},  {0xff21, 26, 1, 0x0020},
};

bool IsOctalDigit(unsigned char c) { return c >= '0' && c <= '7'; }

void AppendCodePoint(uint32_t code_point, std::u16string* units) {
  if (code_point <= 0xffff) {
    units->push_back(static_cast<char16_t>(code_point));
    return;
  }
  code_point -= 0x10000;
  units->push_back(static_cast<char16_t>(0xd800 | (code_point >> 10)));
  units->push_back(static_cast<char16_t>(0xdc00 | (code_point & 0x3ff)));
}

// Reads the escape after a backslash at `text[*pos]`. Gives false for an
// escape the loader does not know: the character then stands for itself.
bool ParseEscape(std::string_view text, size_t* pos, std::u16string* units) {
  auto at = [&](size_t i) -> unsigned char { return i < text.size() ? text[i] : 0; };
  unsigned char c = at(*pos);
  static constexpr std::string_view kLetters = "abefnrtv";
  static constexpr char16_t kControls[] = {7, 8, 27, 12, 10, 13, 9, 11};
  if (size_t letter = kLetters.find(static_cast<char>(c)); c != 0 && letter != kLetters.npos) {
    units->push_back(kControls[letter]);
    ++*pos;
    return true;
  }
  if (c == 'x') {
    ++*pos;
    if (!IsHexDigit(at(*pos))) {
      units->push_back(u'x');
      return true;
    }
    unsigned value = 0;
    for (int digits = 0; digits < 4 && IsHexDigit(at(*pos)); ++digits)
      value = value * 16 + HexDigitValue(at((*pos)++));
    units->push_back(static_cast<char16_t>(value));
    return true;
  }
  if (IsOctalDigit(c)) {
    unsigned value = 0;
    for (int digits = 0; digits < 3 && IsOctalDigit(at(*pos)); ++digits)
      value = value * 8 + (at((*pos)++) - '0');
    units->push_back(static_cast<char16_t>(value));
    return true;
  }
  return false;
}

// Reads the rest of the UTF-8 sequence whose lead byte `lead` was just read,
// from `text[*pos]`. Gives its code point, or nothing when the sequence is
// not valid UTF-8: a bad lead byte, a missing continuation byte (`*pos` is
// then at the byte that broke it), an overlong form or a code point above
// U+10FFFF. Encoded surrogates pass.
std::optional<uint32_t> ReadUtf8Sequence(std::string_view text, unsigned char lead, size_t* pos) {
  static constexpr uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
  int length = 0;
  if (lead >= 0xc2 && lead <= 0xdf)
    length = 1;
  else if (lead >= 0xe0 && lead <= 0xef)
    length = 2;
  else if (lead >= 0xf0 && lead <= 0xf4)
    length = 3;
  if (length == 0) return std::nullopt;
  uint32_t code_point = lead & (0x3f >> length);
  for (int i = 0; i < length; ++i) {
    unsigned char next = *pos < text.size() ? text[*pos] : 0;
    if ((next ^ 0x80) >= 0x40) return std::nullopt;
    code_point = (code_point << 6) | (next ^ 0x80);
    ++*pos;
  }
  if (code_point < kMinimum[length] || code_point > 0x10ffff) return std::nullopt;
  return code_point;
}

void AppendOctal(unsigned value, bool pad, std::string* out) {
  char digits[4];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 8);
    value /= 8;
  } while (value != 0);
  if (pad) {
    while (count < 3) digits[count++] = '0';
  }
  out->push_back('\\');
  while (count > 0) out->push_back(digits[--count]);
}

void AppendHexEscape(unsigned value, bool pad, std::string* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out->append("\\x");
  bool started = pad;
  for (int shift = 12; shift >= 0; shift -= 4) {
    unsigned digit = (value >> shift) & 0xf;
    if (digit != 0 || shift == 0) started = true;
    if (started) out->push_back(kDigits[digit]);
  }
}

}  // namespace

size_t ParseWineString(std::string_view text, char end_char, std::u16string* units) {
  auto at = [&](size_t i) -> unsigned char { return i < text.size() ? text[i] : 0; };
  size_t pos = 0;
  while (at(pos) != 0 && at(pos) != static_cast<unsigned char>(end_char)) {
    if (at(pos) == '\\') {
      ++pos;
      if (at(pos) == 0) break;
      if (ParseEscape(text, &pos, units)) continue;
    }
    unsigned char c = at(pos++);
    if (c < 0x80) {
      units->push_back(c);
    } else {
      // As the loader does: an invalid sequence is dropped, and the byte
      // that broke it is read again as the start of the next character.
      if (std::optional<uint32_t> code_point = ReadUtf8Sequence(text, c, &pos))
        AppendCodePoint(*code_point, units);
    }
  }
  if (at(pos) == 0) return 0;
  return pos + 1;
}

void AppendWineString(std::u16string_view units, std::string_view quoted, std::string* out) {
  // Control units that have a letter escape; the others are written in octal.
  static constexpr std::string_view kLetters = ".......abtnvfr.............e....";
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t unit = units[i];
    char16_t next = i + 1 < units.size() ? units[i + 1] : 0;
    bool has_next = i + 1 < units.size();
    if (unit > 127) {
      AppendHexEscape(unit, has_next && next < 128 && IsHexDigit(static_cast<unsigned char>(next)),
                      out);
    } else if (unit < 32) {
      if (kLetters[unit] != '.') {
        out->push_back('\\');
        out->push_back(kLetters[unit]);
      } else {
        AppendOctal(unit, has_next && next >= '0' && next <= '7', out);
      }
    } else {
      char c = static_cast<char>(unit);
      if (c == '\\' || quoted.find(c) != quoted.npos) out->push_back('\\');
      out->push_back(c);
    }
  }
}

char16_t FoldCase(char16_t unit) {
  if (unit < 0x80) return (unit >= 'A' && unit <= 'Z') ? unit + 32 : unit;
  const FoldRun* run =
      std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), unit,
                       [](char16_t value, const FoldRun& r) { return value < r.first; });
  if (run == std::begin(kFoldRuns)) return unit;
  --run;
  unsigned offset = unit - run->first;
  if (offset % run->step != 0 || offset / run->step >= run->count) return unit;
  return static_cast<char16_t>(unit + run->delta);
}

bool EqualFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

void AppendUtf8(std::u16string_view units, std::string* out) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t code_point = units[i];
    if (code_point >= 0xd800 && code_point <= 0xdbff && i + 1 < units.size() &&
        units[i + 1] >= 0xdc00 && units[i + 1] <= 0xdfff) {
      code_point = 0x10000 + ((code_point - 0xd800) << 10) + (units[++i] - 0xdc00);
    }
    if (code_point < 0x80) {
      out->push_back(static_cast<char>(code_point));
    } else if (code_point < 0x800) {
      out->push_back(static_cast<char>(0xc0 | (code_point >> 6)));
      out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    } else if (code_point < 0x10000) {
      out->push_back(static_cast<char>(0xe0 | (code_point >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    } else {
      out->push_back(static_cast<char>(0xf0 | (code_point >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
      out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
    }
  }
}

std::u16string Utf16FromBytes(std::string_view bytes) {
  std::u16string units;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return units;
}

bool DecodeUtf8(std::string_view utf8, Surrogates surrogates, std::u16string* units) {
  size_t pos = 0;
  while (pos < utf8.size()) {
    unsigned char lead = utf8[pos++];
    std::optional<uint32_t> code_point = lead;
    if (lead >= 0x80) code_point = ReadUtf8Sequence(utf8, lead, &pos);
    if (!code_point) return false;
    bool surrogate = *code_point >= 0xd800 && *code_point <= 0xdfff;
    if (surrogate && surrogates == Surrogates::kRefuse) return false;
    AppendCodePoint(*code_point, units);
  }
  return true;
}

}  // namespace tandor
