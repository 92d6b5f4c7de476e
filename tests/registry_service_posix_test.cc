// The POSIX registry service on a hand-written prefix, without Wine: how it
// follows Wine's symbolic link keys. (registry_posix_test.cc meets a prefix
// that Wine made.)
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "registry/registry_service.h"
#include "registry/registry_text.h"

namespace tandor {
namespace {

// A link key's section, its target in hex(6) as Wine writes it.
std::string Link(const std::string& key, const std::string& target) {
  std::string line = "\n[" + key + "] 1\n#link\n\"SymbolicLinkValue\"=hex(6):";
  for (char c : target) {
    char unit[8];
    snprintf(unit, sizeof unit, "%02x,00,", static_cast<unsigned char>(c));
    line += unit;
  }
  line.pop_back();
  return line + "\n";
}

const std::string kSystem =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n"
    "\n[Software\\\\Real] 1\n\"V\"=\"real\"\n" +
    Link("Software\\\\Link", "\\Registry\\Machine\\Software\\Real") +
    Link("Software\\\\Chain", "\\REGISTRY\\MACHINE\\Software\\Link") +
    Link("Software\\\\LoopA", "\\Registry\\Machine\\Software\\LoopB") +
    Link("Software\\\\LoopB", "\\Registry\\Machine\\Software\\LoopA") +
    Link("Software\\\\Nowhere", "\\Registry\\Other\\Software\\Real") +
    Link("Software\\\\Relative", "Software\\Real") +
    Link("Software\\\\ToUser", "\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software") +
    Link("Software\\\\ToDefault", "\\Registry\\User\\.Default\\Software") +
    "\n[Software\\\\Empty] 1\n#link\n";
const std::string kUser =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n[Software] 1\n\"V\"=\"user\"\n";
const std::string kUserDefault =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\.Default\n"
    "\n[Software] 1\n\"V\"=\"default\"\n";

class RegistryServicePosixTest : public testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/tandor-links-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    prefix_ = folder;
    for (auto [name, text] :
         {std::pair{"system.reg", &kSystem}, {"user.reg", &kUser}, {"userdef.reg", &kUserDefault}})
      std::ofstream(prefix_ + "/" + name) << *text;
    setenv("WINEPREFIX", prefix_.c_str(), 1);
  }
  void TearDown() override { system(("rm -rf " + prefix_).c_str()); }

  std::string SystemReg() {
    std::stringstream text;
    text << std::ifstream(prefix_ + "/system.reg").rdbuf();
    return text.str();
  }

  std::string prefix_;
};

TEST_F(RegistryServicePosixTest, LinksAnywhereOnThePathLeadToTheirTarget) {
  const std::pair<std::string, std::string> kCases[] = {
      {"Link\\V", "real"},     {"link\\v", "real"},         {"Chain\\V", "real"},
      {"ToUser\\V", "user"},   {"ToDefault\\V", "default"}, {"LoopA\\V", ""},
      {"Nowhere\\V", ""},      {"Relative\\V", ""},         {"Empty\\V", ""},
      {"Link\\Deeper\\V", ""},
  };
  for (const auto& [path, expected] : kCases) {
    std::unique_ptr<RegistryService> registry = CreateRegistryService();
    EXPECT_EQ(ReadRegistryText(*registry, "HKEY_LOCAL_MACHINE\\Software\\" + path), expected)
        << path;
  }
}

// The value changes at the target; the link keys' sections stay as they were.
TEST_F(RegistryServicePosixTest, WritesThroughALinkChangeTheTargetOnly) {
  const std::string kLinks = SystemReg().substr(SystemReg().find("\n[Software\\\\Link]"));
  const std::string kChain = "HKEY_LOCAL_MACHINE\\Software\\Chain\\V";
  EXPECT_EQ(WriteRegistryText(*CreateRegistryService(), kChain, "new"), 0);
  EXPECT_EQ(ReadRegistryText(*CreateRegistryService(), "HKEY_LOCAL_MACHINE\\Software\\Real\\V"),
            "new");
  for (std::string path : {"LoopB\\V", "Nowhere\\V", "Empty\\V"}) {
    EXPECT_EQ(
        WriteRegistryText(*CreateRegistryService(), "HKEY_LOCAL_MACHINE\\Software\\" + path, "x"),
        1)
        << path;
  }
  EXPECT_TRUE(SystemReg().ends_with(kLinks));
}

}  // namespace
}  // namespace tandor
