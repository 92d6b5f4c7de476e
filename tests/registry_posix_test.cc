// The built tool ($TANDOR) rewriting a real Wine prefix, made with Wine's own
// tools, under races, limits and running servers; each test starts from the
// files Wine saved. Skipped without Wine. Reads of each value type and
// rewrites through each root are the black-box table's (tests/blackbox/cases.py).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "posix/wine_server.h"

namespace tandor {
namespace {

// Commands run in the run's folder, which holds the prefix (pfx) and the
// files Wine saved after importing data/wine_fixture.reg (saved).
constexpr char kMakePrefix[] =
    "wineboot -i >/dev/null 2>&1 && wine reg import " TANDOR_TESTS_DIR
    "/data/wine_fixture.reg "
    ">/dev/null 2>&1 && wineserver -w && mkdir saved && cp pfx/*.reg saved/";
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
    if (Shell("{ command -v wine && command -v wineserver; } >/dev/null") != 0) return;
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
    made = Shell("grep -q '^\"V119\"=\"old\"$' saved/system.reg") == 0;
    ASSERT_TRUE(made);
  }

  void TearDown() override {
    if (!root.empty())
      Shell("{ wineserver -k; TMPDIR=x wineserver -k; wineserver -w; } 2>/dev/null; rm -rf " +
            root);
  }

  std::string root;
  std::string prefix;
  bool made = false;
};

WinePrefix* const kPrefix =
    static_cast<WinePrefix*>(testing::AddGlobalTestEnvironment(new WinePrefix));

class RegistryPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!kPrefix->made) GTEST_SKIP() << "Wine is not installed";
    ASSERT_EQ(Shell(kRestore), 0);
  }
};

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
