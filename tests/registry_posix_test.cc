// The built tool ($TANDOR) rewriting a real Wine prefix, made with Wine's own
// tools, under races, limits and running servers; each test starts from the
// files Wine saved. Skipped without Wine. Reads of each value type and
// rewrites through each root are the black-box table's (tests/blackbox/cases.py).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "posix/wine_server.h"

namespace tandor {
namespace {

// Runs `command` with sh in the run's folder, which holds the prefix (pfx)
// and the files Wine saved (saved); gives its exit status.
int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr char kUnchanged[] = "cd saved && for f in *.reg; do cmp $f ../pfx/$f || exit 1; done";
const std::string kPlain = "'HKEY_LOCAL_MACHINE\\Software\\TandorTest\\Settings\\Plain'";
const std::string kRewritePlain = "\"$TANDOR\" -w " + kPlain + " 'pass XX' new >/dev/null";
// Where an upstream server of the prefix keeps its lock.
constexpr char kUpstreamDir[] = "/tmp/.wine-$(id -u)/server-$(printf %x-%x $(stat -c '%d %i' pfx))";

class RegistryPosixTest : public testing::Test {
 protected:
  // Made once per run: wineboot alone takes seconds. A failure here fails
  // every test, the skip is for a machine without Wine only.
  static void SetUpTestSuite() {
    wine_ = Shell("{ command -v wine && command -v wineserver; } >/dev/null") == 0;
    if (!wine_) return;
    char root[] = "/tmp/tandor-regposix-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    ASSERT_EQ(chdir(root), 0);
    setenv("WINEPREFIX", (std::string(root) + "/pfx").c_str(), 1);
    setenv("TMPDIR", root, 1);  // the server's directory goes there
    setenv("WINEDEBUG", "-all", 1);
    setenv("TANDOR", TANDOR_BINARY, 1);
    ASSERT_EQ(Shell("wineboot -i >/dev/null 2>&1 && wine reg import " TANDOR_TESTS_DIR
                    "/data/wine_fixture.reg >/dev/null 2>&1 && "
                    "wineserver -w && mkdir saved && cp pfx/*.reg saved/ && "
                    "grep -qx '\"V119\"=\"old\"' saved/system.reg"),
              0);
  }
  static void TearDownTestSuite() {
    if (wine_)
      Shell("{ wineserver -k; TMPDIR=$PWD/x wineserver -k; wineserver -w; } 2>/dev/null; rm -rf " +
            std::string(kUpstreamDir) + " \"$PWD\"; rmdir /tmp/.wine-$(id -u) 2>/dev/null");
  }

  void SetUp() override {
    if (!wine_) GTEST_SKIP() << "Wine is not installed";
    ASSERT_EQ(Shell("cp saved/*.reg pfx/"), 0);
  }

  static inline bool wine_ = false;
};

// Each run replaces its value's data in place, so the file is the saved one
// with exactly these twenty changes, and the key's time.
TEST_F(RegistryPosixTest, ConcurrentRewritesAllKeepTheirChange) {
  Shell(R"sh(for i in $(seq 100 119); do "$TANDOR" -w "HKEY_LOCAL_MACHINE\Software\TandorTest)sh"
        R"sh(\Conc\V$i" old "new$i" >/dev/null & done; wait)sh");
  EXPECT_EQ(Shell(R"sh(t='/^#time=/d; s/^(\[.*\]) [0-9]+$/\1/'; )sh"
                  R"sh(sed -E "$t" pfx/system.reg >now && sed -E "$t" saved/system.reg | )sh"
                  R"sh(sed -E 's/^"V(1[01][0-9])"="old"$/"V\1"="new\1"/' | diff - now)sh"),
            0);
}

// A file size limit (in 512-byte blocks) far below system.reg's size stops
// the temporary file: the write fails whole (2), and the read still
// succeeds. Out of memory, the tool fails plainly (1); a registry call that
// runs out is a unit test's. No run is killed, leaves a file behind or says
// anything on standard error.
TEST_F(RegistryPosixTest, LimitsNeitherKillNorTear) {
  ASSERT_EQ(Shell("ls -a pfx >files"), 0);
  const std::string run = "(ulimit -f 128; exec ";  // the tool alone
  EXPECT_EQ(Shell(run + "\"$TANDOR\" \"^r" + kPlain + "\") 2>err | grep -qx 'pass XX'"), 0);
  EXPECT_EQ(Shell(run + kRewritePlain + ") 2>>err"), 2);
  EXPECT_EQ(Shell(kUnchanged), 0);
#ifndef __SANITIZE_ADDRESS__  // it reserves far more address space
  // A typed line without end.
  EXPECT_EQ(Shell("(ulimit -v 300000; exec \"$TANDOR\" ^i) </dev/zero >/dev/null 2>>err"), 1);
#endif
  EXPECT_EQ(Shell("{ cat err; ls -a pfx; } | diff files -"), 0);
}

// Whether a server serves the prefix, or cannot be ruled out.
bool ServerRuns() { return !WineServerLockout(getenv("WINEPREFIX")).Acquire(); }

// Waits until the prefix's server lock is `held`, for up to five seconds.
bool WaitForServer(bool held) {
  for (int i = 0; i < 100 && ServerRuns() != held; ++i) usleep(50000);
  return ServerRuns() == held;
}

// A running server would overwrite the file at its next save, so the write
// fails until it ends; the lock file stays after the server ends, only the
// lock counts. Debian's server is the installed one.
TEST_F(RegistryPosixTest, NoWriteWhileAServerServesThePrefix) {
  const std::pair<std::string, std::string> kServers[] = {
      {"wineserver -p", "wineserver -k"},
      // Started with another TMPDIR than the tool's, its directory is elsewhere.
      {"mkdir -p x && TMPDIR=$PWD/x wineserver -p", "TMPDIR=$PWD/x wineserver -k"},
      // An upstream server's lock, held by a stand-in.
      {"umask 077; d=" + std::string(kUpstreamDir) +
           "; mkdir -p $d; python3 -c 'import fcntl, os, sys, time; "
           "fcntl.lockf(os.open(sys.argv[1], os.O_RDWR | os.O_CREAT), fcntl.LOCK_EX, 1, 0); "
           "time.sleep(300)' $d/lock & echo $! >holder.pid",
       "kill $(cat holder.pid)"},
  };
  for (const auto& [start, stop] : kServers) {
    ASSERT_EQ(Shell("cp saved/*.reg pfx/ && " + start), 0) << start;
    ASSERT_TRUE(WaitForServer(true)) << start;
    EXPECT_EQ(Shell(kRewritePlain), 2) << start;
    EXPECT_EQ(Shell(kUnchanged), 0);
    ASSERT_EQ(Shell(stop), 0) << stop;
    ASSERT_TRUE(WaitForServer(false)) << stop;
    // A server saves the files as it ends.
    EXPECT_EQ(Shell("cp saved/*.reg pfx/ && " + kRewritePlain), 0) << start;
  }
  // While the lockout holds the server directories' locks, a server that
  // would load the files backs off (status 2); one started in a folder not
  // known then is seen after the fact.
  WineServerLockout lockout(getenv("WINEPREFIX"));
  ASSERT_TRUE(lockout.Acquire());
  EXPECT_EQ(Shell("wineserver -p"), 2);
  EXPECT_TRUE(lockout.StillClear());
  EXPECT_EQ(Shell("TMPDIR=$PWD/x wineserver -p"), 0);
  EXPECT_FALSE(lockout.StillClear());
  EXPECT_EQ(Shell("TMPDIR=$PWD/x wineserver -k"), 0);
}

}  // namespace
}  // namespace tandor
