// The POSIX registry service on a hand-written prefix (data/links), without
// Wine: how it follows Wine's symbolic link keys. (registry_posix_test.cc
// meets a prefix that Wine made.)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "registry/registry_service.h"
#include "registry/registry_text.h"

namespace tandor {
namespace {

// A link anywhere on the path leads to its target, whatever the case of the
// target's names, and the rest of the path goes on below it; loops, targets
// outside the registry, relative and empty ones lead nowhere. A write
// through a link changes the target.
TEST(RegistryServicePosixTest, LinksLeadToTheirTarget) {
  char prefix[] = "/tmp/tandor-links-XXXXXX";
  ASSERT_NE(mkdtemp(prefix), nullptr);
  std::filesystem::copy(TANDOR_TESTS_DIR "/data/links", prefix);
  setenv("WINEPREFIX", prefix, 1);
  const std::string kSoftware = "HKEY_LOCAL_MACHINE\\Software\\";
  const std::pair<std::string, std::string> kCases[] = {
      {"Link\\V", "real"},     {"link\\v", "real"},         {"Chain\\V", "real"},
      {"ToUser\\V", "user"},   {"ToDefault\\V", "default"}, {"LoopA\\V", ""},
      {"Nowhere\\V", ""},      {"Relative\\V", ""},         {"Empty\\V", ""},
      {"Link\\Deeper\\V", ""},
  };
  for (const auto& [path, expected] : kCases)
    EXPECT_EQ(ReadRegistryText(*CreateRegistryService(), kSoftware + path), expected) << path;
  EXPECT_EQ(WriteRegistryText(*CreateRegistryService(), kSoftware + "Chain\\V", "new"), 0);
  EXPECT_EQ(ReadRegistryText(*CreateRegistryService(), kSoftware + "Real\\V"), "new");
  std::filesystem::remove_all(prefix);
}

}  // namespace
}  // namespace tandor
