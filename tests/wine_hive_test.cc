#include "registry/wine_hive.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tandor {
namespace {

constexpr char kSample[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Abc\\\\Br\\xe4\\[ck\\]ets] 1796596665\n"
    "#time=1dd85d269e02662\n"
    "@=\"default\"\n"
    "\"Name\"=\"first\"\n"
    "\"Count\"=dword:0000002a\n"
    "\"Exp\"=str(2):\"%PATH%\"\n"
    "\"Multi\"=str(7):\"one\\0two\\0\"\n"
    "\"Bin\"=hex:de,ad\n"
    "\"Wrapped\"=hex(1):41,00,\\\n"
    "  42,00,00,00\n"
    "\"Broken\"=\"no end\n"
    "\n"
    "[Software\\\\Abc\\\\Deep\\\\Below] 1796596665\n"
    "\"v\"=\"deep\"\n"
    "\n"
    "[SOFTWARE\\\\abc\\\\BR\\xc4\\[CK\\]ETS] 1796596666\n"
    "\"NAME\"  =  \"second\"\n"
    "\n"
    "[Software\\\\Link] 1796596665\n"
    "#link\n"
    "\"SymbolicLinkValue\"=hex(6):5c,00\n"
    "\n"
    "[\\\\Bad] 1\n"
    "\"Lost\"=\"x\"\n";

Hive Sample() { return Hive::Parse(kSample).value(); }

std::u16string StringData(const HiveValue& value) {
  std::u16string units;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2)
    units += static_cast<char16_t>(static_cast<unsigned char>(value.data[i]) |
                                   static_cast<unsigned char>(value.data[i + 1]) << 8);
  return units;
}

const HivePath kBrackets = {u"Software", u"Abc", u"Br\u00e4[ck]ets"};

TEST(WineHiveTest, RefusesAFileWineWouldNotLoad) {
  EXPECT_FALSE(Hive::Parse("WINE REGISTRY Version 1\n[a]\n").has_value());
  EXPECT_FALSE(Hive::Parse("").has_value());
  EXPECT_TRUE(Hive::Parse("WINE REGISTRY Version 2\r\n").has_value());
}

TEST(WineHiveTest, ReadsTheHeaderRoot) {
  EXPECT_EQ(Sample().relative_to(), (HivePath{u"REGISTRY", u"User", u"S-1-5-21-0-0-0-1000"}));
}

TEST(WineHiveTest, KeysExistWhenNamedOrImplied) {
  Hive hive = Sample();
  EXPECT_TRUE(hive.KeyExists({}));
  EXPECT_TRUE(hive.KeyExists(kBrackets));
  EXPECT_TRUE(hive.KeyExists({u"software", u"ABC", u"BR\u00c4[CK]ETS"}));
  EXPECT_TRUE(hive.KeyExists({u"Software", u"Abc", u"Deep"}));  // only on a path
  EXPECT_TRUE(hive.KeyExists({u"Software"}));
  EXPECT_FALSE(hive.KeyExists({u"Soft"}));
  EXPECT_FALSE(hive.KeyExists({u"Software", u"Abc", u"De"}));
  EXPECT_FALSE(hive.KeyExists({u"Bad"}));  // its header is malformed
  EXPECT_TRUE(hive.IsLink({u"software", u"link"}));
  EXPECT_FALSE(hive.IsLink(kBrackets));
}

TEST(WineHiveTest, ReadsValuesAsWineLoadsThem) {
  Hive hive = Sample();
  struct Expected {
    std::u16string name;
    uint32_t type;
    std::u16string units;
  };
  const Expected strings[] = {
      {u"", 1, std::u16string(u"default\0", 8)},
      {u"Name", 1, std::u16string(u"second\0", 7)},  // the last line wins, any case
      {u"exp", 2, std::u16string(u"%PATH%\0", 7)},
      {u"Multi", 7, std::u16string(u"one\0two\0\0", 9)},
      {u"Wrapped", 1, std::u16string(u"AB\0", 3)},
  };
  for (const Expected& e : strings) {
    const HiveValue* value = hive.FindValue(kBrackets, e.name);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, e.type);
    EXPECT_EQ(StringData(*value), e.units);
  }
  EXPECT_EQ(hive.FindValue(kBrackets, u"Count")->data, std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(hive.FindValue(kBrackets, u"Bin")->type, 3u);
  EXPECT_EQ(hive.FindValue(kBrackets, u"Bin")->data, "\xde\xad");
  const HiveValue* broken = hive.FindValue(kBrackets, u"Broken");
  ASSERT_NE(broken, nullptr);  // malformed data: the value stays, as REG_NONE
  EXPECT_EQ(broken->type, 0u);
  EXPECT_TRUE(broken->data.empty());
  EXPECT_EQ(hive.FindValue(kBrackets, u"Missing"), nullptr);
  EXPECT_EQ(hive.FindValue({u"Software", u"Abc", u"Deep"}, u"v"), nullptr);
  EXPECT_EQ(hive.FindValue({u"Bad"}, u"Lost"), nullptr);
}

