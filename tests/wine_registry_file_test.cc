// Wine's registry file format: fixtures are snippets of files Wine 8 wrote
// for `wine reg add` values, and lines hand-made to check how its loader
// takes odd input (each outcome here was checked with `wine reg query`).
#include "registry/wine_registry_file.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "registry/wine_text.h"

namespace tandor {
namespace {

constexpr std::string_view kSystem = R"(WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Abc\\Br\xe4\[ck\]ets] 1796600147
#time=1dd85da855250d4
"In"="x"

[Software\\Abc\\Deep\\Er\\Key] 1796600147
#time=1dd85da85695d4c
"V"="deep"

[Software\\Abc\\Settings] 1796600147
#time=1dd85da8546dcae
@="default"
"@"="at-named"
"Accent"="caf\xe9 \x20ac5 \xd83d\xde00 end"
"Bin"=hex:de,ad,be,ef
"Empty"=""
"Exp"=str(2):"%PATH%;x"
"HexF"="\x00e9a"
"LongBin"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\
  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\
  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab
"Multi"=str(7):"one\0two\0"
"Num"=dword:0000002a
"Plain"="pass XX"
"Quote"="say \"hi\" \\ back\\\\slash"
"Tab"="a\tb"

[Software\\Classes\\Wow6432Node\\TypeLib] 1796600067
#time=1dd85da55a643d6
#link
"SymbolicLinkValue"=hex(6):5c,00,52,00
)";

WineKeyPath Path(std::string_view sub_key) {
  WineKeyPath path;
  EXPECT_TRUE(ParseWineKeyPath(sub_key, &path)) << sub_key;
  return path;
}

// "type:data" of the value, or "none".
std::string Read(std::string_view file, std::string_view key, std::string_view name) {
  std::optional<WineValue> value = FindWineValue(file, FindWineKey(file, Path(key)), name);
  if (!value) return "none";
  return std::to_string(value->type) + ":" + value->data;
}

std::string Sz(std::string_view text) { return "1:" + std::string(text) + '\0'; }

struct ReadCase {
  std::string_view key;
  std::string_view name;
  std::string expected;
};

TEST(WineRegistryFileTest, ReadsEachTypeAsWineWroteIt) {
  const ReadCase kCases[] = {
      {"Software\\Abc\\Settings", "Plain", Sz("pass XX")},
      {"SOFTWARE\\abc\\SETTINGS", "pLAIN", Sz("pass XX")},
      {"Software\\\\Abc\\Settings\\", "Plain", Sz("pass XX")},
      {"Software\\Abc\\Settings", "", Sz("default")},
      {"Software\\Abc\\Settings", "@", Sz("at-named")},
      {"Software\\Abc\\Settings", "Accent",
       Sz("caf\xc3\xa9 \xe2\x82\xac"
          "5 \xf0\x9f\x98\x80 end")},
      {"Software\\Abc\\Settings", "HexF",
       Sz("\xc3\xa9"
          "a")},
      {"Software\\Abc\\Settings", "Quote", Sz(R"(say "hi" \ back\\slash)")},
      {"Software\\Abc\\Settings", "Tab", Sz("a\tb")},
      {"Software\\Abc\\Settings", "Empty", Sz("")},
      {"Software\\Abc\\Settings", "Exp", std::string("2:%PATH%;x\0", 11)},
      {"Software\\Abc\\Settings", "Multi", std::string("7:one\0two\0\0", 11)},
      {"Software\\Abc\\Settings", "Num", std::string("4:\x2a\0\0\0", 6)},
      {"Software\\Abc\\Settings", "Bin", "3:\xde\xad\xbe\xef"},
      {"Software\\Abc\\Settings", "LongBin", "3:" + std::string(60, '\xab')},
      {"Software\\Abc\\BR\xc3\x84[CK]ETS", "IN", Sz("x")},
      {"Software\\Abc\\Settings", "Missing", "none"},
      {"Software\\Abc", "Plain", "none"},
      {"Software\\Classes\\Wow6432Node\\TypeLib", "SymbolicLinkValue", "none"},
  };
  for (const ReadCase& c : kCases) {
    EXPECT_EQ(Read(kSystem, c.key, c.name), c.expected) << c.key << " " << c.name;
  }
}

TEST(WineRegistryFileTest, KeysExistByASectionOrADeeperOneButNotAsLinks) {
  const struct {
    std::string_view key;
    bool exists;
  } kCases[] = {
      {"", true},
      {"Software", true},
      {"software\\ABC\\deep", true},
      {"Software\\Abc\\Deep\\Er\\Key", true},
      {"Software\\Abc\\Settings", true},
      {"Software\\Ab", false},
      {"Software\\Abc\\Deep\\Er\\Key\\More", false},
      {"Software\\Abc\\Settings\\Plain", false},
      {"Software\\Classes\\Wow6432Node\\TypeLib", false},
      {"Software\\Classes\\Wow6432Node\\TypeLib\\Below", false},
      {"Software\\Classes\\Wow6432Node", true},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(FindWineKey(kSystem, Path(c.key)).exists, c.exists) << c.key;
}

// Lines no Wine writes, read the way Wine 8's loader read them.
constexpr std::string_view kOdd =
    "WINE REGISTRY Version 2\n"
    "[Software\\\\Probe] 5\n"
    "\"H1\"=hex:1 , 2,3\n"
    "\"H2\"=hex:100000001\n"
    "\"H3\"=hex( 0x1):41,00,42,00,00,00\n"
    "\"H4\"=hex():01\n"
    "\"Unterm\"=\"abc\n"
    "\"Junk\"=\"abc\" trailing\n"
    "\"D1\"=dword:  ffffffffff\n"
    "\"Esc\"=\"\\q\\x\\xZ\\101\\0101\"\n"
    "\"Open\"=\"\xc3\xa9\\ud\\\"\n"
    "\"Dup\"=\"first\"\n"
    "\"dup\"=\"second\"\n"
    "  \"Spaced\"  =  \"sp\"\n"
    "\"Bad1\"=\"a\xc3(b\"\n"
    "\"Bad2\"=\"a\xc0\x80"
    "b\"\n"
    "\"Surr\"=\"a\xed\xa0\x80"
    "b\"\n"
    "\"Big\"=\"a\xf4\x90\x80\x80"
    "b\"\n"
    "\"Trunc\"=\"a\xe2\x82\"\n"
    "\"Str\"=str:\"plain\"\n"
    "@ = \"dflt\"\n"
    "@foo=\"bad\"\n"
    "\"na\\\"me\"=\"q\"\n"
    "[software\\\\PROBE]\n"
    "\"Merged\"=\"m\"\n"
    "[\\\\Software\\\\\\\\Probe6\\\\] 5\n"
    "\"Lead\"=\"l\"\n"
    "[Software\\\\Probe8\n"
    "\"NoClose\"=\"n\"\n"
    "[Software\\\\Probe2]\n"
    "\"Cont\"=hex:01,\\\n"
    "[Software\\\\Probe3]\n"
    "\"Lost\"=\"y\"\r\n"
    "\"CR\"=\"a\rb\"\r\n";

TEST(WineRegistryFileTest, ReadsOddLinesAsWineDoes) {
  const ReadCase kCases[] = {
      {"Software\\Probe", "H1", "3:\x01\x02\x03"},
      {"Software\\Probe", "H2", "3:\x01"},
      {"Software\\Probe", "H3", Sz("AB")},
      {"Software\\Probe", "H4", "0:\x01"},
      {"Software\\Probe", "Unterm", "none"},
      {"Software\\Probe", "Junk", Sz("abc")},
      {"Software\\Probe", "D1", "4:\xff\xff\xff\xff"},
      {"Software\\Probe", "Esc", Sz("qxxZA\b1")},
      {"Software\\Probe", "Open", "none"},
      {"Software\\Probe", "DUP", Sz("second")},
      {"Software\\Probe", "Spaced", Sz("sp")},
      {"Software\\Probe", "Bad1", Sz("a(b")},
      {"Software\\Probe", "Bad2", Sz("ab")},
      {"Software\\Probe", "Surr",
       Sz("a\xed\xa0\x80"
          "b")},
      {"Software\\Probe", "Big", Sz("ab")},
      {"Software\\Probe", "Trunc", Sz("a")},
      {"Software\\Probe", "Str", Sz("plain")},
      {"Software\\Probe", "", Sz("dflt")},
      {"Software\\Probe", "na\"me", Sz("q")},
      {"Software\\Probe", "Merged", Sz("m")},
      {"Software\\Probe6", "Lead", Sz("l")},
      {"Software\\Probe8", "NoClose", "none"},
      {"Software\\Probe2", "Cont", "none"},
      {"Software\\Probe2", "Lost", Sz("y")},
      {"Software\\Probe2", "CR", Sz("a\rb")},
  };
  for (const ReadCase& c : kCases) {
    EXPECT_EQ(Read(kOdd, c.key, c.name), c.expected) << c.key << " " << c.name;
  }
  EXPECT_FALSE(FindWineKey(kOdd, Path("Software\\Probe3")).exists);
}

TEST(WineRegistryFileTest, FilesWineRejectsHoldNothing) {
  const std::string kValue = "[A]\n\"v\"=\"x\"\n";
  const std::string kFiles[] = {
      "WINE REGISTRY Version 1\n" + kValue,
      "\xef\xbb\xbfWINE REGISTRY Version 2\n" + kValue,
      "WINE REGISTRY Version 2\n#arch=win16\n" + kValue,
      "WINE REGISTRY Version 2\n#arch=win64\n#arch=win32\n" + kValue,
      "WINE REGISTRY Version 2\n" + kValue + std::string("\"z\"=\"\0\"\n", 8),
      "",
  };
  for (const std::string& file : kFiles) {
    EXPECT_FALSE(FindWineKey(file, Path("A")).exists) << file;
    EXPECT_EQ(SetWineString(file, Path("A"), "v", "y", {}), std::nullopt) << file;
  }
  EXPECT_EQ(Read("WINE REGISTRY Version 2\r\n#arch=win32\r\n" + kValue, "a", "V"), Sz("x"));
}

TEST(WineRegistryFileTest, SplitsKeyPathsAsRegOpenKeyDoes) {
  const struct {
    std::string sub_key;
    std::optional<WineKeyPath> path;
  } kCases[] = {
      {"", WineKeyPath{}},
      {"Software\\Abc", WineKeyPath{u"Software", u"Abc"}},
      {"Software\\\\Abc\\", WineKeyPath{u"Software", u"Abc"}},
      {"Caf\xc3\xa9", WineKeyPath{u"Caf\u00e9"}},
      {"\\Software", std::nullopt},
      {"Bad\xff", std::nullopt},
      {std::string(257, 'k'), std::nullopt},
  };
  for (const auto& c : kCases) {
    WineKeyPath path;
    bool parsed = ParseWineKeyPath(c.sub_key, &path);
    EXPECT_EQ(parsed, c.path.has_value()) << c.sub_key;
    if (parsed && c.path) {
      EXPECT_EQ(path, *c.path) << c.sub_key;
    }
  }
  WineKeyPath longest;
  EXPECT_TRUE(ParseWineKeyPath(std::string(256, 'k'), &longest));
}

TEST(WineRegistryFileTest, NamesTheRootOfTheFile) {
  EXPECT_EQ(WineFileRootName("WINE REGISTRY Version 2\n"
                             ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"),
            u"S-1-5-21-0-0-0-1000");
  EXPECT_EQ(WineFileRootName(kSystem), u"Machine");
  EXPECT_EQ(WineFileRootName("WINE REGISTRY Version 2\n[A]\n;; All keys relative to X\n"),
            std::nullopt);
}

// `file` with its first `from` replaced by `to`.
std::string Replaced(std::string_view file, std::string_view from, std::string_view to) {
  std::string out(file);
  size_t at = out.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return out.replace(at, from.size(), to);
}

// The data of "LongBin", over its three lines.
std::string_view LongBinData() {
  size_t begin = kSystem.find("hex:ab");
  return kSystem.substr(begin, kSystem.find("\n\"Multi\"") - begin);
}

constexpr WineTime kSettingsTime = {1796600147, 636139000};  // the fixture's own

struct EditCase {
  std::string_view file;
  std::string_view key;
  std::string_view name;
  std::string_view text;
  std::string expected;
};

TEST(WineRegistryFileTest, EditsChangeOnlyTheValue) {
  const EditCase kCases[] = {
      {kSystem, "Software\\Abc\\Settings", "PLAIN", "pass 1.1",
       Replaced(kSystem, "\"Plain\"=\"pass XX\"", "\"Plain\"=\"pass 1.1\"")},
      {kSystem, "Software\\Abc\\Settings", "", "", Replaced(kSystem, "@=\"default\"", "@=\"\"")},
      {kSystem, "Software\\Abc\\Settings", "Num", "was a number",
       Replaced(kSystem, "dword:0000002a", "\"was a number\"")},
      {kSystem, "Software\\Abc\\Settings", "LongBin", "short",
       Replaced(kSystem, LongBinData(), "\"short\"")},
      {kSystem, "Software\\Abc\\Settings", "New", "n",
       Replaced(kSystem, "\"Tab\"=\"a\\tb\"\n", "\"Tab\"=\"a\\tb\"\n\"New\"=\"n\"\n")},
      {kSystem, "Software\\Abc\\Settings", "@", "@",
       Replaced(kSystem, "\"@\"=\"at-named\"", "\"@\"=\"@\"")},
      {kSystem, "Software\\Abc\\Deep\\Er\\Key", "W", "w",
       Replaced(kSystem, "\"V\"=\"deep\"\n", "\"V\"=\"deep\"\n\"W\"=\"w\"\n")},
      {kSystem, "software\\abc\\settings", "Open\xe2\x82\xac",
       "\"q\" \\ \xc3\xa9"
       "a\x01"
       "7\x01"
       "8\t",
       Replaced(kSystem, "\"Tab\"=\"a\\tb\"\n",
                "\"Tab\"=\"a\\tb\"\n\"Open\\x20ac\"=\"\\\"q\\\" \\\\ \\x00e9a\\0017\\18\\t\"\n")},
      {"WINE REGISTRY Version 2\n[A]\n\"v\"=\"1\"\n[B]\n[a]\n#time=1\n\n;c\n[C]\n", "A", "w", "2",
       "WINE REGISTRY Version 2\n[A]\n\"v\"=\"1\"\n[B]\n[a]\n#time=1\n\"w\"=\"2\"\n\n;c\n[C]\n"},
      {"WINE REGISTRY Version 2\n[A]\n\"v\"=\"1\"\n[a]\n \"V\" = \"2\"\n", "A", "v", "3",
       "WINE REGISTRY Version 2\n[A]\n\"v\"=\"1\"\n[a]\n \"V\" = \"3\"\n"},
      {"WINE REGISTRY Version 2\r\n[A]\r\n\"v\"=\"1\"\r\n", "A", "w", "2",
       "WINE REGISTRY Version 2\r\n[A]\r\n\"v\"=\"1\"\r\n\"w\"=\"2\"\r\n"},
      {"WINE REGISTRY Version 2\r\n[A]\r\n\"v\"=\"1\"\r\n", "A", "v", "2",
       "WINE REGISTRY Version 2\r\n[A]\r\n\"v\"=\"2\"\r\n"},
      {"WINE REGISTRY Version 2\n[A]\n\"v\"=\"1\"", "A", "w", "2",
       "WINE REGISTRY Version 2\n[A]\n\"v\"=\"1\"\n\"w\"=\"2\"\n"},
      {"WINE REGISTRY Version 2\n[A]", "A", "", "2", "WINE REGISTRY Version 2\n[A]\n@=\"2\"\n"},
  };
  for (const EditCase& c : kCases) {
    EXPECT_EQ(SetWineString(c.file, Path(c.key), c.name, c.text, kSettingsTime), c.expected)
        << c.key << " " << c.name;
  }
}

TEST(WineRegistryFileTest, AKeyOnlyImpliedGetsASectionAsWineWritesIt) {
  const EditCase kCases[] = {
      {kSystem, "SOFTWARE\\abc\\deep", "V", "v",
       std::string(kSystem) +
           "\n[Software\\\\Abc\\\\Deep] 1796600147\n#time=1dd85da8546dcae\n\"V\"=\"v\"\n"},
      {kSystem, "", "Root", "r",
       std::string(kSystem) + "\n[] 1796600147\n#time=1dd85da8546dcae\n\"Root\"=\"r\"\n"},
      {"WINE REGISTRY Version 2\r\n[A\\\\B\\\\C]", "a\\b", "v", "1",
       "WINE REGISTRY Version 2\r\n[A\\\\B\\\\C]\r\n\r\n[A\\\\B] 1796600147\r\n"
       "#time=1dd85da8546dcae\r\n\"v\"=\"1\"\r\n"},
  };
  for (const EditCase& c : kCases) {
    std::optional<std::string> edited =
        SetWineString(c.file, Path(c.key), c.name, c.text, kSettingsTime);
    EXPECT_EQ(edited.value_or("none"), c.expected) << c.key;
  }
  // The new section keeps the spelling the deeper one has, escapes included.
  std::string edited = *SetWineString("WINE REGISTRY Version 2\n[Br\\xe4\\[k\\]\\\\C]\n",
                                      Path("BR\xc3\x84[K]"), "v", "1", {0, 0});
  EXPECT_NE(edited.find("\n[Br\\xe4\\[k\\]] 0\n#time=19db1ded53e8000\n\"v\"=\"1\"\n"),
            std::string::npos)
      << edited;
}

TEST(WineRegistryFileTest, RefusesEditsItCannotMakeWithCertainty) {
  const EditCase kCases[] = {
      {kSystem, "Software\\Abc\\Settings", "Plain", "bad \xff utf-8", ""},
      {kSystem, "Software\\Abc\\Settings", "Plain", "lone \xed\xa0\x80", ""},
      {kSystem, "Software\\Abc\\Nowhere", "Plain", "x", ""},
      {kSystem, "Software\\Classes\\Wow6432Node\\TypeLib", "v", "x", ""},
      {"WINE REGISTRY Version 2\n[A]\n\"v\"=\"open\n", "A", "w", "x", ""},
      {"WINE REGISTRY Version 2\n[A]\n\"v\"=bogus:1\n", "A", "w", "x", ""},
      {"WINE REGISTRY Version 2\n[A]\n@x=\"1\"\n", "A", "w", "x", ""},
      {"WINE REGISTRY Version 2\n[A]\nstray text\n", "A", "w", "x", ""},
      {"WINE REGISTRY Version 2\n[A]\n[B]\n\"b\"=hex:01,\\\n", "A", "w", "x", ""},
  };
  for (const EditCase& c : kCases) {
    EXPECT_EQ(SetWineString(c.file, Path(c.key), c.name, c.text, {}), std::nullopt)
        << c.file << c.name;
  }
}

TEST(WineRegistryFileTest, WrittenTextReadsBackExactly) {
  const std::string_view kTexts[] = {
      "",
      "pass 1.1",
      "say \"hi\" \\ back\\\\slash",
      "caf\xc3\xa9 \xe2\x82\xac"
      "5 \xf0\x9f\x98\x80",
      "\xc3\xa9"
      "a\xe2\x82\xac"
      "F",
      "tab\there\r\nnew\x1b\x7f",
      "[x]=\"@\"",
      "\x01"
      "7\x02"
      "9",
  };
  for (std::string_view text : kTexts) {
    std::optional<std::string> edited =
        SetWineString(kSystem, Path("Software\\Abc\\Settings"), "Plain", text, {});
    ASSERT_TRUE(edited) << text;
    EXPECT_EQ(Read(*edited, "Software\\Abc\\Settings", "Plain"), Sz(text));
    EXPECT_EQ(Read(*edited, "Software\\Abc\\Settings", "Tab"), Sz("a\tb"));
  }
}

}  // namespace
}  // namespace tandor
