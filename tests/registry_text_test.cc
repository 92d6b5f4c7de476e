// Reading and writing one value through the registry service: what the
// service is asked, and what comes of its answers. Which values read as text
// (type, size) the black-box table shows on both builds.
#include "registry/registry_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"

namespace tandor {
namespace {

using namespace std::string_literals;
using Calls = std::vector<std::string>;

const std::string kAbc = "HKEY_LOCAL_MACHINE\\Software\\Abc\\";

// The value name that makes the longest path the tool accepts.
const std::string kLongestName = std::string(1023 - kAbc.size(), 'V');

// How the service fails: a value that grows between the query for its size
// and the query for its data, or memory running out in the service (which
// then fails like any other call).
enum class Fault { kNone, kValueGrows, kOutOfMemory };

// Software\Abc with the values V and kLongestName, both "x": V stored
// without a terminating zero (its text then ends with its data), the other
// with one.
FakeRegistry AbcRegistry(Fault fault) {
  FakeRegistry registry;
  registry.values = {{"V", "x"}, {kLongestName, "x\0"s}};
  registry.grow_by = fault == Fault::kValueGrows ? 2 : 0;
  registry.out_of_memory = fault == Fault::kOutOfMemory;
  return registry;
}

// A read asks for the size, then for exactly that much, so that a value that
// grew meanwhile reads as empty rather than cut. Every key opened is closed.
TEST(RegistryTextTest, AReadAsksForTheSizeThenTheDataAndClosesTheKey) {
  const Calls kRead = {"open Software\\Abc read", "query V", "query V 1", "close"};
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
      // A root name alone names the default value of the root key itself
      // (an empty sub-key).
      {"HKEY_LOCAL_MACHINE", Fault::kNone, "", {"open  read"}},
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

// A write goes into an existing key only, and closes it whatever fails. A
// write that succeeds the black-box table shows.
TEST(RegistryTextTest, AFailedWriteClosesTheKeyItOpened) {
  const struct {
    std::string path;
    Fault fault;
    Calls calls;
  } kCases[] = {
      {kAbc + "V", Fault::kOutOfMemory, {"open Software\\Abc write", "set V=new", "close"}},
      {"HKEY_LOCAL_MACHINE\\Software\\V", Fault::kNone, {"open Software write"}},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry = AbcRegistry(c.fault);
    EXPECT_EQ(WriteRegistryText(registry, c.path, "x", "new"), 1) << c.path;
    EXPECT_EQ(registry.calls, c.calls) << c.path;
    EXPECT_EQ(registry.open_keys, 0) << c.path;
  }
}

}  // namespace
}  // namespace tandor
