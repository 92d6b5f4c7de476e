// The POSIX registry service against a real Wine prefix: values are made
// with Wine's `reg import`, read and written with the service or the built
// tool (TANDOR_BINARY), and checked again with Wine's `reg export` and `reg
// query`. One prefix serves the whole run; each test starts from the files
// Wine saved. Skipped where Wine is not installed.
//
// TANDOR_BINARY: the built tool, defined by the build.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "registry/registry_service.h"
#include "registry/registry_text.h"
#include "registry/wine_prefix.h"
#include "registry/wine_text.h"

namespace tandor {
namespace {

const std::string kEAcute = "\xc3\xa9";
const std::string kAccent = "caf" + kEAcute +
                            " \xe2\x82\xac"
                            "5 \xf0\x9f\x98\x80 end";
const char* const kHiveFiles[] = {"system.reg", "user.reg", "userdef.reg"};

// 511 two-byte characters: with the terminating zero, 1,023 bytes.
std::string LongText() {
  std::string text;
  for (int i = 0; i < 511; ++i) text += kEAcute;
  return text;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Byte-for-byte equality that tells where the first difference lies: gtest's
// own diff of two registry files would take minutes.
testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  size_t from = at < 40 ? 0 : at - 40;
  return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                     << ", first difference at " << at << ":\n"
                                     << actual.substr(from, 120) << "\n---\n"
                                     << expected.substr(from, 120);
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

// Runs `command` with sh and gives its exit status, its standard output in
// `*output`.
int Capture(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  for (size_t count; (count = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output->append(buffer, count);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `text` quoted for sh.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A .reg file as `reg import` takes it: UTF-16LE with a byte order mark.
std::string Utf16File(const std::string& utf8) {
  std::u16string units;
  EXPECT_TRUE(DecodeUtf8(utf8, Surrogates::kRefuse, &units));
  std::string bytes = "\xff\xfe";
  for (char16_t unit : units) {
    if (unit == u'\n') bytes.append("\r\0", 2);
    bytes.push_back(static_cast<char>(unit & 0xff));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf8OfUtf16File(const std::string& bytes) {
  std::u16string units;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          static_cast<unsigned char>(bytes[i + 1]) << 8));
  std::string utf8;
  AppendUtf8(units, &utf8);
  return utf8;
}

std::string Fixture() {
  std::string text = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Abc]
"Settings"="pass XX"
"Version"="1.5"

[HKEY_LOCAL_MACHINE\Software\TandorTest\Settings]
@="default"
"@"="at-named"
"Plain"="pass XX"
"Accent"="ACCENT"
"Quote"="say \"hi\" \\ back\\\\slash"
"Tab"="a	b"
"Empty"=""
"Exp"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00
"Num"=dword:0000002a
"Bin"=hex:de,ad,be,ef
"Long1023"="LONG"
"Long1024"="LONGa"

[HKEY_LOCAL_MACHINE\Software\TandorTest\Brä[ck]ets]
"In"="x"

[HKEY_LOCAL_MACHINE\Software\TandorTest\Deep\Er\Key]
"V"="deep"

[HKEY_LOCAL_MACHINE\Software\TandorTest\Conc]
CONCURRENT
[HKEY_CURRENT_USER]
"RootVal"="rootval"

[HKEY_CURRENT_USER\Software\TandorTest]
"UserVal"="u1"

[HKEY_USERS\.Default\Software\TandorTest]
"DefVal"="d1"

[HKEY_CLASSES_ROOT\.tandortest]
@="tandorfile"
)";
  std::string concurrent;
  for (int i = 100; i < 120; ++i) concurrent += "\"V" + std::to_string(i) + "\"=\"old\"\n";
  for (auto [from, to] : {std::pair{"ACCENT", kAccent},
                          {"LONG", LongText()},
                          {"LONG", LongText()},
                          {"CONCURRENT\n", concurrent}}) {
    text.replace(text.find(from), strlen(from), to);
  }
  return text;
}

// The prefix of this run, made once: `wineboot`, the fixture imported, and
// the server stopped, so that the files hold everything.
class WinePrefix : public testing::Environment {
 public:
  void SetUp() override {
    if (Shell("command -v wine >/dev/null && command -v wineserver >/dev/null") != 0) return;
    char pattern[] = "/tmp/tandor-regposix-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    prefix_ = root_ + "/pfx";
    ASSERT_EQ(mkdir((root_ + "/tmp").c_str(), 0700), 0);
    setenv("WINEPREFIX", prefix_.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);  // the server's directory goes there
    WriteFile(root_ + "/fixture.reg", Utf16File(Fixture()));
    ASSERT_EQ(Shell("cd '" + root_ +
                    "' && wineboot -i >/dev/null 2>&1 && "
                    "wine reg import fixture.reg >/dev/null 2>&1 && "
                    "wine reg export 'HKLM\\Software\\TandorTest' before.reg /y >/dev/null 2>&1 && "
                    "wineserver -w"),
              0);
    for (const char* file : kHiveFiles) saved_[file] = ReadFile(prefix_ + "/" + file);
    ASSERT_NE(saved_["system.reg"].find("TandorTest"), std::string::npos);
    ready_ = true;
  }

  void TearDown() override {
    if (root_.empty()) return;
    Shell("wineserver -k 2>/dev/null; wineserver -w 2>/dev/null");
    Shell("rm -rf '" + root_ + "'");
  }

  // Puts back the files as Wine saved them after the import.
  void Restore() {
    for (const auto& [file, content] : saved_) WriteFile(prefix_ + "/" + file, content);
  }

  bool ready() const { return ready_; }
  const std::string& root() const { return root_; }
  const std::string& prefix() const { return prefix_; }
  const std::string& saved(const std::string& file) { return saved_[file]; }

 private:
  bool ready_ = false;
  std::string root_;
  std::string prefix_;
  std::map<std::string, std::string> saved_;
};

WinePrefix* const kPrefix =
    static_cast<WinePrefix*>(testing::AddGlobalTestEnvironment(new WinePrefix));

class RegistryPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!kPrefix->ready()) GTEST_SKIP() << "Wine is not installed";
    kPrefix->Restore();
  }

