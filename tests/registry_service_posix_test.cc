// The Wine-file registry service on prefixes made here, without Wine.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "registry/registry_service.h"
#include "registry/registry_text.h"

namespace tandor {
namespace {

constexpr char kSystem[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Abc\\\\Settings] 1796596665\n"
    "#time=1dd85d269e02662\n"
    "@=\"default\"\n"
    "\"Name\"=\"pass XX\"\n"
    "\"Unicode\"=\"Br\\xe4\\x20acx\"\n"
    "\"Exp\"=str(2):\"%PATH%\"\n"
    "\"Count\"=dword:0000002a\n"
    "\n"
    "[Software\\\\Classes\\\\.txt] 1796596665\n"
    "@=\"txtfile\"\n"
    "\n"
    "[Software\\\\Deep\\\\Key] 1796596665\n"
    "\"v\"=\"deep\"\n"
    "\n"
    "[Software\\\\Link] 1796596665\n"
    "#link\n"
    "\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\\\n"
    "  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,\\\n"
    "  74,00,77,00,61,00,72,00,65,00,5c,00,41,00,62,00,63,00\n"
    "\"Name\"=\"hidden behind the link\"\n";

constexpr char kUser[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "[Environment] 1796596665\n"
    "\"Who\"=\"user\"\n";

constexpr char kUserDefault[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\User\\\\.Default\n"
    "\n"
    "[Environment] 1796596665\n"
    "\"Who\"=\"default user\"\n";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> FilesIn(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// A prefix with the three registry files, named by WINEPREFIX while the
// test runs; TMPDIR points into it so no real server directory is looked at.
class RegistryServicePosixTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tandor-registry-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    prefix_ = root_ + "/pfx";
    ASSERT_EQ(mkdir(prefix_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root_ + "/tmp").c_str(), 0755), 0);
    WriteFile(prefix_ + "/system.reg", kSystem);
    WriteFile(prefix_ + "/user.reg", kUser);
    WriteFile(prefix_ + "/userdef.reg", kUserDefault);
    setenv("WINEPREFIX", prefix_.c_str(), 1);
    setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
  }

  void TearDown() override {
    unsetenv("WINEPREFIX");
    unsetenv("TMPDIR");
    std::string command = "rm -rf '" + root_ + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }

  // Each call is a run of its own: a new service reads the files anew.
  std::string Read(const std::string& path) {
    return ReadRegistryText(*CreateRegistryService(), path);
  }
  int Write(const std::string& path, const std::string& text) {
    return WriteRegistryText(*CreateRegistryService(), path, text);
  }
  std::string System() { return ReadFile(prefix_ + "/system.reg"); }

  std::string root_;
  std::string prefix_;
};

TEST_F(RegistryServicePosixTest, ReadsEachRootFromItsFile) {
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)"), "pass XX");
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\SOFTWARE\abc\settings\NAME)"), "pass XX");
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\)"), "default");
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Unicode)"), "Br\xc3\xa4\xe2\x82\xacx");
  EXPECT_EQ(Read(R"(HKEY_CLASSES_ROOT\.txt\)"), "txtfile");
  EXPECT_EQ(Read(R"(HKEY_CLASSES_ROOT\\.txt\)"), "txtfile");  // one leading backslash is allowed
  EXPECT_EQ(Read(R"(HKEY_CURRENT_USER\Environment\Who)"), "user");
  EXPECT_EQ(Read(R"(HKEY_USERS\S-1-5-21-0-0-0-1000\Environment\Who)"), "user");
  EXPECT_EQ(Read(R"(HKEY_USERS\.DEFAULT\Environment\Who)"), "default user");
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\\Abc\Settings\Name)"), "pass XX");
}

TEST_F(RegistryServicePosixTest, GivesNothingForWhatIsNoStringOrNoValue) {
  for (const char* path : {
           R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Exp)",
           R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Count)",
           R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Missing)",
           R"(HKEY_LOCAL_MACHINE\Software\Abc\Nowhere\Name)",
           R"(HKEY_LOCAL_MACHINE\\Software\Abc\Settings\Name)",  // a sub-key may not start with '\'
           R"(HKEY_USERS\S-1-5-18\Environment\Who)",
           R"(HKEY_USERS\Who)",
       }) {
    EXPECT_EQ(Read(path), "") << path;
  }
}

TEST_F(RegistryServicePosixTest, FollowsLinkKeys) {
  // Software\Link points at \Registry\Machine\Software\Abc.
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Link\Settings\Name)"), "pass XX");
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Link\Name)"), "");
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Link\Settings\Name)", "via link"), 0);
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)"), "via link");
}

TEST_F(RegistryServicePosixTest, SizeLimitCountsUtf8Bytes) {
  // 511 two-byte characters and the terminating zero: 1,023 bytes.
  std::string text;
  for (int i = 0; i < 511; ++i) text += "\xc3\xa9";
  ASSERT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Long)", text), 0);
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Long)"), text);
  ASSERT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Long)", text + "a"), 0);
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Long)"), "");
}

