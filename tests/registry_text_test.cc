#include "registry/registry_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "registry/registry_path.h"

namespace tandor {
namespace {

using namespace std::string_literals;
using Calls = std::vector<std::string>;

TEST(RegistryPathTest, SplitsAtFirstAndLastBackslash) {
  const std::pair<std::string, std::string> kCases[] = {
      {R"(HKEY_USERS\Software\Abc\Dir\)", R"(HKEY_USERS|Software\Abc\Dir|)"},
      {R"(HKEY_CURRENT_USER\Version)", "HKEY_CURRENT_USER||Version"},
      {R"(HKEY_USERS\\Version)", "HKEY_USERS||Version"},
      {"HKEY_USERS", "HKEY_USERS||"},
      {R"(\Software\x)", "|Software|x"},
      {R"(HKEY_USERS\Software\\Value)", R"(HKEY_USERS|Software\|Value)"},
  };
  for (const auto& [path, expected] : kCases) {
    RegistryPath parts = SplitRegistryPath(path);
    EXPECT_EQ(parts.root_name + "|" + parts.sub_key + "|" + parts.value_name, expected);
  }
}

const std::string kAbc = "HKEY_LOCAL_MACHINE\\Software\\Abc\\";

TEST(RegistryTextTest, ReadsOnlyStringValuesUnder1024Bytes) {
  const std::pair<FakeValue, std::string> kCases[] = {
      {{kRegSz, "1.5\0"s}, "1.5"},
      {{kRegSz, std::string(1022, 'x') + '\0'}, std::string(1022, 'x')},
      {{kRegSz, std::string(1023, 'x') + '\0'}, ""},
      {{kRegSz, std::string(1024, 'x')}, ""},
      {{kRegExpandSz, "x\0"s}, ""},
      // Data stored without its zero ends at the reported size; data with an
      // inner zero ends there.
      {{kRegSz, "abc"}, "abc"},
      {{kRegSz, "ab\0c\0"s}, "ab"},
      {{kRegSz, ""}, ""},
  };
  for (const auto& [value, expected] : kCases) {
    FakeRegistry registry;
    registry.Put(kLocalMachine, "Software\\Abc", "V", value);
    EXPECT_EQ(ReadRegistryText(registry, kAbc + "V"), expected) << value.data;
    EXPECT_EQ(registry.open_keys, 0);
  }
}

// What reaches the service for a read (no text) or a write of `text`, and
// that every key opened is closed, whatever fails: "grow" makes the value
// longer between the two queries, "memory" runs out in the service (which
// then fails like any other call).
TEST(RegistryTextTest, CallsAskForTheSizeThenExactlyThatMuchAndCloseEveryKey) {
  const std::string kMax = std::string(1023 - kAbc.size(), 'V');  // the longest path's value
  const Calls kRead = {"open Software\\Abc read", "query V", "query V 2", "close"};
  const Calls kReadMax = {"open Software\\Abc read", "query " + kMax, "query " + kMax + " 2",
                          "close"};
  const Calls kWrite = {"open Software\\Abc write", "set V=new", "close"};
  const struct {
    std::string path, fault, text, result;  // result: the text read, or the write's status
    Calls calls;
  } kCases[] = {
      {kAbc + "V", "", "", "x", kRead},
      {kAbc + "V", "grow", "", "", kRead},
      {kAbc + "V", "query", "", "", {"open Software\\Abc read", "query V", "close"}},
      {kAbc + "V", "memory", "", "", {"open Software\\Abc read", "query V", "close"}},
      {kAbc + "V", "open", "", "", {"open Software\\Abc read"}},
      {kAbc + "W", "", "", "", {"open Software\\Abc read", "query W", "close"}},
      {"HKEY_LOCAL_MACHINE\\Software\\V", "", "", "", {"open Software read"}},
      {"hkey_local_machine\\Software\\Abc\\V", "", "", "", {}},
      {"HKLM\\Software\\Abc\\V", "", "", "", {}},
      {kAbc + kMax, "", "", "x", kReadMax},
      {kAbc + kMax + "V", "", "", "", {}},
      // A write goes into an existing key only.
      {kAbc + "V", "", "new", "0", kWrite},
      {kAbc + "New", "", "new", "0", {"open Software\\Abc write", "set New=new", "close"}},
      {kAbc, "", "new", "0", {"open Software\\Abc write", "set =new", "close"}},
      {kAbc + "V", "set", "new", "1", kWrite},
      {kAbc + "V", "memory", "new", "1", kWrite},
      {"HKEY_LOCAL_MACHINE\\Software\\Missing\\V",
       "",
       "new",
       "1",
       {"open Software\\Missing write"}},
      {"HKEY_LOCAL_MACHINE", "", "new", "1", {"open  write"}},
      {"Software\\Abc\\V", "", "new", "1", {}},
      {kAbc + kMax + "V", "", "new", "1", {}},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry;
    for (const std::string& name : {"V"s, kMax, kMax + "V"})
      registry.Put(kLocalMachine, "Software\\Abc", name, {kRegSz, "x\0"s});
    registry.grow_by = c.fault == "grow" ? 2 : 0;
    registry.fail_open = c.fault == "open";
    registry.fail_query = c.fault == "query";
    registry.fail_set = c.fault == "set";
    registry.out_of_memory = c.fault == "memory";
    std::string result = c.text.empty()
                             ? ReadRegistryText(registry, c.path)
                             : std::to_string(WriteRegistryText(
                                   registry, c.path, c.path.ends_with("V") ? "x" : "", c.text));
    EXPECT_EQ(result, c.result) << c.path << c.fault;
    EXPECT_EQ(registry.calls, c.calls) << c.path << c.fault;
    EXPECT_EQ(registry.open_keys, 0) << c.path << c.fault;
  }
}

}  // namespace
}  // namespace tandor
