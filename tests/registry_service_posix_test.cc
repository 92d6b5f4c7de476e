// The POSIX registry service on a hand-written prefix (data/links), without
// Wine: how it follows Wine's symbolic link keys. (registry_posix_test.cc
// meets a prefix that Wine made.)
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

class RegistryServicePosixTest : public testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/tandor-links-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    prefix_ = folder;
    ASSERT_EQ(system(("cp " TANDOR_TESTS_DIR "/data/links/*.reg " + prefix_).c_str()), 0);
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
