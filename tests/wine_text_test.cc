#include "registry/wine_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>

namespace tandor {
namespace {

TEST(WineTextTest, EscapesAsWineWrites) {
  const struct {
    std::u16string units;
    std::string_view quoted;
    std::string_view escaped;
  } kCases[] = {
      {u"caf\u00e9 \u20ac5 \U0001F600 end", "\"", R"(caf\xe9 \x20ac5 \xd83d\xde00 end)"},
      {u"\u00e9a\u00e9g\u20acF\u20ac", "\"", R"(\x00e9a\xe9g\x20acF\x20ac)"},
      {u"say \"hi\" \\ [x]", "\"", R"(say \"hi\" \\ [x])"},
      {u"Br\u00e4[ck]et\"s", "[]", R"(Br\xe4\[ck\]et"s)"},
      {u"\a\b\t\n\v\f\r\x1b", "\"", R"(\a\b\t\n\v\f\r\e)"},
      {std::u16string(u"\0"
                      "7\x01"
                      "8\x1f\x7f",
                      6),
       "\"", "\\0007\\18\\37\x7f"},
      {u"\xd800x\xdc00", "\"", R"(\xd800x\xdc00)"},
  };
  for (const auto& c : kCases) {
    std::string out;
    AppendWineString(c.units, c.quoted, &out);
    EXPECT_EQ(out, c.escaped);
  }
}

TEST(WineTextTest, LoaderReadsEveryEscapeTheWriterMakes) {
  // Units of every class the writer treats apart, in every order.
  const char16_t kUnits[] = {0,   1,    7,   9,   27,  '0', '7',  '8',    'a',    'F',    'g',
                             '"', '\\', '[', ']', 127, 128, 0xe9, 0x20ac, 0xd83d, 0xde00, 0xffff};
  uint32_t state = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::u16string units;
    for (int i = 0; i < 12; ++i) {
      state = state * 1103515245 + 12345;
      units.push_back(kUnits[(state >> 16) % std::size(kUnits)]);
    }
    for (std::string_view quoted : {"\"", "[]"}) {
      std::string escaped;
      AppendWineString(units, quoted, &escaped);
      escaped.push_back(quoted.back());
      std::u16string read;
      ASSERT_EQ(ParseWineString(escaped, quoted.back(), &read), escaped.size()) << escaped;
      EXPECT_EQ(read, units) << escaped;
    }
  }
}

TEST(WineTextTest, ParsingStopsAtTheEndChar) {
  std::u16string units;
  EXPECT_EQ(ParseWineString("ab\"cd", '"', &units), 3u);
  EXPECT_EQ(units, u"ab");
  const std::string_view kOpen[] = {"abc", "ab\\\"", "ab\\", std::string_view("a\0\"", 3)};
  for (std::string_view open : kOpen) {
    units.clear();
    EXPECT_EQ(ParseWineString(open, '"', &units), 0u) << open;
  }
}

TEST(WineTextTest, Utf8ConvertsExactlyBothWays) {
  const struct {
    std::u16string units;
    std::string utf8;
  } kCases[] = {
      {u"", ""},
      {u"pass XX", "pass XX"},
      {u"caf\u00e9 \u20ac \U0001F600", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {u"\xd800", "\xed\xa0\x80"},
      {u"a\xdc00"
       "b",
       "a\xed\xb0\x80"
       "b"},
      {u"\xdbff\xdfff", "\xf4\x8f\xbf\xbf"},
  };
  for (const auto& c : kCases) {
    std::string utf8;
    AppendUtf8(c.units, &utf8);
    EXPECT_EQ(utf8, c.utf8);
    std::u16string units;
    EXPECT_TRUE(DecodeUtf8(c.utf8, Surrogates::kAccept, &units));
    EXPECT_EQ(units, c.units);
  }
}

TEST(WineTextTest, StrictUtf8RefusesWhatIsNotUtf8) {
  for (std::string_view bad :
       {"\xff", "\x80", "a\xc3", "\xc0\x80", "\xe0\x80\x80", "\xf4\x90\x80\x80",
        "\xf8\x88\x80\x80\x80", "\xc3(", "\xed\xa0\x80"}) {
    std::u16string units;
    EXPECT_FALSE(DecodeUtf8(bad, Surrogates::kRefuse, &units)) << bad;
  }
  std::u16string units;
  EXPECT_TRUE(DecodeUtf8("\xef\xbf\xbf\xf0\x90\x80\x80", Surrogates::kRefuse, &units));
  EXPECT_EQ(units, u"\uffff\U00010000");
}

TEST(WineTextTest, FoldsCaseWithWinesTable) {
  const struct {
    char16_t unit;
    char16_t folded;
  } kCases[] = {
      {u'A', u'a'},     {u'z', u'z'},     {u'[', u'['},     {0xc4, 0xe4},     {0xdf, 0xdf},
      {0x100, 0x101},   {0x101, 0x101},   {0x178, 0xff},    {0x130, 0x130},   {0x3a3, 0x3c3},
      {0x42f, 0x44f},   {0x10a0, 0x2d00}, {0x1e9e, 0x1e9e}, {0x2126, 0x2126}, {0x24b6, 0x24d0},
      {0xff21, 0xff41}, {0xd801, 0xd801}, {0xffff, 0xffff},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(FoldCase(c.unit), c.folded) << std::hex << static_cast<int>(c.unit);
  EXPECT_TRUE(EqualFolded(u"Br\u00c4[CK]ETS", u"br\u00e4[ck]ets"));
  EXPECT_FALSE(EqualFolded(u"ab", u"abc"));
}

}  // namespace
}  // namespace tandor
