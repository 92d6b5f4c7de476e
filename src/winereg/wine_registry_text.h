// Text as Wine's registry files hold it: UTF-16 code units written with
// backslash escapes, and names that compare case-insensitively per unit.
// The tool's own text on Linux is UTF-8; these functions convert exactly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tandor {

// Reads an escaped string as Wine's loader does, from the start of `text` up
// to the first unescaped `end_char`, appending its units to `*units`. Gives
// the number of bytes read, `end_char` included, or 0 when the text ends (or
// holds a zero byte) before `end_char`; `*units` is then unspecified.
size_t ParseWineString(std::string_view text, char end_char, std::u16string* units);

// Appends `units` escaped exactly as Wine writes them. Besides the backslash,
// each character of `quoted` gets a backslash: "\"" in values and value
// names, "[]" in key names.
void AppendWineString(std::u16string_view units, std::string_view quoted, std::string* out);

// `unit` lower-cased as Wine's server folds key and value names.
char16_t FoldCase(char16_t unit);

// True when `a` and `b` have the same length and fold to the same units.
bool EqualFolded(std::u16string_view a, std::u16string_view b);

// Appends `units` as UTF-8. A lone surrogate becomes its three-byte
// generalized form, so no unit is lost.
void AppendUtf8(std::u16string_view units, std::string* out);

// The units of little-endian UTF-16 data, as the registry stores strings;
// an odd last byte is dropped.
std::u16string Utf16FromBytes(std::string_view bytes);

enum class Surrogates { kRefuse, kAccept };

// Converts UTF-8 to units, appending to `*units`. Gives false for anything
// that is not UTF-8: stray or missing continuation bytes, overlong forms,
// code points above U+10FFFF. An encoded surrogate (the form AppendUtf8 gives
// a lone surrogate) is taken only with Surrogates::kAccept.
bool DecodeUtf8(std::string_view utf8, Surrogates surrogates, std::u16string* units);

}  // namespace tandor
