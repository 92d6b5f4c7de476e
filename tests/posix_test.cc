// The POSIX registry file rewrite, without Wine.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <set>
#include <string>

#include "posix/registry_file.h"
#include "posix/wine_prefix.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;

// RewriteRegistryFile on plain files in a folder of its own: what it replaces,
// what it refuses, and that no way out leaves a temporary file or a changed
// file behind.
std::optional<TextSplices> OldToNew(std::string_view) { return TextSplices{{0, 3, "new"}}; }

class RegistryFilePosixTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tandor-regfile-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    Put("f", "old text");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Put(const std::string& name, const std::string& text) { std::ofstream(dir_ / name) << text; }

  // The folder's entries, each with its text: "f=old text".
  std::set<std::string> Files() {
    std::set<std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir_))
      files.insert(entry.path().filename().string() + "=" +
                   ReadRegistryFile(entry.path()).value_or("unreadable"));
    return files;
  }

  // Makes "old" of `name`'s text "new", asking `may_replace` just before
  // the rename.
  bool Rewrite(const ReplaceCheck& may_replace, const std::string& name = "f") {
    return RewriteRegistryFile(dir_ / name, OldToNew, may_replace);
  }
  static bool Yes() { return true; }

  fs::path dir_;
};

// The file a link names is replaced, its mode kept. Temporary files of this
// naming can only be left over from a killed run, whatever process they
// name; look-alikes stay.
TEST_F(RegistryFilePosixTest, ReplacesTheLinkedFileRemovingLeftovers) {
  for (std::string name :
       {"f.tandor-1-0.tmp", "f.tandor-1.tmp", "f.tandor-1-x.tmp", "g.tandor-1-0.tmp"})
    Put(name, "x");
  Put("f.tandor-" + std::to_string(getpid()) + "-0.tmp", "x");
  fs::create_symlink("f", dir_ / "link");
  fs::permissions(dir_ / "f", fs::perms(0640));
  EXPECT_TRUE(Rewrite(Yes, "link"));
  EXPECT_EQ(fs::status(dir_ / "f").permissions(), fs::perms(0640));
  EXPECT_EQ(Files(), (std::set<std::string>{"f=new text", "link=new text", "f.tandor-1.tmp=x",
                                            "f.tandor-1-x.tmp=x", "g.tandor-1-0.tmp=x"}));
}

// Each failure leaves the file as it was and no temporary file: a second
// name (which would keep the old text), an edit or a check that refuses, a
// check that throws, and every signal that ends the run by default while the
// temporary file exists (the run still ends by that signal). A file that
// another program replaced since it was read, as Wine does when it saves, is
// left as that program made it.
TEST_F(RegistryFilePosixTest, FailuresChangeNothing) {
  const std::set<std::string> kUntouched = {"f=old text"};
  fs::create_hard_link(dir_ / "f", dir_ / "second");
  EXPECT_FALSE(Rewrite(Yes));
  fs::remove(dir_ / "second");
  EXPECT_FALSE(RewriteRegistryFile(
      dir_ / "f", [](std::string_view) { return std::nullopt; }, Yes));
  EXPECT_FALSE(Rewrite([] { return false; }));
  EXPECT_THROW(Rewrite([]() -> bool { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_EQ(Files(), kUntouched);
  const std::set<int> kNotEnding = {SIGKILL,  SIGSTOP, SIGCHLD, SIGCONT, SIGURG,
                                    SIGWINCH, SIGTSTP, SIGTTIN, SIGTTOU};
  for (int signal_number = 1; signal_number <= SIGRTMAX; ++signal_number) {
    // Below SIGRTMIN, beyond the named ones, are the C library's own.
    if (kNotEnding.count(signal_number) || (signal_number > SIGSYS && signal_number < SIGRTMIN))
      continue;
    EXPECT_EXIT(Rewrite([&] { return raise(signal_number) == 0; }),
                testing::KilledBySignal(signal_number), "")
        << strsignal(signal_number);
    EXPECT_EQ(Files(), kUntouched) << strsignal(signal_number);
  }
  EXPECT_FALSE(Rewrite([&] {
    Put("saved", "saved by another program");
    fs::rename(dir_ / "saved", dir_ / "f");
    return true;
  }));
  EXPECT_EQ(Files(), (std::set<std::string>{"f=saved by another program"}));
}

// The DOS form of a directory, by a prefix's drive links as Wine makes them
// (c: -> ../drive_c, z: -> /), here with a deeper drive (d:) and a second
// name for drive_c (e:). Links count by the folder they lead to, not by
// their spelling. Z: alone, and no prefix, the black-box table shows.
using WinePrefixPosixTest = RegistryFilePosixTest;
TEST_F(WinePrefixPosixTest, TheDeepestDriveNamesTheDirectory) {
  fs::create_directories(dir_ / "drive_c/deep/x");
  fs::create_directory(dir_ / "dosdevices");
  fs::create_directory_symlink("../drive_c", dir_ / "dosdevices/c:");
  fs::create_directory_symlink("../drive_c/deep", dir_ / "dosdevices/d:");
  fs::create_directory_symlink("../drive_c", dir_ / "dosdevices/e:");
  fs::create_directory_symlink("/", dir_ / "dosdevices/z:");
  EXPECT_EQ(DosDirectoryOf(dir_ / "drive_c", dir_), "C:\\");  // the first letter on a tie
  EXPECT_EQ(DosDirectoryOf(dir_ / "drive_c/deep/x", dir_), "D:\\x");
}

}  // namespace
}  // namespace tandor
