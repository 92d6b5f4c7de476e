// Wine's registry file format: its text escapes, and finding and setting
// values in a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "fakes.h"
#include "spliced.h"
#include "winereg/wine_registry_file.h"
#include "winereg/wine_registry_text.h"

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
      {R"(\q\x\xZ\101\0101")", u"qxxZA\b1", 17},
      {"a\xc3(z\"", u"a(z", 5},
      {"a\xed\xa0\x80z\"", u"a\xd800z", 6},
      {"abc", u"", 0},
      {"ab\\\"", u"", 0},
      {std::string_view("a\0\"", 3), u"", 0},
  };
  for (const auto& c : kCases) {
    std::u16string units;
    EXPECT_EQ(ParseWineString(c.text, '"', &units), c.used) << c.text;
    EXPECT_EQ(c.used == 0 ? u"" : units, c.units) << c.text;
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

// Wine's fold table: units in runs one and two apart, at their ends and just
// past them, which must stay as they are.
TEST(WineTextTest, FoldsCaseWithWinesTable) {
  std::u16string units =
      u"A[\u00c4\u00d7\u00df\u0100\u0101\u012e\u0130\u0178\u042f\u10a0\u2126\uff21";
  for (char16_t& unit : units) unit = FoldCase(unit);
  EXPECT_EQ(units, u"a[\u00e4\u00d7\u00df\u0101\u0101\u012f\u0130\u00ff\u044f\u2d00\u2126\uff41");
}

// The fixture (data/wine_registry.reg) starts with lines as Wine 8 wrote them
// for `wine reg add` values; the "Probe" keys hold lines no Wine writes, each
// read here as Wine 8's loader read it (checked with `wine reg query`).
const std::string kFile = TestFile("data/wine_registry.reg");

WineKeyPath Path(std::string_view sub_key) {
  WineKeyPath path;
  EXPECT_TRUE(ParseWineKeyPath(sub_key, &path)) << sub_key;
  return path;
}

// "type:data" of the value, or "none".
std::string Read(std::string_view file, std::string_view key, std::string_view name) {
  std::optional<WineValue> value = FindWineValue(file, FindWineKey(file, Path(key)), name);
  return value ? std::to_string(value->type) + ":" + value->data : "none";
}

std::string Sz(std::string_view text) { return "1:" + std::string(text) + '\0'; }

constexpr std::string_view kSettings = "Software\\Abc\\Settings";
constexpr std::string_view kProbe = "Software\\Probe";

TEST(WineRegistryFileTest, ReadsValuesAsWinesLoader) {
  const struct {
    std::string_view key, name;
    std::string expected;
  } kCases[] = {
      {kSettings, "Plain", Sz("pass XX")},
      {"SOFTWARE\\abc\\SETTINGS", "pLAIN", Sz("pass XX")},
      {"Software\\\\Abc\\Settings\\", "Plain", Sz("pass XX")},
      {kSettings, "", Sz("default")},
      {kSettings, "@", Sz("at-named")},
      {kSettings, "Exp", std::string("2:%PATH%;x\0", 11)},
      {kSettings, "Num", std::string("4:\x2a\0\0\0", 6)},
      {kSettings, "LongBin", "3:" + std::string(6, '\xab')},
      {"Software\\Abc\\BR\xc3\x84[CK]ETS", "IN", Sz("x")},
      {"Software\\Classes\\Wow6432Node\\TypeLib", "SymbolicLinkValue", "none"},
      {kProbe, "H3", Sz("AB")},
      {kProbe, "Unterm", "none"},
      {kProbe, "na\"me", Sz("q")},
      {kProbe, "Dup", Sz("second")},  // from a repeated section, the last line
      {"Software\\Probe8", "NoClose", "none"},
      {"Software\\Probe2", "Cont", "none"},  // took the next header as its data
      {"Software\\Probe2", "Lost", Sz("y")},
      {"Software\\Probe2", "CR", Sz("a\rb")},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(Read(kFile, c.key, c.name), c.expected) << c.key << " " << c.name;
}

TEST(WineRegistryFileTest, KeysExistByASectionOrADeeperOneButNotAsLinks) {
  const std::pair<std::string_view, bool> kCases[] = {
      {"software\\ABC\\deep", true},
      {"Software\\Ab", false},
      {"Software\\Classes\\Wow6432Node", true},
      {"Software\\Classes\\Wow6432Node\\TypeLib", false},
  };
  for (auto [key, exists] : kCases) EXPECT_EQ(FindWineKey(kFile, Path(key)).exists, exists) << key;
  // A path through a link names the link key and its target.
  WineKey key = FindWineKey(kFile, Path("SOFTWARE\\Classes\\Wow6432Node\\TypeLib\\Below"));
  EXPECT_EQ(std::pair(key.link_depth, key.link_target),
            std::pair(size_t{4}, std::u16string(u"\\R")));
}

// As RegOpenKey: no element longer than 256 units, no leading backslash.
TEST(WineRegistryFileTest, RefusesKeyPathsRegOpenKeyRefuses) {
  WineKeyPath path;
  EXPECT_TRUE(ParseWineKeyPath(std::string(256, 'k'), &path));
  for (std::string bad : {std::string(257, 'k'), std::string("\\Software"), std::string("B\xff")})
    EXPECT_FALSE(ParseWineKeyPath(bad, &path)) << bad;
}

// `file` with its first `from` replaced by `to`.
std::string Replaced(std::string_view file, std::string_view from, std::string_view to) {
  std::string out(file);
  size_t at = out.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return out.replace(at, from.size(), to);
}

// `file` as SetWineString's splices change it; nullopt when it refuses.
std::optional<std::string> Edited(std::string_view file, std::string_view key,
                                  std::string_view name, std::string_view text, WineTime now) {
  std::optional<WineStringEdit> edit = SetWineString(file, Path(key), name, text, now);
  return edit ? std::optional(Spliced(file, edit->splices)) : std::nullopt;
}

TEST(WineRegistryFileTest, EditsChangeOnlyTheValueOrRefuse) {
  const std::string& f = kFile;
  const std::string s(kSettings);
  const std::string kMin = "WINE REGISTRY Version 2\n";
  const std::string kCrLf = "WINE REGISTRY Version 2\r\n#arch=win32\r\n[A]\r\n\"v\"=\"1\"\r\n";
  const std::string kA = "[A]\n\"v\"=\"x\"\n";
  const std::string kPlain = "\"Plain\"=\"pass XX\"\n";
  const std::string kNewKey = " 1796600147\n#time=1dd85da8546dcae\n";  // as Wine writes it
  const struct {
    std::string file, key, name, text;
    std::optional<std::string> expected;  // nullopt: refused
  } kCases[] = {
      {f, s, "PLAIN", "pass 1.1", Replaced(f, kPlain, "\"Plain\"=\"pass 1.1\"\n")},
      {f, s, "LongBin", "short", Replaced(f, "hex:ab,ab,ab,\\\n  ab,ab,\\\n  ab", "\"short\"")},
      {f, s, "New\xe2\x82\xac", "\"q\" \xc3\xa9z",
       Replaced(f, kPlain, kPlain + "\"New\\x20ac\"=\"\\\"q\\\" \\xe9z\"\n")},
      {kMin + kA + "[a]\n \"V\" = \"2\"\n", "A", "v", "3", kMin + kA + "[a]\n \"V\" = \"3\"\n"},
      {kMin + kA + "[B]\n[a]\n#time=1\n\n;c\n[C]\n", "A", "w", "2",
       kMin + kA + "[B]\n[a]\n#time=1dd85da8546dcae\n\"w\"=\"2\"\n\n;c\n[C]\n"},
      {kCrLf, "A", "w", "2", kCrLf + "\"w\"=\"2\"\r\n"},
      {kMin + "[A]", "A", "", "2", kMin + "[A]\n@=\"2\"\n"},
      // A key only implied by a deeper one gets a section, spelled as the
      // deeper one spells it.
      {f, "SOFTWARE\\abc\\deep", "V", "v",
       f + "\n[Software\\\\Abc\\\\Deep]" + kNewKey + "\"V\"=\"v\"\n"},
      {kMin + "[Br\\xe4\\[k\\]\\\\C]", "BR\xc3\x84[K]", "", "1",
       kMin + "[Br\\xe4\\[k\\]\\\\C]\n\n[Br\\xe4\\[k\\]]" + kNewKey + "@=\"1\"\n"},
      {"WINE REGISTRY Version 2\r\n[A\\\\B]", "", "v", "1",
       "WINE REGISTRY Version 2\r\n[A\\\\B]\r\n\r\n[] 1796600147\r\n#time=1dd85da8546dcae\r\n"
       "\"v\"=\"1\"\r\n"},
      // Text after the data, which Wine ignores, stays; the key's time is
      // now (registry_file_fuzz checks that setting the value it holds asks
      // for no change at all).
      {kMin + "[A] 5\n#time=1\n\"v\"=\"1\" x\n\"n\"=dword:1 y", "A", "V", "2",
       kMin + "[A] 1796600147\n#time=1dd85da8546dcae\n\"v\"=\"2\" x\n\"n\"=dword:1 y"},
      {kMin + "[A] 5\n\"n\"=dword:1 y", "A", "n", "2", kMin + "[A] 1796600147\n\"n\"=\"2\" y"},
      {f, s, "Plain", "bad \xff utf-8", std::nullopt},
      {f, "Software\\Abc\\Nowhere", "v", "x", std::nullopt},
      {f, "Software\\Classes\\Wow6432Node\\TypeLib", "v", "x", std::nullopt},
      {f, std::string(kProbe), "v", "x", std::nullopt},  // holds "Unterm"
      {kMin + "[A]\nstray text\n", "A", "w", "x", std::nullopt},
      {kMin + "[A]\n[B]\n\"b\"=hex:01,\\\n", "A", "w", "x", std::nullopt},
      // Files Wine does not load, or not wholly.
      {"WINE REGISTRY Version 1\n" + kA, "A", "v", "y", std::nullopt},
      {kMin + "#arch=win64\n#arch=win32\n" + kA, "A", "v", "y", std::nullopt},
      {kMin + kA + std::string("[B]\n\"z\"=\"\0\"\n", 12), "A", "v", "y", std::nullopt},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Edited(c.file, c.key, c.name, c.text, {1796600147, 636139000}), c.expected)
        << c.key << " " << c.name;
  }
}

}  // namespace
}  // namespace tandor
