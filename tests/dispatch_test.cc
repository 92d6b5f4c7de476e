#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "modes/exit_status.h"
#include "registry/registry_path.h"

namespace tandor {
namespace {

using namespace std::string_literals;

// Each mode's output is flushed whole by its end, the usage screen included.
TEST(DispatchTest, TheShapeOfTheCommandLineChoosesTheMode) {
  // The usage screen byte for byte, shared with the black-box table.
  const std::string usage = TestFile("usage_screen.out");
  const std::string kPath = "HKEY_LOCAL_MACHINE\\Software\\Abc\\V";
  const struct {
    std::vector<std::string> arguments;
    std::string output;
    int status;
  } kCases[] = {
      {{}, usage, kStatusNotDone},
      {{"-r", "a"}, usage, kStatusNotDone},
      {{"-x", "a", "b"}, usage, kStatusNotDone},
      {{"-r", "a", "b", "c"}, usage, kStatusNotDone},
      {{"-w", "a", "b"}, usage, kStatusNotDone},
      {{"-r"}, "-r", kStatusSuccess},
      {{"-?"}, "-?", kStatusSuccess},
      {{""}, "", kStatusSuccess},
      {{"-R", "a", "b"}, "b\n", kStatusSuccess},
      {{"-rfoo", "a", "b"}, "b\n", kStatusSuccess},
      {{"-r", "x", "b"}, "a\n", kStatusNotDone},
      {{"-W", kPath, "old", "new"}, "\n\nSuccessfully modified registry key.\n\n", kStatusSuccess},
      {{"-wany", kPath, "x", "y"},
       "\n\nSearch string not found.  No registry writes performed.\n\n",
       kStatusNotDone},
  };
  for (const auto& c : kCases) {
    FakeConsole console(c.arguments, FakeInput({"a\n"}));
    FakeRegistry registry;
    registry.Put(kLocalMachine, "Software\\Abc", "V", {kRegSz, "old\0"s});
    EXPECT_EQ(Dispatch(console, registry), c.status) << testing::PrintToString(c.arguments);
    EXPECT_EQ(console.output.flushed, c.output) << testing::PrintToString(c.arguments);
  }
}

}  // namespace
}  // namespace tandor