  std::string Read(const std::string& path) {
    return ReadRegistryText(*CreateRegistryService(), path);
  }
  int Write(const std::string& path, const std::string& text) {
    return WriteRegistryText(*CreateRegistryService(), path, text);
  }
  std::string Hive(const std::string& file) { return ReadFile(kPrefix->prefix() + "/" + file); }
  std::string Tool() { return Quoted(TANDOR_BINARY); }
  std::vector<std::string> PrefixFiles() {
    std::string listing;
    Capture("ls -a " + Quoted(kPrefix->prefix()), &listing);
    std::vector<std::string> names;
    std::istringstream lines(listing);
    for (std::string name; std::getline(lines, name);) names.push_back(name);
    return names;
  }
  // Wine's own export of `key`, made by a run of Wine that ends before this
  // returns.
  std::string Export(const std::string& key) {
    std::string file = kPrefix->root() + "/export.reg";
    EXPECT_EQ(Shell("wine reg export '" + key + "' '" + file +
                    "' /y >/dev/null 2>&1 && "
                    "wineserver -w"),
              0);
    return Utf8OfUtf16File(ReadFile(file));
  }
};

TEST_F(RegistryPosixTest, ReadsWhatWineWrote) {
  const std::string kSettings = "HKEY_LOCAL_MACHINE\\Software\\TandorTest\\Settings\\";
  const std::string long_text = LongText();
  const struct {
    std::string path;
    std::string text;
  } kCases[] = {
      {kSettings + "Plain", "pass XX"},
      {"HKEY_LOCAL_MACHINE\\SOFTWARE\\tandortest\\SETTINGS\\plain", "pass XX"},
      {kSettings, "default"},
      {kSettings + "@", "at-named"},
      {kSettings + "Accent", kAccent},
      {kSettings + "Quote", "say \"hi\" \\ back\\\\slash"},
      {kSettings + "Tab", "a\tb"},
      {kSettings + "Long1023", long_text},
      {kSettings + "Long1024", ""},
      {kSettings + "Exp", ""},
      {kSettings + "Num", ""},
      {kSettings + "Bin", ""},
      {kSettings + "Missing", ""},
      {"HKEY_LOCAL_MACHINE\\Software\\TandorTest\\BR\xc3\x84[CK]ETS\\In", "x"},
      {"HKEY_LOCAL_MACHINE\\Software\\TandorTest\\Deep\\Er\\Key\\V", "deep"},
      {"HKEY_LOCAL_MACHINE\\Software\\Abc\\Version", "1.5"},
      {"HKEY_CURRENT_USER\\RootVal", "rootval"},
      {"HKEY_CURRENT_USER\\Software\\TandorTest\\UserVal", "u1"},
      {"HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\TandorTest\\UserVal", "u1"},
      {"HKEY_USERS\\.DEFAULT\\Software\\TandorTest\\DefVal", "d1"},
      {"HKEY_CLASSES_ROOT\\.tandortest\\", "tandorfile"},
      {"HKEY_CLASSES_ROOT\\\\.tandortest\\", "tandorfile"},
      {"HKEY_CURRENT_USER\\\\Software\\TandorTest\\UserVal", ""},
      // Links are not followed: Wine's prefix links this key to the one
      // below "Windows NT".
      {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Time Zones\\UTC\\Std",
       ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(Read(c.path), c.text) << c.path;
}

// `text` with its first `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

// Whether `output` of `reg query` has the line "    <line>".
bool HasLine(const std::string& output, const std::string& line) {
  for (size_t at = output.find("    " + line); at != std::string::npos;
       at = output.find("    " + line, at + 1)) {
    size_t end = at + 4 + line.size();
    if (end < output.size() && (output[end] == '\r' || output[end] == '\n')) return true;
  }
  return false;
}

// A value as `reg export` writes it.
std::string Exported(const std::string& name, const std::string& text) {
  std::string line = name.empty() ? "@=\"" : "\"" + name + "\"=\"";
  for (char c : text) {
    if (c == '\\' || c == '"') line.push_back('\\');
    line.push_back(c);
  }
  return line + "\"\r\n";
}

TEST_F(RegistryPosixTest, WritesThatWineReadsBackWithAllElseUnchanged) {
  const std::string kKey = "HKEY_LOCAL_MACHINE\\Software\\TandorTest\\";
  const std::string kNew = "fresh \"q\" \\ " + kEAcute + "\xe2\x82\xac\xf0\x9f\x98\x80\t!";
  chmod((kPrefix->prefix() + "/system.reg").c_str(), 0640);
  EXPECT_EQ(Write(kKey + "Settings\\plain", "pass 1.1"), 0);
  EXPECT_EQ(Write(kKey + "Settings\\", "new default"), 0);
  EXPECT_EQ(Write(kKey + "Settings\\New", kNew), 0);
  EXPECT_EQ(Write(kKey + "deep\\Fresh", "implied"), 0);
  EXPECT_EQ(Read(kKey + "Settings\\New"), kNew);
  struct stat info;
  ASSERT_EQ(stat((kPrefix->prefix() + "/system.reg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);  // before Wine saves it anew

  std::string expected = Utf8OfUtf16File(ReadFile(kPrefix->root() + "/before.reg"));
  for (auto [from, to] :
       {std::pair{Exported("Plain", "pass XX"), Exported("Plain", "pass 1.1")},
        {Exported("", "default"), Exported("", "new default")},
        {std::string("\"Num\"="), Exported("New", kNew) + "\"Num\"="},
        {std::string("\\Deep]\r\n"), "\\Deep]\r\n" + Exported("Fresh", "implied")}}) {
    ASSERT_NE(expected.find(from), std::string::npos) << from;
    expected.replace(expected.find(from), from.size(), to);
  }
  EXPECT_TRUE(SameBytes(Export("HKLM\\Software\\TandorTest"), expected));
}

TEST_F(RegistryPosixTest, WritesEachRootToItsFile) {
  EXPECT_EQ(Write("HKEY_CURRENT_USER\\NewRoot", "r"), 0);
  EXPECT_EQ(Write("HKEY_USERS\\.Default\\Software\\TandorTest\\DefVal", "d2"), 0);
  EXPECT_EQ(Write("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\TandorTest\\UserVal", "u2"), 0);
  EXPECT_EQ(Write("HKEY_CLASSES_ROOT\\.tandortest\\", "other"), 0);
  std::string output;
  EXPECT_EQ(Capture("exec 2>/dev/null; wine reg query HKCU /v NewRoot && "
                    "wine reg query 'HKU\\.Default\\Software\\TandorTest' /v DefVal && "
                    "wine reg query 'HKCU\\Software\\TandorTest' /v UserVal && "
                    "wine reg query 'HKCR\\.tandortest' /ve && wineserver -w",
                    &output),
            0);
  for (const char* line : {"NewRoot    REG_SZ    r", "DefVal    REG_SZ    d2",
                           "UserVal    REG_SZ    u2", "(Default)    REG_SZ    other"}) {
    EXPECT_TRUE(HasLine(output, line)) << line << output;
  }
}

TEST_F(RegistryPosixTest, RefusedWritesChangeNoFile) {
  const struct {
    std::string path;
    std::string text;
  } kCases[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\TandorTest\\Nowhere\\New", "x"},
      {"HKEY_LOCAL_MACHINE\\Software\\TandorTest\\Settings\\Plain", "not \xff utf-8"},
      {"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Time Zones\\New", "x"},
      {"HKEY_USERS\\New", "x"},
      {"HKEY_USERS\\S-1-5-18\\New", "x"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Write(c.path, c.text), 1) << c.path;
  for (const char* file : kHiveFiles) {
    EXPECT_TRUE(SameBytes(Hive(file), kPrefix->saved(file))) << file;
  }
}

TEST_F(RegistryPosixTest, RewriteModeRewritesTheValueWineThenShows) {
  std::string output;
  EXPECT_EQ(
      Capture(Tool() + R"( -w 'HKEY_LOCAL_MACHINE\Software\Abc\Settings' 'pass XX' 'pass 1.1')",
              &output),
      0);
  EXPECT_EQ(output, "\n\nSuccessfully modified registry key.\n\n");
  output.clear();
  EXPECT_EQ(Capture(Tool() + R"( "^r'HKEY_LOCAL_MACHINE\Software\Abc\Settings'")", &output), 0);
  EXPECT_EQ(output, "pass 1.1");
  output.clear();
  EXPECT_EQ(Capture(R"(wine reg query 'HKLM\Software\Abc' 2>/dev/null && wineserver -w)", &output),
            0);
  EXPECT_TRUE(HasLine(output, "Settings    REG_SZ    pass 1.1")) << output;
  EXPECT_TRUE(HasLine(output, "Version    REG_SZ    1.5")) << output;
}

TEST_F(RegistryPosixTest, ConcurrentRewritesAllKeepTheirChange) {
  std::string output;
  EXPECT_EQ(Capture("for i in $(seq 100 119); do " + Tool() +
                        R"( -w "HKEY_LOCAL_MACHINE\Software\TandorTest\Conc\V$i" old "new$i" )"
                        R"(>/dev/null & pids="$pids $!"; done; )"
                        R"(for pid in $pids; do wait $pid || echo "$pid failed"; done)",
                    &output),
            0);
  EXPECT_EQ(output, "");
  // Each run replaced its value's data in place, so the file is the saved
  // one with exactly these twenty changes.
  std::string expected = kPrefix->saved("system.reg");
  for (int i = 100; i < 120; ++i) {
    std::string from = "\"V" + std::to_string(i) + "\"=\"old\"";
    ASSERT_NE(expected.find(from), std::string::npos);
    expected.replace(expected.find(from), from.size(),
                     Replaced(from, "old", "new" + std::to_string(i)));
  }
  EXPECT_TRUE(SameBytes(Hive("system.reg"), expected));
  EXPECT_EQ(
      Capture(R"(wine reg query 'HKLM\Software\TandorTest\Conc' 2>/dev/null && wineserver -w)",
              &output),
      0);
  for (int i = 100; i < 120; ++i) {
    std::string line = "V" + std::to_string(i) + "    REG_SZ    new" + std::to_string(i);
    EXPECT_TRUE(HasLine(output, line)) << line;
  }
}

TEST_F(RegistryPosixTest, AWriteThatFailsMidwayLeavesTheFileWhole) {
  std::vector<std::string> files = PrefixFiles();
  std::string output;
  // A file size limit (in 512-byte blocks) far below system.reg's size stops
  // the temporary file.
  EXPECT_EQ(Capture("ulimit -f 128; exec " + Tool() +
                        R"( -w 'HKEY_LOCAL_MACHINE\Software\Abc\Settings' 'pass XX' 'pass 1.1')",
                    &output),
            2);
  EXPECT_NE(output.find("ERROR: Failed Registry write."), std::string::npos) << output;
  EXPECT_TRUE(SameBytes(Hive("system.reg"), kPrefix->saved("system.reg")));
  EXPECT_EQ(PrefixFiles(), files);
}

// Waits until the prefix's server lock is `held`, for up to five seconds.
bool WaitForServer(bool held) {
  for (int i = 0; i < 100 && WineServerRuns(kPrefix->prefix()) != held; ++i) usleep(50000);
  return WineServerRuns(kPrefix->prefix()) == held;
}

TEST_F(RegistryPosixTest, NoWriteWhileThePrefixsServerRuns) {
  const std::string kPath = "HKEY_LOCAL_MACHINE\\Software\\Abc\\Settings";
  ASSERT_EQ(Shell("wineserver -p >/dev/null 2>&1 &"), 0);
  ASSERT_TRUE(WaitForServer(true));
  EXPECT_EQ(Write(kPath, "x"), 1);
  std::string output;
  EXPECT_EQ(Capture(Tool() + " -w " + Quoted(kPath) + " 'pass XX' 'pass 1.1'", &output), 2);
  EXPECT_TRUE(SameBytes(Hive("system.reg"), kPrefix->saved("system.reg")));
  EXPECT_EQ(Read(kPath), "pass XX");
  ASSERT_EQ(Shell("wineserver -k && wineserver -w"), 0);
  ASSERT_TRUE(WaitForServer(false));
  kPrefix->Restore();
  EXPECT_EQ(Write(kPath, "x"), 0);
}

TEST_F(RegistryPosixTest, NoWriteWhileAnUpstreamServerHoldsItsLock) {
  struct stat info;
  ASSERT_EQ(stat(kPrefix->prefix().c_str(), &info), 0);
  char server[64];
  snprintf(server, sizeof server, "server-%llx-%llx", static_cast<unsigned long long>(info.st_dev),
           static_cast<unsigned long long>(info.st_ino));
  std::string base = "/tmp/.wine-" + std::to_string(getuid());
  bool made_base = mkdir(base.c_str(), 0700) == 0;
  std::string directory = base + "/" + server;
  ASSERT_TRUE(mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST);
  // Another process holds the lock as the server would, until its input ends.
  FILE* holder = popen(("exec python3 -c 'import fcntl, os, sys; "
                        "fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT); "
                        "fcntl.lockf(fd, fcntl.LOCK_EX, 1, 0); sys.stdin.read()' " +
                        Quoted(directory + "/lock"))
                           .c_str(),
                       "w");
  ASSERT_NE(holder, nullptr);
  EXPECT_TRUE(WaitForServer(true));
  EXPECT_EQ(Write("HKEY_LOCAL_MACHINE\\Software\\Abc\\Settings", "x"), 1);
  EXPECT_TRUE(SameBytes(Hive("system.reg"), kPrefix->saved("system.reg")));
  pclose(holder);
  // The lock file stays after the server ends; only the lock counts.
  EXPECT_TRUE(WaitForServer(false));
  EXPECT_EQ(Write("HKEY_LOCAL_MACHINE\\Software\\Abc\\Settings", "x"), 0);
  Shell("rm -rf " + Quoted(made_base ? base : directory));
}

TEST_F(RegistryPosixTest, AMissingPrefixIsAnEmptyRegistry) {
  setenv("WINEPREFIX", (kPrefix->root() + "/none").c_str(), 1);
  EXPECT_EQ(Read("HKEY_LOCAL_MACHINE\\Software\\Abc\\Settings"), "");
  EXPECT_EQ(Write("HKEY_LOCAL_MACHINE\\Software\\Abc\\Settings", "x"), 1);
  setenv("WINEPREFIX", kPrefix->prefix().c_str(), 1);
}

}  // namespace
}  // namespace tandor
