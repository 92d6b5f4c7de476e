// The text forms of Wine's registry files: the escapes Wine writes and reads,
// UTF-8 <-> UTF-16 conversion, and the case-insensitive name comparison.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tandor {

// Decodes an escaped string as Wine's loader does, from the start of `src` up
// to the first unescaped `delimiter`. Gives the count of bytes consumed, the
// delimiter included, or npos when no delimiter follows. A `delimiter` of
// '\0' is found at the end of `src`.
size_t ParseWineString(std::string_view src, char delimiter, std::u16string* units);

// Escapes `units` exactly as Wine saves them; `\` and the two `extra`
// characters get a backslash. A zero unit at the very end is not written.
std::string EscapeWineString(std::u16string_view units, char extra1, char extra2);

// Strict UTF-8 decoding: overlong forms, surrogates and code points above
// U+10FFFF are refused (false, `units` unspecified).
bool Utf8ToUtf16(std::string_view text, std::u16string* units);

// UTF-8 of `units`; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

// The lower-case form Wine compares registry names in. Covers ASCII, Latin-1,
// Latin Extended-A, Greek, Cyrillic and the full-width Latin letters.
char16_t FoldCase(char16_t unit);
std::u16string FoldCase(std::u16string_view units);

}  // namespace tandor