TEST_F(RegistryServicePosixTest, ReplacesAValueAndKeepsEverythingElse) {
  chmod((prefix_ + "/system.reg").c_str(), 0640);
  ASSERT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\name)", "pass 1.1 \xe2\x82\xac"), 0);
  std::string expected = kSystem;
  expected.replace(expected.find("\"pass XX\""), 9, "\"pass 1.1 \\x20ac\"");
  EXPECT_EQ(System(), expected);
  struct stat info;
  ASSERT_EQ(stat((prefix_ + "/system.reg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(FilesIn(prefix_), (std::vector<std::string>{"system.reg", "user.reg", "userdef.reg"}));
}

TEST_F(RegistryServicePosixTest, AddsNewValuesToExistingKeysOnly) {
  EXPECT_EQ(Write(R"(HKEY_CURRENT_USER\Environment\New)", "n"), 0);
  EXPECT_EQ(Read(R"(HKEY_CURRENT_USER\Environment\New)"), "n");
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Deep\)", "implied"), 0);
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Deep\)"), "implied");
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Deep\Key\v)"), "deep");
  std::string before = System();
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Nowhere\New)", "n"), 1);
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Bad)", "\xff"), 1);
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Bad\xff)", "x"), 1);
  EXPECT_EQ(Write(R"(HKEY_USERS\Value)", "x"), 1);
  EXPECT_EQ(System(), before);
  EXPECT_EQ(FilesIn(prefix_), (std::vector<std::string>{"system.reg", "user.reg", "userdef.reg"}));
}

TEST_F(RegistryServicePosixTest, AFileWineWouldRejectIsNeitherReadNorWritten) {
  WriteFile(prefix_ + "/system.reg", std::string("WINE REGISTRY Version 1\n") + (kSystem + 24));
  std::string before = System();
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)"), "");
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)", "x"), 1);
  EXPECT_EQ(System(), before);
}

TEST_F(RegistryServicePosixTest, AMissingPrefixIsAnEmptyRegistry) {
  setenv("WINEPREFIX", (root_ + "/none").c_str(), 1);
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)"), "");
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)", "x"), 1);
}

TEST_F(RegistryServicePosixTest, AKeyOpenedForReadingIsNotWritten) {
  std::unique_ptr<RegistryService> service = CreateRegistryService();
  RegistryKey key;
  ASSERT_TRUE(service->Open(0x80000002u, R"(Software\Abc\Settings)", RegistryAccess::kRead, &key));
  EXPECT_FALSE(service->SetString(key, "Name", "x"));
  service->Close(key);
  ASSERT_TRUE(service->Open(0x80000002u, R"(Software\Abc\Settings)", RegistryAccess::kWrite, &key));
  EXPECT_TRUE(service->SetString(key, "Name", "x"));
  // The same run sees its own write.
  uint32_t type = 0, size = 0;
  EXPECT_TRUE(service->Query(key, "Name", &type, nullptr, &size));
  EXPECT_EQ(size, 2u);
  service->Close(key);
}

// Holds a write lock on byte 0 of `path` from another process, as a running
// wineserver does, until destroyed.
class ServerLockHolder {
 public:
  explicit ServerLockHolder(const std::string& path) {
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(release_), 0);
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
      struct flock lock = {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      lock.l_len = 1;
      char byte = fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
      (void)!write(ready[1], &byte, 1);
      close(release_[1]);
      (void)!read(release_[0], &byte, 1);  // until the parent closes its end
      _exit(0);
    }
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y');
    close(ready[0]);
    close(ready[1]);
    close(release_[0]);
  }
  ~ServerLockHolder() {
    close(release_[1]);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_;
  int release_[2];
};

std::string ServerDirectoryName(const std::string& prefix) {
  struct stat info;
  EXPECT_EQ(stat(prefix.c_str(), &info), 0);
  char name[64];
  snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(info.st_dev),
           static_cast<unsigned long long>(info.st_ino));
  return name;
}

TEST_F(RegistryServicePosixTest, RefusesToWriteWhileDebiansServerRuns) {
  WriteFile(prefix_ + "/wineserver", "wine-Test12");
  std::string server = root_ + "/tmp/wine-Test12/" + ServerDirectoryName(prefix_);
  ASSERT_EQ(system(("mkdir -p '" + server + "'").c_str()), 0);
  std::string before = System();
  {
    ServerLockHolder holder(server + "/lock");
    EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)", "x"), 1);
    EXPECT_EQ(System(), before);
    EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)"), "pass XX");
  }
  // The directory and its lock file stay after the server ends.
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)", "x"), 0);
}

TEST_F(RegistryServicePosixTest, RefusesToWriteWhileUpstreamsServerRuns) {
  std::string base = "/tmp/.wine-" + std::to_string(getuid());
  std::string server = base + "/" + ServerDirectoryName(prefix_);
  ASSERT_EQ(system(("mkdir -p '" + server + "'").c_str()), 0);
  {
    ServerLockHolder holder(server + "/lock");
    EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)", "x"), 1);
  }
  EXPECT_EQ(Write(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)", "x"), 0);
  ASSERT_EQ(system(("rm -rf '" + server + "'").c_str()), 0);
}

TEST_F(RegistryServicePosixTest, ConcurrentWritersKeepEachOthersChanges) {
  constexpr int kWriters = 6;
  constexpr int kRounds = 15;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t pid = fork();
    if (pid == 0) {
      int failures = 0;
      for (int round = 0; round < kRounds; ++round) {
        std::string path = R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\W)" + std::to_string(writer);
        failures += WriteRegistryText(*CreateRegistryService(), path, std::to_string(round));
      }
      _exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int writer = 0; writer < kWriters; ++writer) {
    EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\W)" + std::to_string(writer)),
              std::to_string(kRounds - 1));
  }
  EXPECT_EQ(Read(R"(HKEY_LOCAL_MACHINE\Software\Abc\Settings\Name)"), "pass XX");
  EXPECT_EQ(FilesIn(prefix_), (std::vector<std::string>{"system.reg", "user.reg", "userdef.reg"}));
}

}  // namespace
}  // namespace tandor
