// Where a Wine prefix keeps each key: the root keys' files, HKEY_USERS by
// the SID in user.reg's header, and link keys followed to their targets.
#include "winereg/wine_key_location.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "registry/registry_path.h"
#include "winereg/wine_registry_text.h"

namespace tandor {
namespace {

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

const std::map<std::string, std::string> kPrefix = {
    {"system.reg",
     File("\\\\Machine",
          {Section("Software\\Classes\\.tnd"), Section("Software\\Real\\Below"),
           Link("Software\\Link", "\\Registry\\Machine\\Software\\Real"),
           Link("Software\\Chain", "\\REGISTRY\\MACHINE\\Software\\Link"),
           Link("Software\\ToUser", "\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software"),
           Link("Software\\LoopA", "\\Registry\\Machine\\Software\\LoopB"),
           Link("Software\\LoopB", "\\Registry\\Machine\\Software\\LoopA"),
           Link("Software\\Outside", "\\Registry\\Other\\Software\\Real"),
           Link("Software\\Relative", "Registry\\Machine\\Software\\Real"), Hops()})},
    {"user.reg", File("\\\\User\\\\S-1-5-21-0-0-0-1000", {Section("Software\\Abc")})},
    {"userdef.reg", File("\\\\User\\\\.Default", {Section("Software")})},
};

std::optional<std::string_view> PrefixFile(const std::string& file) {
  auto found = kPrefix.find(file);
  if (found == kPrefix.end()) return std::nullopt;
  return found->second;
}

TEST(WineKeyLocationTest, EachRootInItsFileAndLinksToTheirTargets) {
  const struct {
    uint32_t root;
    std::string sub_key;
    std::string file;  // empty: no such key
    std::string path;  // below the file's root
  } kCases[] = {
      {kLocalMachine, "Software\\Real", "system.reg", "Software\\Real"},
      {kLocalMachine, "\\Software\\Real", "", ""},
      {kCurrentUser, "software\\ABC", "user.reg", "software\\ABC"},
      {kClassesRoot, "\\.tnd", "system.reg", "Software\\Classes\\.tnd"},
      {kUsers, "S-1-5-21-0-0-0-1000\\Software", "user.reg", "Software"},
      {kUsers, ".default\\Software", "userdef.reg", "Software"},
      {kUsers, "S-1-5-21-0-0-0-1001\\Software", "", ""},
      {kUsers, "", "", ""},
      // A link anywhere on the path, the rest of the path below its target.
      {kLocalMachine, "Software\\link\\Below", "system.reg", "Software\\Real\\Below"},
      {kLocalMachine, "Software\\Chain\\Below", "system.reg", "Software\\Real\\Below"},
      {kLocalMachine, "Software\\ToUser\\Abc", "user.reg", "Software\\Abc"},
      {kLocalMachine, "Software\\Hop2\\Below", "system.reg", "Software\\Real\\Below"},
      {kLocalMachine, "Software\\Hop1\\Below", "", ""},
      {kLocalMachine, "Software\\LoopA", "", ""},
      {kLocalMachine, "Software\\Outside", "", ""},
      {kLocalMachine, "Software\\Relative", "", ""},
      {kLocalMachine, "Software\\Link\\Missing", "", ""},
  };
  for (const auto& c : kCases) {
    std::optional<WineKeyLocation> where = LocateWineKey(c.root, c.sub_key, PrefixFile);
    std::string path;
    for (const std::u16string& element : where ? where->path : WineKeyPath()) {
      if (!path.empty()) path += '\\';
      AppendUtf8(element, &path);
    }
    EXPECT_EQ(where ? where->file : "", c.file) << c.sub_key;
    EXPECT_EQ(path, c.path) << c.sub_key;
    EXPECT_TRUE(!where || where->key.exists) << c.sub_key;
  }
}

}  // namespace
}  // namespace tandor
