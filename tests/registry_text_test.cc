#include "registry/registry_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes.h"
#include "registry/registry_path.h"

namespace tandor {
namespace {

using namespace std::string_literals;

TEST(RegistryPathTest, SplitsAtFirstAndLastBackslash) {
  const struct {
    const char* path;
    const char* root;
    const char* sub_key;
    const char* value;
  } kCases[] = {
      {R"(HKEY_LOCAL_MACHINE\Software\Abc\Directory\)", "HKEY_LOCAL_MACHINE",
       R"(Software\Abc\Directory)", ""},
      {R"(HKEY_LOCAL_MACHINE\Software\Abc\Directory)", "HKEY_LOCAL_MACHINE", R"(Software\Abc)",
       "Directory"},
      {R"(HKEY_CURRENT_USER\Version)", "HKEY_CURRENT_USER", "", "Version"},
      {R"(HKEY_LOCAL_MACHINE\\Version)", "HKEY_LOCAL_MACHINE", "", "Version"},
      {"HKEY_USERS", "HKEY_USERS", "", ""},
      {R"(\Software\x)", "", "Software", "x"},
      {R"(HKEY_LOCAL_MACHINE\Software\\Value)", "HKEY_LOCAL_MACHINE", R"(Software\)", "Value"},
  };
  for (const auto& c : kCases) {
    RegistryPath parts = SplitRegistryPath(c.path);
    EXPECT_EQ(parts.root_name + "|" + parts.sub_key + "|" + parts.value_name,
              std::string(c.root) + "|" + c.sub_key + "|" + c.value)
        << c.path;
  }
}

using Calls = std::vector<std::string>;

const std::string kAbc = "HKEY_LOCAL_MACHINE\\Software\\Abc\\";

// A registry holding one value, HKEY_LOCAL_MACHINE\Software\Abc\V.
FakeRegistry With(const FakeValue& value) {
  FakeRegistry registry;
  registry.Put(0x80000002, "Software\\Abc", "V", value);
  return registry;
}

TEST(RegistryTextTest, ReadsOnlyStringValuesUnder1024Bytes) {
  const std::pair<FakeValue, std::string> kCases[] = {
      {{kRegSz, "1.5\0"s}, "1.5"},
      {{kRegSz, std::string(1022, 'x') + '\0'}, std::string(1022, 'x')},
      {{kRegSz, std::string(1023, 'x') + '\0'}, ""},
      {{kRegSz, std::string(1024, 'x')}, ""},
      {{kRegExpandSz, "x\0"s}, ""},
      {{kRegBinary, "x\0"s}, ""},
      // Data stored without its zero ends at the reported size; data with an
      // inner zero ends there.
      {{kRegSz, "abc"}, "abc"},
      {{kRegSz, "ab\0c\0"s}, "ab"},
      {{kRegSz, ""}, ""},
  };
  for (const auto& [value, expected] : kCases) {
    FakeRegistry registry = With(value);
    EXPECT_EQ(ReadRegistryText(registry, kAbc + "V"), expected) << value.data;
    EXPECT_EQ(registry.open_keys, 0);
  }
}

// What reaches the service, and that every key opened is closed.
TEST(RegistryTextTest, ReadAsksTheServiceForTheSizeThenExactlyThatMuch) {
  const std::string kMaxPath = kAbc + std::string(1023 - kAbc.size(), 'V');
  const std::string kLongPath = kMaxPath + "V";
  const struct {
    std::string path;
    size_t grow_by;  // between the two queries
    std::string expected;
    Calls calls;
  } kCases[] = {
      {kAbc + "V", 0, "x", {"open Software\\Abc read", "query V", "query V 2", "close"}},
      {kAbc + "V", 2, "", {"open Software\\Abc read", "query V", "query V 2", "close"}},
      {kAbc + "W", 0, "", {"open Software\\Abc read", "query W", "close"}},
      {"HKEY_LOCAL_MACHINE\\Software\\V", 0, "", {"open Software read"}},
      {"hkey_local_machine\\Software\\Abc\\V", 0, "", {}},
      {"HKLM\\Software\\Abc\\V", 0, "", {}},
      {kMaxPath,
       0,
       "x",
       {"open Software\\Abc read", "query " + kMaxPath.substr(kAbc.size()),
        "query " + kMaxPath.substr(kAbc.size()) + " 2", "close"}},
      {kLongPath, 0, "", {}},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry = With({kRegSz, "x\0"s});
    for (const std::string& path : {kMaxPath, kLongPath})
      registry.Put(0x80000002, "Software\\Abc", path.substr(kAbc.size()), {kRegSz, "x\0"s});
    registry.grow_by = c.grow_by;
    EXPECT_EQ(ReadRegistryText(registry, c.path), c.expected) << c.path;
    EXPECT_EQ(registry.calls, c.calls) << c.path;
    EXPECT_EQ(registry.open_keys, 0) << c.path;
  }
}

TEST(RegistryTextTest, FailuresOfTheServiceReadAsEmpty) {
  for (bool fail_open : {false, true}) {
    FakeRegistry registry = With({kRegSz, "x\0"s});
    registry.fail_open = fail_open;
    registry.fail_query = !fail_open;
    EXPECT_EQ(ReadRegistryText(registry, kAbc + "V"), "");
    EXPECT_EQ(registry.open_keys, 0);
  }
}

TEST(RegistryTextTest, WritesAStringIntoAnExistingKeyOnly) {
  const struct {
    std::string path;
    bool fail_set;
    int result;
    std::vector<std::string> calls;
  } kCases[] = {
      {kAbc + "V", false, 0, {"open Software\\Abc write", "set V=new", "close"}},
      {kAbc + "New", false, 0, {"open Software\\Abc write", "set New=new", "close"}},
      {kAbc, false, 0, {"open Software\\Abc write", "set =new", "close"}},
      {kAbc + "V", true, 1, {"open Software\\Abc write", "set V=new", "close"}},
      {"HKEY_LOCAL_MACHINE\\Software\\Missing\\V", false, 1, {"open Software\\Missing write"}},
      {"HKEY_LOCAL_MACHINE", false, 1, {"open  write"}},
      {"Software\\Abc\\V", false, 1, {}},
      {kAbc + std::string(1024 - kAbc.size(), 'V'), false, 1, {}},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry = With({kRegSz, "old\0"s});
    registry.fail_set = c.fail_set;
    EXPECT_EQ(WriteRegistryText(registry, c.path, "new"), c.result) << c.path;
    EXPECT_EQ(registry.calls, c.calls) << c.path;
    EXPECT_EQ(registry.open_keys, 0) << c.path;
  }
}

}  // namespace
}  // namespace tandor
