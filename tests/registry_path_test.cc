#include "registry/registry_path.h"

#include <gtest/gtest.h>

namespace tandor {
namespace {

struct SplitCase {
  const char* path;
  const char* root;
  const char* sub_key;
  const char* value;
};

TEST(RegistryPathTest, SplitsAtFirstAndLastBackslash) {
  const SplitCase cases[] = {
      {R"(HKEY_LOCAL_MACHINE\Software\Abc\Directory\)", "HKEY_LOCAL_MACHINE",
       R"(Software\Abc\Directory)", ""},
      {R"(HKEY_LOCAL_MACHINE\Software\Abc\Directory)", "HKEY_LOCAL_MACHINE", R"(Software\Abc)",
       "Directory"},
      {R"(HKEY_CURRENT_USER\Version)", "HKEY_CURRENT_USER", "", "Version"},
      {R"(HKEY_LOCAL_MACHINE\\Version)", "HKEY_LOCAL_MACHINE", "", "Version"},
      {"HKEY_USERS", "HKEY_USERS", "", ""},
      {R"(\Software\x)", "", "Software", "x"},
      {R"(HKEY_LOCAL_MACHINE\Software\\Value)", "HKEY_LOCAL_MACHINE", R"(Software\)", "Value"},
      {"", "", "", ""},
      {R"(\)", "", "", ""},
  };
  for (const SplitCase& c : cases) {
    RegistryPath parts = SplitRegistryPath(c.path);
    EXPECT_EQ(parts.root_name, c.root) << c.path;
    EXPECT_EQ(parts.sub_key, c.sub_key) << c.path;
    EXPECT_EQ(parts.value_name, c.value) << c.path;
  }
}

TEST(RegistryPathTest, RootNamesMatchExactly) {
  EXPECT_EQ(FindRootKey("HKEY_CLASSES_ROOT"), 0x80000000u);
  EXPECT_EQ(FindRootKey("HKEY_CURRENT_USER"), 0x80000001u);
  EXPECT_EQ(FindRootKey("HKEY_LOCAL_MACHINE"), 0x80000002u);
  EXPECT_EQ(FindRootKey("HKEY_USERS"), 0x80000003u);
  for (const char* name : {"hkey_local_machine", "HKLM", "HKEY_LOCAL_MACHINE ", "", "HKEY_USER"})
    EXPECT_FALSE(FindRootKey(name).has_value()) << name;
}

}  // namespace
}  // namespace tandor
