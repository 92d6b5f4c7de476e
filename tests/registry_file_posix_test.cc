// RewriteRegistryFile on plain files in a folder of its own: what it replaces,
// what it refuses, and that no way out leaves a temporary file or a changed
// file behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
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
    Put("f", "old text");
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  void Put(const std::string& name, const std::string& text) {
    std::ofstream(dir_ + "/" + name) << text;
  }
  std::string Get() {
    std::ostringstream text;
    text << std::ifstream(dir_ + "/f").rdbuf();
    return text.str();
  }
  std::set<std::string> Entries() {
    std::set<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(dir_.c_str()), closedir);
    while (struct dirent* entry = readdir(dir.get())) names.insert(entry->d_name);
    return names;
  }
  static std::optional<TextSplices> OldToNew(std::string_view) {
    return TextSplices{{0, 3, "new"}};
  }
  bool Rewrite(const ReplaceGate& gate, const std::string& name = "f") {
    return RewriteRegistryFile(dir_ + "/" + name, OldToNew, gate);
  }
  static bool Pass(const std::function<bool()>& replace) { return replace(); }

  std::string dir_;
  const std::set<std::string> kAlone = {".", "..", "f"};
};

// The file a link names is replaced, its mode kept. Temporary files of this naming can only
// be left over from a killed run; look-alikes stay.
TEST_F(RegistryFilePosixTest, ReplacesTheLinkedFileRemovingLeftovers) {
  const std::set<std::string> kKept = {
      ".", "..", "f", "link", "f.tandor-1.tmp", "f.tandor-1-x.tmp", "g.tandor-1-0.tmp"};
  for (const std::string& name : kKept) {
    if (name.size() > 4) Put(name, "x");  // the look-alikes
  }
  Put("f.tandor-1-0.tmp", "stale");
  Put("f.tandor-" + std::to_string(getpid()) + "-0.tmp", "stale");
  ASSERT_EQ(symlink("f", (dir_ + "/link").c_str()), 0);
  ASSERT_EQ(chmod((dir_ + "/f").c_str(), 0640), 0);
  EXPECT_TRUE(Rewrite(Pass, "link"));
  EXPECT_EQ(Get(), "new text");
  struct stat info;
  EXPECT_TRUE(stat((dir_ + "/f").c_str(), &info) == 0 && (info.st_mode & 07777) == 0640);
  EXPECT_EQ(Entries(), kKept);
}

// Each failure leaves the file as it was and no temporary file.
TEST_F(RegistryFilePosixTest, FailuresChangeNothing) {
  ASSERT_EQ(link((dir_ + "/f").c_str(), (dir_ + "/second").c_str()), 0);
  EXPECT_FALSE(Rewrite(Pass));  // a second name would keep the old text
  ASSERT_EQ(unlink((dir_ + "/second").c_str()), 0);
  EXPECT_FALSE(RewriteRegistryFile(
      dir_ + "/f", [](std::string_view) { return std::nullopt; }, Pass));
  EXPECT_FALSE(Rewrite([](const std::function<bool()>&) { return false; }));
  EXPECT_THROW(Rewrite([](const std::function<bool()>&) -> bool { throw std::bad_alloc(); }),
               std::bad_alloc);
  EXPECT_EQ(Get(), "old text");
  EXPECT_EQ(Entries(), kAlone);
  // A signal that ends the run while the temporary file exists removes it.
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    pid_t child = fork();
    if (child == 0) {
      Rewrite([&](const std::function<bool()>&) { return raise(signal_number) == 0; });
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
    EXPECT_EQ(Get(), "old text");
    EXPECT_EQ(Entries(), kAlone) << signal_number;
  }
}

}  // namespace
}  // namespace tandor
