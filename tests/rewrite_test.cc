#include <gtest/gtest.h>

#include <string>

#include "fakes.h"
#include "modes/exit_status.h"
#include "modes/modes.h"
#include "registry/registry_path.h"

namespace tandor {
namespace {

using namespace std::string_literals;

constexpr std::string_view kOk = "\n\nSuccessfully modified registry key.\n\n";
constexpr std::string_view kNotFound =
    "\n\nSearch string not found.  No registry writes performed.\n\n";
constexpr std::string_view kFailed = "\n\nERROR: Failed Registry write.\n\n";

// The path is printed as given, never used as a format.
const std::string kPath = "HKEY_CURRENT_USER\\Software\\%s%n\\V";
const std::string kMissing = "\nERROR: Registry key not found: " + kPath + "\n\n";

TEST(RewriteTest, ReplacesEveryOccurrenceAndReportsTheOutcome) {
  const std::string kThousand = std::string(1000, 'G') + '\0';
  const std::string kGrown = std::string(2000, 'G') + '\0';
  const struct {
    uint32_t type;
    std::string data, search, replace;
    bool fail_set;
    std::string_view output;
    int status;
    std::string after;  // the value's data afterwards
  } kCases[] = {
      {kRegSz, "pass XX\0"s, "pass XX", "pass 1.1", false, kOk, 0, "pass 1.1\0"s},
      {kRegSz, "a X b X c\0"s, "X", "Y", false, kOk, 0, "a Y b Y c\0"s},
      {kRegSz, "abc\0"s, "c", "%s", false, kOk, 0, "ab%s\0"s},
      // The write sets no bound: the value may outgrow what a read accepts.
      {kRegSz, kThousand, "G", "GG", false, kOk, 0, kGrown},
      {kRegSz, "abc\0"s, "x", "y", false, kNotFound, 1, "abc\0"s},
      {kRegSz, "abc\0"s, "", "y", false, kNotFound, 1, "abc\0"s},
      {kRegSz, "abc\0"s, "b", "y", true, kFailed, 2, "abc\0"s},
      {kRegExpandSz, "abc\0"s, "b", "y", false, kMissing, 3, "abc\0"s},
      {kRegSz, "\0"s, "b", "y", false, kMissing, 3, "\0"s},
  };
  for (const auto& c : kCases) {
    FakeRegistry registry;
    registry.Put(kCurrentUser, "Software\\%s%n", "V", {c.type, c.data});
    registry.fail_set = c.fail_set;
    FakeOutput output;
    EXPECT_EQ(RewriteRegistryValue(kPath, c.search, c.replace, output, registry), c.status)
        << c.data << " " << c.search;
    EXPECT_EQ(output.text, c.output) << c.data << " " << c.search;
    EXPECT_EQ(registry.keys.at({kCurrentUser, "Software\\%s%n"}).at("V").data, c.after) << c.search;
    EXPECT_EQ(registry.open_keys, 0) << c.search;
  }
}

}  // namespace
}  // namespace tandor
