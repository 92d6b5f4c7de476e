// Wine's registry file format: its text escapes, finding and setting values
// in a file, and which file of a prefix holds a key.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "base/text_splice.h"
#include "fakes.h"
#include "registry/registry_path.h"
#include "registry/value_types.h"
#include "winereg/wine_key_location.h"
#include "winereg/wine_registry_file.h"
#include "winereg/wine_registry_text.h"

namespace tandor {
namespace {

using namespace std::string_literals;

// Each form as Wine writes it, and read back by the loader to the same units.
TEST(WineTextTest, EscapesAsWineWritesAndReadsBack) {
  const struct {
    std::u16string units;
    std::string_view escaped;  // as a value's data, between double quotes
  } kCases[] = {
      // \x reads up to four digits, so it is padded before a hex digit.
      {u"\u00e9a\u00e9g\u20acF\u20ac\xffff", R"(\x00e9a\xe9g\x20acF\x20ac\xffff)"},
      {u"\a\b\t\n\v\f\r\x1b", R"(\a\b\t\n\v\f\r\e)"},
      // Octal reads up to three digits, so it is padded before an octal digit.
      {std::u16string{0, u'7', 1, u'8', 0x1f, 0x7f}, "\\0007\\18\\37\x7f"},
  };
  for (const auto& c : kCases) {
    std::string out;
    AppendWineString(c.units, "\"", &out);
    EXPECT_EQ(out, c.escaped);
    out.push_back('"');
    std::u16string read;
    EXPECT_EQ(ParseWineString(out, '"', &read), out.size()) << out;
    EXPECT_EQ(read, c.units) << out;
  }
}

// What no Wine writes but its loader reads: an unknown escape stands for its
// character; broken UTF-8 is dropped up to the byte that broke it.
TEST(WineTextTest, ParsesOddTextAsWinesLoader) {
  const struct {
    std::string_view text;
    std::u16string units;
  } kCases[] = {
      {R"(\q\x\xZ\101\0101")", u"qxxZA\b1"},
      {"a\xc3(z\"", u"a(z"},
      {"a\xed\xa0\x80z\"", u"a\xd800z"},
  };
  for (const auto& c : kCases) {
    std::u16string units;
    EXPECT_EQ(ParseWineString(c.text, '"', &units), c.text.size()) << c.text;
    EXPECT_EQ(units, c.units) << c.text;
  }
}

TEST(WineTextTest, Utf8ConvertsExactlyBothWaysAndStrictlyRefusesTheRest) {
  const struct {
    std::u16string units;
    std::string utf8;
  } kCases[] = {
      {u"\u00e9\uffff\U00010000\U0010FFFF", "\xc3\xa9\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
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

// A value's type and data, as FindWineValue gives them.
using TypedData = std::pair<uint32_t, std::string>;

std::optional<TypedData> Read(std::string_view file, std::string_view key, std::string_view name) {
  std::optional<WineValue> value = FindWineValue(file, FindWineKey(file, Path(key)), name);
  if (!value) return std::nullopt;
  return TypedData{value->type, value->data};
}

// A REG_SZ value holding `text`.
TypedData Sz(std::string_view text) { return {kRegSz, std::string(text) + '\0'}; }

const std::string kSettings = "Software\\Abc\\Settings";
const std::string kProbe = "Software\\Probe";

TEST(WineRegistryFileTest, ReadsValuesAsWinesLoader) {
  const struct {
    std::string_view key, name;
    std::optional<TypedData> value;
  } kCases[] = {
      {kSettings, "Num", TypedData{kRegDword, "\x2a\0\0\0"s}},
      {kProbe, "H3", Sz("AB")},
      {"Software\\Probe8", "NoClose", std::nullopt},  // its header has no closing ]
      {"Software\\Probe2", "Cont", std::nullopt},     // took the next header as its data
      {"Software\\Probe2", "Lost", Sz("y")},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(Read(kFile, c.key, c.name), c.value) << c.key << " " << c.name;
}

// As RegOpenKey: no element longer than 256 units, no leading backslash.
TEST(WineRegistryFileTest, RefusesKeyPathsRegOpenKeyRefuses) {
  WineKeyPath path;
  EXPECT_TRUE(ParseWineKeyPath(std::string(256, 'k'), &path));
  for (std::string bad : {std::string(257, 'k'), std::string("\\Software"), std::string("B\xff")})
    EXPECT_FALSE(ParseWineKeyPath(bad, &path)) << bad;
}

// A section of the key `key` ("Software\Real"), as Wine writes its header.
std::string Section(std::string_view key, std::string_view lines = "") {
  std::string section = "\n[";
  for (char c : key) section.append(c == '\\' ? "\\\\" : std::string(1, c));
  return section.append("] 1796600147\n").append(lines);
}

// The section of a link key whose SymbolicLinkValue holds `target`, stored
// as Wine stores it: UTF-16 units in hex.
std::string Link(const std::string& key, std::string_view target) {
  std::string value = "#link\n\"SymbolicLinkValue\"=hex(6):";
  for (char c : target) {
    char unit[8];
    snprintf(unit, sizeof unit, "%02x,00,", c);
    value += unit;
  }
  value.back() = '\n';
  return Section(key, value);
}

// A registry file whose header names `root` (as escaped in the file).
std::string File(std::string_view root, std::initializer_list<std::string> sections) {
  std::string file = "WINE REGISTRY Version 2\n;; All keys relative to ";
  file.append(root).append("\n");
  for (const std::string& section : sections) file += section;
  return file;
}

// Software\Hop1 to Hop16 each link to the next, and Hop17 to Software\Real:
// from Hop2 a path passes through kMaxWineLinks links, from Hop1 one more.
std::string Hops() {
  std::string hops;
  for (int hop = 1; hop <= kMaxWineLinks + 1; ++hop) {
    std::string next = hop <= kMaxWineLinks ? "Hop" + std::to_string(hop + 1) : "Real";
    hops += Link("Software\\Hop" + std::to_string(hop), "\\Registry\\Machine\\Software\\" + next);
  }
  return hops;
}

// A prefix's registry files. Which file each root key is in, and the links a
// fresh prefix has, the black-box table shows through both builds.
const std::map<std::string, std::string> kPrefix = {
    {"system.reg",
     File("\\\\Machine",
          {Section("Software\\Real\\Below"),
           Link("Software\\Link", "\\Registry\\Machine\\Software\\Real"),
           Link("Software\\ToUser", "\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software"),
           Link("Software\\Outside", "\\Registry\\Other\\Software\\Real"),
           Link("Software\\Relative", "Registry\\Machine\\Software\\Real"), Hops()})},
    {"user.reg", File("\\\\User\\\\S-1-5-21-0-0-0-1000", {Section("Software\\Abc")})},
    {"userdef.reg", File("\\\\User\\\\.Default", {Section("Software")})},
};

std::optional<std::string_view> PrefixFile(const std::string& file) { return kPrefix.at(file); }

// HKEY_USERS by the SID in user.reg's header, and link keys followed to
// their targets.
TEST(WineKeyLocationTest, UsersBySidAndLinksToTheirTargets) {
  const struct {
    uint32_t root;
    std::string sub_key;
    std::string file;  // empty: no such key
    std::string path;  // below the file's root
  } kCases[] = {
      // Only HKEY_CLASSES_ROOT takes a leading backslash.
      {kLocalMachine, "\\Software\\Real", "", ""},
      {kUsers, ".default\\Software", "userdef.reg", "Software"},
      {kUsers, "S-1-5-21-0-0-0-1001\\Software", "", ""},
      {kUsers, "", "", ""},
      // A link anywhere on the path, the rest of the path below its target.
      {kLocalMachine, "Software\\link\\Below", "system.reg", "Software\\Real\\Below"},
      {kLocalMachine, "Software\\ToUser\\Abc", "user.reg", "Software\\Abc"},
      {kLocalMachine, "Software\\Hop2\\Below", "system.reg", "Software\\Real\\Below"},
      {kLocalMachine, "Software\\Hop1\\Below", "", ""},
      {kLocalMachine, "Software\\Outside", "", ""},
      {kLocalMachine, "Software\\Relative", "", ""},
      {kLocalMachine, "Software\\Link\\Missing", "", ""},
  };
  for (const auto& c : kCases) {
    std::optional<WineKeyLocation> where = LocateWineKey(c.root, c.sub_key, PrefixFile);
    EXPECT_EQ(where ? where->file : "", c.file) << c.sub_key;
    EXPECT_EQ(where ? where->path : WineKeyPath(), Path(c.path)) << c.sub_key;
  }
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
  if (!edit) return std::nullopt;
  std::string edited;
  size_t done = 0;
  for (const TextSplice& splice : edit->splices) {
    edited.append(file.substr(done, splice.begin - done)).append(splice.text);
    done = splice.end;
  }
  return edited.append(file.substr(done));
}

TEST(WineRegistryFileTest, EditsChangeOnlyTheValueOrRefuse) {
  const std::string kHeader = "WINE REGISTRY Version 2\n";
  const std::string kCrLfFile = "WINE REGISTRY Version 2\r\n#arch=win32\r\n[A]\r\n\"v\"=\"1\"\r\n";
  const std::string kSectionA = "[A]\n\"v\"=\"x\"\n";
  // The time of a new section, after its header, as Wine writes it.
  const std::string kNewSectionTime = " 1796600147\n#time=1dd85da8546dcae\n";
  constexpr std::nullopt_t kRefused = std::nullopt;
  const struct {
    std::string file, key, name, text;
    std::optional<std::string> file_after;
  } kCases[] = {
      {kFile, kSettings, "LongBin", "\"short\"",
       Replaced(kFile, "hex:ab,ab,ab,\\\n  ab,ab,\\\n  ab", R"("\"short\"")")},
      // A new value goes after the last value line of the key's last section,
      // in the file's line ends; the key's time is now.
      {kHeader + kSectionA + "[B]\n[a]\n#time=1\n\n;c\n[C]\n", "A", "w", "2",
       kHeader + kSectionA + "[B]\n[a]\n#time=1dd85da8546dcae\n\"w\"=\"2\"\n\n;c\n[C]\n"},
      {kCrLfFile, "A", "w", "2", kCrLfFile + "\"w\"=\"2\"\r\n"},
      // A key only implied by a deeper one gets a section, spelled as the
      // deeper one spells it.
      {kHeader + "[Br\\xe4\\[k\\]\\\\C]", "BR\xc3\x84[K]", "", "1",
       kHeader + "[Br\\xe4\\[k\\]\\\\C]\n\n[Br\\xe4\\[k\\]]" + kNewSectionTime + "@=\"1\"\n"},
      // Text after the data, which Wine ignores, stays; the key's time is
      // now. Setting the text a value holds changes nothing, not even that.
      {kHeader + "[A] 5\n\"n\"=dword:1 y", "A", "n", "2",
       kHeader + "[A] 1796600147\n\"n\"=\"2\" y"},
      {kHeader + "[A] 5\n\"n\"=\"2\" y", "A", "n", "2", kHeader + "[A] 5\n\"n\"=\"2\" y"},
      {kFile, kProbe, "v", "x", kRefused},                // a string in the key is not closed
      {kHeader + kSectionA, "A", "v", "\xff", kRefused},  // the new text is not UTF-8
      {kHeader + "[A]\nstray text\n", "A", "w", "x", kRefused},
      {kHeader + "[A]\n[B]\n\"b\"=hex:01,\\\n", "A", "w", "x", kRefused},
      // Files Wine does not load, or not wholly.
      {"WINE REGISTRY Version 1\n" + kSectionA, "A", "v", "y", kRefused},
      {kHeader + "#arch=win64\n#arch=win32\n" + kSectionA, "A", "v", "y", kRefused},
      {kHeader + kSectionA + std::string("[B]\n\"z\"=\"\0\"\n", 12), "A", "v", "y", kRefused},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Edited(c.file, c.key, c.name, c.text, {1796600147, 636139000}), c.file_after)
        << c.key << " " << c.name;
  }
}

}  // namespace
}  // namespace tandor
