// RewriteRegistryFile on plain files in a folder of its own: what it replaces,
// what it refuses, and that no way out leaves a temporary file or a changed
// file behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <set>
#include <sstream>
#include <string>

#include "posix/registry_file.h"

namespace tandor {
namespace {

class RegistryFilePosixTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tandor-regfile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ + "/system.reg";
    Put(file_, "old text");
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  static void Put(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
  static std::string Get(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
  }
  std::set<std::string> Entries() {
    std::set<std::string> names;
    DIR* dir = opendir(dir_.c_str());
    while (struct dirent* entry = readdir(dir)) names.insert(entry->d_name);
    closedir(dir);
    return names;
  }
  // Rewrites `path`, "old" becoming "new", through `gate`.
  static bool Rewrite(const std::string& path, const ReplaceGate& gate) {
    return RewriteRegistryFile(
        path,
        [](std::string_view) {
          return TextSplices{{0, 3, "new"}};
        },
        gate);
  }
  static bool Pass(const std::function<bool()>& replace) { return replace(); }

  std::string dir_;
  std::string file_;
};

TEST_F(RegistryFilePosixTest, ReplacesTheFileALinkNamesKeepingItsMode) {
  ASSERT_EQ(chmod(file_.c_str(), 0640), 0);
  ASSERT_EQ(symlink("system.reg", (dir_ + "/link.reg").c_str()), 0);
  EXPECT_TRUE(Rewrite(dir_ + "/link.reg", Pass));
  EXPECT_EQ(Get(file_), "new text");
  struct stat info;
  ASSERT_EQ(lstat((dir_ + "/link.reg").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(), (std::set<std::string>{".", "..", "link.reg", "system.reg"}));
}

// Temporary files of this naming can only be left over from a killed run;
// look-alikes stay.
TEST_F(RegistryFilePosixTest, RemovesTemporaryFilesKilledRunsLeft) {
  const std::set<std::string> kKept = {".",
                                       "..",
                                       "system.reg",
                                       "system.reg.tandor-1.tmp",
                                       "system.reg.tandor-1-x.tmp",
                                       "user.reg.tandor-1-0.tmp"};
  for (const std::string& name : {std::string("system.reg.tandor-1-0.tmp"),
                                  "system.reg.tandor-" + std::to_string(getpid()) + "-0.tmp"})
    Put(dir_ + "/" + name, "stale");
  for (const std::string& name : kKept) Put(dir_ + "/" + name, name == "system.reg" ? "old" : "x");
  EXPECT_TRUE(Rewrite(file_, Pass));
  EXPECT_EQ(Entries(), kKept);
}

// Each failure leaves the file as it was and no temporary file.
TEST_F(RegistryFilePosixTest, FailuresChangeNothing) {
  ASSERT_EQ(link(file_.c_str(), (dir_ + "/second").c_str()), 0);
  EXPECT_FALSE(Rewrite(file_, Pass));  // a second name would keep the old text
  ASSERT_EQ(unlink((dir_ + "/second").c_str()), 0);
  EXPECT_FALSE(RewriteRegistryFile(
      file_, [](std::string_view) { return std::nullopt; }, Pass));
  EXPECT_FALSE(Rewrite(file_, [](const std::function<bool()>&) { return false; }));
  EXPECT_THROW(Rewrite(file_, [](const std::function<bool()>&) -> bool { throw std::bad_alloc(); }),
               std::bad_alloc);
  EXPECT_EQ(Get(file_), "old text");
  EXPECT_EQ(Entries(), (std::set<std::string>{".", "..", "system.reg"}));
  // A signal that ends the run while the temporary file exists removes it.
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    pid_t child = fork();
    if (child == 0) {
      Rewrite(file_, [&](const std::function<bool()>&) { return raise(signal_number) == 0; });
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    EXPECT_EQ(Get(file_), "old text");
    EXPECT_EQ(Entries(), (std::set<std::string>{".", "..", "system.reg"})) << signal_number;
  }
}

}  // namespace
}  // namespace tandor
