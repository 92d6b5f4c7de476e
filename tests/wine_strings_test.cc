#include "registry/wine_strings.h"

#include <gtest/gtest.h>

namespace tandor {
namespace {

struct EscapeCase {
  std::u16string units;
  const char* escaped;
};

TEST(WineStringsTest, EscapesAsWineSavesIt) {
  const EscapeCase cases[] = {
      {u"plain text", "plain text"},
      {u"quote\" back\\slash", R"(quote\" back\\slash)"},
      {u"Br\u00e4", R"(Br\xe4)"},
      {u"\u00e9a", R"(\x00e9a)"},        // padded before an ASCII hex digit
      {u"\u20acF", R"(\x20acF)"},
      {u"\u20acg", R"(\x20acg)"},        // g is no hex digit
      {u"\U0001F600", R"(\xd83d\xde00)"},  // a surrogate pair, two escapes
      {u"\a\b\t\n\v\f\r\x1b", R"(\a\b\t\n\v\f\r\e)"},
      {u"\x01", R"(\1)"},
      {u"\x01" u"5", R"(\0015)"},        // padded before an octal digit
      {u"\x01" u"8", R"(\18)"},
      {std::u16string(u"a\0b", 3), R"(a\0b)"},
      {std::u16string(u"ab\0", 3), "ab"},  // the terminating zero is not written
  };
  for (const EscapeCase& c : cases) {
    EXPECT_EQ(EscapeWineString(c.units, '"', '"'), c.escaped) << c.escaped;
  }
  EXPECT_EQ(EscapeWineString(u"[a\"=]", '[', ']'), R"(\[a"=\])");
}

TEST(WineStringsTest, ParsesEveryEscapeWineWrites) {
  std::u16string all;
  for (char16_t unit = 1; unit < 0x300; ++unit) all += unit;
  all += u"\u20ac0\U0001F600\uffff";
  std::string escaped = EscapeWineString(all, '"', '"') + "\"tail";
  std::u16string parsed;
  EXPECT_EQ(ParseWineString(escaped, '"', &parsed), escaped.size() - 4);
  EXPECT_EQ(parsed, all);
}

struct ParseCase {
  const char* source;
  std::u16string units;
};

TEST(WineStringsTest, ParsesWhatWinesLoaderAccepts) {
  const ParseCase cases[] = {
      {R"(\q\")", u"q\""},            // an unknown escape gives the character
      {R"(\xg)", u"xg"},              // \x without a digit is an x
      {R"(\x12345)", u"\u12345"},     // at most four hex digits
      {R"(\101\8)", u"A8"},           // octal, at most three digits
      {"caf\xc3\xa9", u"caf\u00e9"},  // raw UTF-8
      {"a\xff" "b", u"ab"},           // an invalid byte is dropped
      {"\xf0\x9f\x98\x80", u"\U0001F600"},
  };
  for (const ParseCase& c : cases) {
    std::u16string parsed;
    std::string source = std::string(c.source) + "\"";
    EXPECT_EQ(ParseWineString(source, '"', &parsed), source.size()) << c.source;
    EXPECT_EQ(parsed, c.units) << c.source;
  }
}

TEST(WineStringsTest, NeedsItsDelimiter) {
  std::u16string parsed;
  EXPECT_EQ(ParseWineString(R"(no end\")", '"', &parsed), std::string_view::npos);
  EXPECT_EQ(ParseWineString(R"(a\]b]c)", ']', &parsed), 5u);
  EXPECT_EQ(parsed, u"a]b");
  EXPECT_EQ(ParseWineString("to the end", '\0', &parsed), 10u);
  EXPECT_EQ(parsed, u"to the end");
}

TEST(WineStringsTest, Utf8ConversionIsStrict) {
  std::u16string units;
  EXPECT_TRUE(Utf8ToUtf16("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", &units));
  EXPECT_EQ(units, u"a\u00e9\u20ac\U0001F600");
  for (const char* bad : {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82", "\x80",
                          "\xff", "a\xc3"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad, &units)) << bad;
  }
  EXPECT_TRUE(Utf8ToUtf16("", &units));
  EXPECT_TRUE(units.empty());
}

TEST(WineStringsTest, Utf16ToUtf8ReplacesLoneSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xd800, u'x'}), "\xef\xbf\xbdx");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xdc00}), "\xef\xbf\xbd");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"\0", 1)), std::string(1, '\0'));
}

TEST(WineStringsTest, FoldsCaseLikeWine) {
  EXPECT_EQ(FoldCase(u"ABC xyz [] \u00c4\u00d6\u00dc \u0178 \u0100\u0101"),
            u"abc xyz [] \u00e4\u00f6\u00fc \u00ff \u0101\u0101");
  EXPECT_EQ(FoldCase(u"\u03a9\u0386\u0401\u042f\uff21"), u"\u03c9\u03ac\u0451\u044f\uff41");
  EXPECT_EQ(FoldCase(u"\u00df\u00d7\u20ac"), u"\u00df\u00d7\u20ac");  // no lower form
}

}  // namespace
}  // namespace tandor