TEST(WineHiveTest, AContinuationLineIsNeverAKey) {
  Hive hive = Hive::Parse(
                  "WINE REGISTRY Version 2\n[A]\n\"h\"=hex:01,\\\n[B]\n\"v\"=\"in A\"\n")
                  .value();
  EXPECT_FALSE(hive.KeyExists({u"B"}));
  EXPECT_EQ(hive.FindValue({u"A"}, u"h")->type, 0u);
  EXPECT_NE(hive.FindValue({u"A"}, u"v"), nullptr);
}

std::string Edited(const std::string& text, const HivePath& key, std::u16string_view name,
                   std::u16string_view value) {
  return Hive::Parse(text).value().WithString(key, name, value, 1796596665).value();
}

TEST(WineHiveTest, ReplacesOnlyTheWinningValue) {
  std::string expected = kSample;
  expected.replace(expected.find("\"second\""), 8, "\"new \\\"\\xe9\\\"\"");
  EXPECT_EQ(Edited(kSample, kBrackets, u"name", u"new \"\u00e9\""), expected);
}

TEST(WineHiveTest, ReplacesAllLinesOfAWrappedValue) {
  std::string expected = kSample;
  size_t begin = expected.find("hex(1):41");
  expected.replace(begin, expected.find("\n\"Broken") - begin, "\"AB\"");
  EXPECT_EQ(Edited(kSample, kBrackets, u"Wrapped", u"AB"), expected);
}

TEST(WineHiveTest, AddsANewValueToTheKeysLastSection) {
  std::string expected = kSample;
  expected.insert(expected.find("\n[Software\\\\Link]"), "\"New\"=\"v\"\n");
  EXPECT_EQ(Edited(kSample, kBrackets, u"New", u"v"), expected);
}

TEST(WineHiveTest, GivesAKeyOnAPathItsOwnSection) {
  std::string expected = kSample;
  expected.insert(expected.find("[Software\\\\Abc\\\\Deep\\\\Below]"),
                  "[Software\\\\Abc\\\\Deep] 1796596665\n#time=1dd85d26976c280\n@=\"\"\n\n");
  EXPECT_EQ(Edited(kSample, {u"SOFTWARE", u"abc", u"deep"}, u"", u""), expected);
  Hive edited = Hive::Parse(Edited(kSample, {u"software", u"abc", u"deep"}, u"", u"x")).value();
  EXPECT_NE(edited.FindValue({u"Software", u"Abc", u"Deep"}, u""), nullptr);
}

TEST(WineHiveTest, GivesTheRootASectionInAnEmptyFile) {
  EXPECT_EQ(Edited("WINE REGISTRY Version 2", {}, u"@", u"v"),
            "WINE REGISTRY Version 2\n\n[] 1796596665\n#time=1dd85d26976c280\n\"@\"=\"v\"\n");
}

TEST(WineHiveTest, KeepsLineEndsAndAMissingFinalNewline) {
  EXPECT_EQ(Edited("WINE REGISTRY Version 2\r\n[A]\r\n\"v\"=\"old\"\r\n", {u"A"}, u"v", u"new"),
            "WINE REGISTRY Version 2\r\n[A]\r\n\"v\"=\"new\"\r\n");
  EXPECT_EQ(Edited("WINE REGISTRY Version 2\n[A]\n\"v\"=\"old\"", {u"A"}, u"w", u"new"),
            "WINE REGISTRY Version 2\n[A]\n\"v\"=\"old\"\n\"w\"=\"new\"\n");
}

TEST(WineHiveTest, WritesOnlyIntoAnExistingKey) {
  Hive hive = Sample();
  EXPECT_FALSE(hive.WithString({u"Software", u"Nowhere"}, u"v", u"x", 0).has_value());
  EXPECT_FALSE(hive.WithString({u"Bad"}, u"v", u"x", 0).has_value());
}

TEST(WineHiveTest, WhatItWritesReadsBack) {
  std::u16string text = u"tab\t \"q\" \\ \u00e9a \u20ac1 \U0001F600 \x01" u"7";
  Hive edited = Hive::Parse(Edited(kSample, kBrackets, u"Round\u00e9", text)).value();
  const HiveValue* value = edited.FindValue(kBrackets, u"ROUND\u00c9");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->type, 1u);
  EXPECT_EQ(StringData(*value), text + u'\0');
}

TEST(WineHiveTest, SplitsKeyPathsAsWineDoes) {
  EXPECT_EQ(SplitKeyPath(u"a\\\\b\\"), (HivePath{u"a", u"b"}));
  EXPECT_EQ(SplitKeyPath(u""), HivePath{});
  EXPECT_FALSE(SplitKeyPath(u"\\a").has_value());
}

}  // namespace
}  // namespace tandor
