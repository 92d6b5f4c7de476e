// The POSIX registry service and the built tool ($TANDOR) on one real Wine
// prefix, made with Wine's own tools; each test starts from the files Wine
// saved. Skipped without Wine. Reads of each value type and rewrites through
// the tool are the black-box table's (tests/blackbox/cases.py).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "posix/wine_server.h"
#include "registry/registry_service.h"
#include "registry/registry_text.h"

namespace tandor {
namespace {

// Commands run in the run's folder, which holds the prefix (pfx) and the
// files Wine saved after the import (saved).
constexpr char kMakePrefix[] = R"(
{ cat <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\TandorTest\Settings]
"Plain"="pass XX"

[HKEY_LOCAL_MACHINE\Software\TandorTest\Deep\Er\Key]
"V"="deep"

[HKEY_CURRENT_USER\Software\TandorTest]
"UserVal"="u1"

[HKEY_USERS\.Default\Software\TandorTest]
"DefVal"="d1"

[HKEY_CLASSES_ROOT\.tandortest]
@="tandorfile"

[HKEY_LOCAL_MACHINE\Software\TandorTest\Conc]
REG
  for i in $(seq 100 119); do echo "\"V$i\"=\"old\""; done; } >fixture.reg &&
wineboot -i >/dev/null 2>&1 && wine reg import fixture.reg >/dev/null 2>&1 && wineserver -w &&
mkdir saved && cp pfx/*.reg saved/)";
constexpr char kExport[] =
    "for key in 'HKLM\\Software\\TandorTest' 'HKCU\\Software\\TandorTest' "
    "'HKU\\.Default\\Software\\TandorTest' 'HKCR\\.tandortest'; do "
    "wine reg export \"$key\" export.reg /y >/dev/null 2>&1 && "
    "iconv -f UTF-16 -t UTF-8 export.reg || exit 1; done; wineserver -w";
constexpr char kRestore[] = "cp saved/*.reg pfx/";
constexpr char kUnchanged[] =
    "for f in system user userdef; do cmp saved/$f.reg pfx/$f.reg || exit 1; done";
constexpr char kRewritePlain[] =
    "\"$TANDOR\" -w 'HKEY_LOCAL_MACHINE\\Software\\TandorTest\\Settings\\Plain' 'pass XX' 'new' "
    ">/dev/null";
const std::string kSettings = "HKEY_LOCAL_MACHINE\\Software\\TandorTest\\Settings\\";

// Runs `command` with sh; gives its exit status, and its standard output in
// `*output` when asked (else it is shown).
int Shell(const std::string& command, std::string* output = nullptr) {
  int status = -1;
  if (output == nullptr) {
    status = std::system(command.c_str());
  } else if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      output->append(buffer, count);
    status = pclose(pipe);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The prefix of this run, made once with `wineboot` and the fixture imported.
struct WinePrefix : testing::Environment {
  void SetUp() override {
    if (Shell("{ command -v wine && command -v wineserver && command -v iconv; } >/dev/null") != 0)
      return;
    char pattern[] = "/tmp/tandor-regposix-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    prefix = root + "/pfx";
    ASSERT_EQ(chdir(pattern), 0);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("TMPDIR", pattern, 1);  // the server's directory goes there
    setenv("TANDOR", TANDOR_BINARY, 1);
    ASSERT_EQ(Shell(kMakePrefix), 0);
    ASSERT_EQ(Shell(kExport, &exported), 0);
    ASSERT_NE(exported.find("\"V119\"=\"old\""), std::string::npos) << exported;
  }

  void TearDown() override {
    if (!root.empty())
      Shell("{ wineserver -k; TMPDIR=x wineserver -k; wineserver -w; } 2>/dev/null; rm -rf " +
            root);
  }

  std::string root;
  std::string prefix;
  std::string exported;  // Wine's export of the fixture's keys
};

WinePrefix* const kPrefix =
    static_cast<WinePrefix*>(testing::AddGlobalTestEnvironment(new WinePrefix));

class RegistryPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    if (kPrefix->exported.empty()) GTEST_SKIP() << "Wine is not installed";
    ASSERT_EQ(Shell(kRestore), 0);
  }

  int Write(const std::string& path, const std::string& text) {
    return WriteRegistryText(*CreateRegistryService(), path, text);
  }
};

// Each file holds its own roots; HKEY_USERS maps the user's SID to user.reg.
TEST_F(RegistryPosixTest, WritesWineReadsBackWithAllElseUnchanged) {
  // Escapes the loader must take: quote, backslash, \x padded before a hex
  // digit, a surrogate pair, a tab, octal before a digit.
  const std::string kNew = "\"\\ \303\251a\xf0\x9f\x98\x80\t\0017";  // \303\251: e acute
  const struct {
    std::string path;
    std::string text;
    std::string from;  // in Wine's export, becomes `to`
    std::string to;
  } kCases[] = {
      {kSettings + "plain", "pass 1.1", "\"Plain\"=\"pass XX\"", "\"Plain\"=\"pass 1.1\""},
      {kSettings + "New", kNew,
       "\"Plain\"=", "\"New\"=\"\\\"\\\\" + kNew.substr(2) + "\"\r\n\"Plain\"="},
      {"HKEY_LOCAL_MACHINE\\Software\\TandorTest\\deep\\Fresh", "implied", "\\Deep]\r\n",
       "\\Deep]\r\n\"Fresh\"=\"implied\"\r\n"},
      {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\TandorTest\\UserVal", "u2", "=\"u1\"",
       "=\"u2\""},
      {"HKEY_USERS\\.Default\\Software\\TandorTest\\DefVal", "d2", "=\"d1\"", "=\"d2\""},
      // Wine's HKEY_CLASSES_ROOT, unlike the other roots, takes a leading
      // backslash.
      {"HKEY_CLASSES_ROOT\\\\.tandortest\\", "other", "@=\"tandorfile\"", "@=\"other\""},
  };
  ASSERT_EQ(chmod("pfx/system.reg", 0640), 0);
  std::string expected = kPrefix->exported;
  for (const auto& c : kCases) {
    EXPECT_EQ(Write(c.path, c.text), 0) << c.path;
    ASSERT_NE(expected.find(c.from), std::string::npos) << c.from;
    expected.replace(expected.find(c.from), c.from.size(), c.to);
  }
  struct stat info;
  ASSERT_EQ(stat("pfx/system.reg", &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);  // before Wine saves the file anew
  std::string exported;
  EXPECT_EQ(Shell(kExport, &exported), 0);
  EXPECT_EQ(exported, expected);
}

TEST_F(RegistryPosixTest, RefusedWritesChangeNoFile) {
  const std::pair<std::string, std::string> kCases[] = {
      {"HKEY_CURRENT_USER\\\\Software\\TandorTest\\UserVal", "x"},
      {"HKEY_USERS\\New", "x"},
      {"HKEY_USERS\\S-1-5-18\\New", "x"},
  };
  for (const auto& [path, text] : kCases) EXPECT_EQ(Write(path, text), 1) << path;
  EXPECT_EQ(Shell(kUnchanged), 0);
}

// Each run replaces its value's data in place, so the file is the saved one
// with exactly these twenty changes, and the key's time.
TEST_F(RegistryPosixTest, ConcurrentRewritesAllKeepTheirChange) {
  Shell(R"(for i in $(seq 100 119); do "$TANDOR" -w )"
        R"("HKEY_LOCAL_MACHINE\Software\TandorTest\Conc\V$i" old "new$i" >/dev/null & done; wait)");
  EXPECT_EQ(
      Shell(R"sh(t='s/^\(\[.*\]\) [0-9]*$/\1/; /^#time=/d'; sed "$t" pfx/system.reg >now && )sh"
            R"sh(sed 's/^"V\(1[01][0-9]\)"="old"$/"V\1"="new\1"/' saved/system.reg | )sh"
            R"sh(sed "$t" | cmp - now)sh"),
      0);
}

// A write stopped by a limit succeeds or fails whole, leaves no file behind
// and says nothing on standard error; a read short of memory gives nothing.
TEST_F(RegistryPosixTest, LimitsNeitherAbortNorTear) {
  std::string files_before;
  Shell("ls -a pfx", &files_before);
  // A file size limit (in 512-byte blocks) far below system.reg's size stops
  // the temporary file; memory limits (KiB) stop a run at various points.
  for (std::string limit : {"-f 128", "-v 2000", "-v 3000", "-v 4000", "-v 6000", "-v 8000"}) {
#ifdef __SANITIZE_ADDRESS__
    if (limit[1] == 'v') continue;  // the sanitizer reserves more address space than that
#endif
    std::string run = "(ulimit " + limit + "; exec ";  // the tool alone
    EXPECT_EQ(
        Shell(run + "\"$TANDOR\" \"^r'" + kSettings + "Plain'\") 2>err | grep -vqx 'pass XX'"), 1);
    int status = Shell(run + kRewritePlain + ") 2>>err");
    bool unchanged = Shell(kUnchanged) == 0;
    EXPECT_TRUE(limit[1] == 'f' ? status == 2 && unchanged
                                : status == 0 || (status <= 3 && unchanged))
        << limit << status;
    std::string after;  // standard error's text, then the prefix's files
    Shell("cat err; ls -a pfx", &after);
    EXPECT_EQ(after, files_before) << limit;
    ASSERT_EQ(Shell(kRestore), 0);
  }
}

// Waits until the prefix's server lock is `held`, for up to five seconds.
bool WaitForServer(bool held) {
  for (int i = 0; i < 100 && WineServerRuns(kPrefix->prefix) != held; ++i) usleep(50000);
  return WineServerRuns(kPrefix->prefix) == held;
}

// A running server would overwrite the file at its next save, so the write
// fails until it ends. Debian's server is the installed one; an upstream
// server's lock, under /tmp/.wine-<uid>, is held by a stand-in.
TEST_F(RegistryPosixTest, NoWriteWhileAServerServesThePrefix) {
  struct stat info;
  ASSERT_EQ(stat("pfx", &info), 0);
  const std::string base = "/tmp/.wine-" + std::to_string(getuid());
  char server[128];
  snprintf(server, sizeof server, "%s/server-%llx-%llx", base.c_str(),
           static_cast<unsigned long long>(info.st_dev),
           static_cast<unsigned long long>(info.st_ino));
  const bool made_base = mkdir(base.c_str(), 0700) == 0;
  ASSERT_TRUE(mkdir(server, 0700) == 0 || errno == EEXIST);
  const std::pair<std::string, std::string> kServers[] = {
      {"wineserver -p", "wineserver -k && wineserver -w"},
      // Started with another TMPDIR than the tool's, its directory is elsewhere.
      {"mkdir -p x && TMPDIR=$PWD/x wineserver -p", "TMPDIR=$PWD/x wineserver -k"},
      {"python3 -c 'import fcntl, os, sys, time; fd = os.open(sys.argv[1], os.O_RDWR | "
       "os.O_CREAT); fcntl.lockf(fd, fcntl.LOCK_EX, 1, 0); time.sleep(300)' " +
           std::string(server) + "/lock & echo $! >holder.pid",
       "kill $(cat holder.pid)"},
  };
  for (const auto& [start, stop] : kServers) {
    ASSERT_EQ(Shell(start), 0) << start;
    ASSERT_TRUE(WaitForServer(true)) << start;
    EXPECT_EQ(Shell(kRewritePlain), 2) << start;
    EXPECT_EQ(Shell(kUnchanged), 0);
    ASSERT_EQ(Shell(stop), 0) << stop;
    // The lock file stays after the server ends; only the lock counts.
    ASSERT_TRUE(WaitForServer(false)) << stop;
    EXPECT_EQ(Shell(std::string(kRestore) + " && " + kRewritePlain), 0) << start;
    ASSERT_EQ(Shell(kRestore), 0);
  }
  Shell("rm -rf " + std::string(server) + (made_base ? "; rmdir " + base : ""));
  // While the lockout holds the server directories' locks, a server that
  // would load the files backs off (status 2); one started in a folder not
  // known then is seen after the fact.
  {
    WineServerLockout lockout(kPrefix->prefix);
    ASSERT_TRUE(lockout.Acquire());
    EXPECT_EQ(Shell("wineserver -p"), 2);
    EXPECT_TRUE(lockout.StillClear());
    EXPECT_EQ(Shell("TMPDIR=$PWD/x wineserver -p"), 0);
    EXPECT_FALSE(lockout.StillClear());
  }
  EXPECT_EQ(Shell("TMPDIR=$PWD/x wineserver -k"), 0);
}

}  // namespace
}  // namespace tandor
