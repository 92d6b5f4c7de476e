// Registry paths, and reading and writing one value through the registry
// service: what the service is asked, and what comes of its answers.
#include "registry/registry_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "fakes.h"
#include "registry/registry_path.h"

namespace tandor {
namespace {

using namespace std::string_literals;
using Calls = std::vector<std::string>;

TEST(RegistryPathTest, SplitsAtTheFirstAndTheLastBackslash) {
  const struct {
    std::string path, root_name, sub_key, value_name;
  } kCases[] = {
      {R"(HKEY_USERS\Software\Abc\Dir\)", "HKEY_USERS", R"(Software\Abc\Dir)", ""},
      {R"(HKEY_CURRENT_USER\Version)", "HKEY_CURRENT_USER", "", "Version"},
      {R"(HKEY_USERS\\Version)", "HKEY_USERS", "", "Version"},
      {"HKEY_USERS", "HKEY_USERS", "", ""},
  };
  for (const auto& c : kCases) {
    RegistryPath parts = SplitRegistryPath(c.path);
    EXPECT_EQ(std::tie(parts.root_name, parts.sub_key, parts.value_name),
              std::tie(c.root_name, c.sub_key, c.value_name));
  }
}

const std::string kAbc = "HKEY_LOCAL_MACHINE\\Software\\Abc\\";

TEST(RegistryTextTest, ReadsOnlyStringValuesUnder1024Bytes) {
  const struct {
    uint32_t type;
    std::string data, text;
  } kCases[] = {
      {kRegSz, std::string(1022, 'x') + '\0', std::string(1022, 'x')},
      {kRegSz, std::string(1023, 'x') + '\0', ""},
      {kRegExpandSz, "x\0"s, ""},
      // Data stored without its zero ends at the reported size; data with an
      // inner zero ends there.
      {kRegSz, "abc", "abc"},
      {kRegSz, "ab\0c\0"s, "ab"},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry;
    registry.Put(kLocalMachine, "Software\\Abc", "V", {c.type, c.data});
    EXPECT_EQ(ReadRegistryText(registry, kAbc + "V"), c.text) << c.data;
    EXPECT_EQ(registry.open_keys, 0);
  }
}

// The value name that makes the longest path the tool accepts.
const std::string kLongestName = std::string(1023 - kAbc.size(), 'V');

// How the service fails: a value that grows between the query for its size
// and the query for its data, or memory running out in the service (which
// then fails like any other call).
enum class Fault { kNone, kValueGrows, kOutOfMemory };

// Software\Abc with the values V and kLongestName, both "x".
FakeRegistry AbcRegistry(Fault fault) {
  FakeRegistry registry;
  for (const std::string& name : {"V"s, kLongestName})
    registry.Put(kLocalMachine, "Software\\Abc", name, {kRegSz, "x\0"s});
  registry.grow_by = fault == Fault::kValueGrows ? 2 : 0;
  registry.out_of_memory = fault == Fault::kOutOfMemory;
  return registry;
}

// A read asks for the size, then for exactly that much, so that a value that
// grew meanwhile reads as empty rather than cut. Every key opened is closed.
TEST(RegistryTextTest, AReadAsksForTheSizeThenTheDataAndClosesTheKey) {
  const Calls kRead = {"open Software\\Abc read", "query V", "query V 2", "close"};
  const Calls kReadLongest = {"open Software\\Abc read", "query " + kLongestName,
                              "query " + kLongestName + " 2", "close"};
  const struct {
    std::string path;
    Fault fault;
    std::string text;
    Calls calls;
  } kCases[] = {
      {kAbc + "V", Fault::kNone, "x", kRead},
      {kAbc + "V", Fault::kValueGrows, "", kRead},
      {kAbc + "V", Fault::kOutOfMemory, "", {"open Software\\Abc read", "query V", "close"}},
      {"HKEY_LOCAL_MACHINE\\Software\\V", Fault::kNone, "", {"open Software read"}},
      {"hkey_local_machine\\Software\\Abc\\V", Fault::kNone, "", {}},  // root names as spelled
      {kAbc + kLongestName, Fault::kNone, "x", kReadLongest},
      {kAbc + kLongestName + "V", Fault::kNone, "", {}},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry = AbcRegistry(c.fault);
    EXPECT_EQ(ReadRegistryText(registry, c.path), c.text) << c.path;
    EXPECT_EQ(registry.calls, c.calls) << c.path;
    EXPECT_EQ(registry.open_keys, 0) << c.path;
  }
}

// A write goes into an existing key only, and closes it whatever fails.
TEST(RegistryTextTest, AWriteSetsTheValueOfAnExistingKeyAndClosesIt) {
  const Calls kWrite = {"open Software\\Abc write", "set V=new", "close"};
  const struct {
    std::string path;
    Fault fault;
    bool written;
    Calls calls;
  } kCases[] = {
      {kAbc + "V", Fault::kNone, true, kWrite},
      {kAbc + "V", Fault::kOutOfMemory, false, kWrite},
      {"HKEY_LOCAL_MACHINE\\Software\\V", Fault::kNone, false, {"open Software write"}},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry = AbcRegistry(c.fault);
    EXPECT_EQ(WriteRegistryText(registry, c.path, "x", "new") == 0, c.written) << c.path;
    EXPECT_EQ(registry.calls, c.calls) << c.path;
    EXPECT_EQ(registry.open_keys, 0) << c.path;
  }
}

}  // namespace
}  // namespace tandor
