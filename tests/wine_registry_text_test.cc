#include "winereg/wine_registry_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tandor {
namespace {

// Each form as Wine writes it, and read back by the loader to the same units.
TEST(WineTextTest, EscapesAsWineWritesAndReadsBack) {
  const struct {
    std::u16string units;
    std::string_view quoted, escaped;
  } kCases[] = {
      {u"caf\u00e9 \U0001F600 \xd800x\xdc00", "\"", R"(caf\xe9 \xd83d\xde00 \xd800x\xdc00)"},
      // \x reads up to four digits, so it is padded before a hex digit.
      {u"\u00e9a\u00e9g\u20acF\u20ac\xffff", "\"", R"(\x00e9a\xe9g\x20acF\x20ac\xffff)"},
      {u"say \"hi\" \\ [x]", "\"", R"(say \"hi\" \\ [x])"},
      {u"Br\u00e4[ck]et\"s", "[]", R"(Br\xe4\[ck\]et"s)"},
      {u"\a\b\t\n\v\f\r\x1b", "\"", R"(\a\b\t\n\v\f\r\e)"},
      // Octal reads up to three digits, so it is padded before an octal digit.
      {std::u16string{0, u'7', 1, u'8', 0x1f, 0x7f}, "\"", "\\0007\\18\\37\x7f"},
  };
  for (const auto& c : kCases) {
    std::string out;
    AppendWineString(c.units, c.quoted, &out);
    EXPECT_EQ(out, c.escaped);
    out.push_back(c.quoted.back());
    std::u16string read;
    EXPECT_EQ(ParseWineString(out, c.quoted.back(), &read), out.size()) << out;
    EXPECT_EQ(read, c.units) << out;
  }
}

// What no Wine writes but its loader reads: an unknown escape stands for its
// character; broken UTF-8 is dropped up to the byte that broke it.
TEST(WineTextTest, ParsesOddTextAsWinesLoader) {
  const struct {
    std::string_view text;
    std::u16string units;
    size_t used;  // 0: the end char is missing
  } kCases[] = {
      {"ab\"cd", u"ab", 3},
      {R"(\q\x\xZ\101\0101")", u"qxxZA\b1", 17},
      {"a\xc3(z\"", u"a(z", 5},
      {"a\xf4\x90\x80\x80z\"", u"az", 7},
      {"a\xed\xa0\x80z\"", u"a\xd800z", 6},
      {"a\xe2\x82\"", u"a", 4},
      {"abc", u"", 0},
      {"ab\\\"", u"", 0},
      {std::string_view("a\0\"", 3), u"", 0},
  };
  for (const auto& c : kCases) {
    std::u16string units;
    EXPECT_EQ(ParseWineString(c.text, '"', &units), c.used) << c.text;
    if (c.used != 0) {
      EXPECT_EQ(units, c.units) << c.text;
    }
  }
}

TEST(WineTextTest, Utf8ConvertsExactlyBothWaysAndStrictlyRefusesTheRest) {
  const struct {
    std::u16string units;
    std::string utf8;
  } kCases[] = {
      {u"caf\u00e9 \u20ac \U0001F600", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {u"\uffff\U00010000\U0010FFFF", "\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
      // A lone surrogate keeps its unit in the generalized three-byte form.
      {u"\xd800", "\xed\xa0\x80"},
      {u"a\xdc00", "a\xed\xb0\x80"},
  };
  for (const auto& c : kCases) {
    std::string utf8;
    AppendUtf8(c.units, &utf8);
    EXPECT_EQ(utf8, c.utf8);
    std::u16string units;
    EXPECT_TRUE(DecodeUtf8(c.utf8, Surrogates::kAccept, &units));
    EXPECT_EQ(units, c.units);
  }
  for (std::string_view bad : {"\xff", "\x80", "a\xc3", "\xc3(", "\xc0\x80", "\xe0\x80\x80",
                               "\xf4\x90\x80\x80", "\xf8\x88\x80\x80\x80", "\xed\xa0\x80"}) {
    std::u16string units;
    EXPECT_FALSE(DecodeUtf8(bad, Surrogates::kRefuse, &units)) << bad;
  }
}

TEST(WineTextTest, FoldsCaseWithWinesTable) {
  const std::pair<char16_t, char16_t> kCases[] = {
      {u'A', u'a'},     {u'[', u'['},     {0xc4, 0xe4},     {0xdf, 0xdf},     {0x100, 0x101},
      {0x101, 0x101},   {0x12e, 0x12f},   {0x130, 0x130},   {0x178, 0xff},    {0x42f, 0x44f},
      {0x10a0, 0x2d00}, {0x2126, 0x2126}, {0xff21, 0xff41}, {0xffff, 0xffff},
  };
  for (auto [unit, folded] : kCases)
    EXPECT_EQ(FoldCase(unit), folded) << std::hex << static_cast<int>(unit);
  EXPECT_TRUE(EqualFolded(u"Br\u00c4[CK]ETS", u"br\u00e4[ck]ets"));
  EXPECT_FALSE(EqualFolded(u"ab", u"abc"));
}

}  // namespace
}  // namespace tandor
