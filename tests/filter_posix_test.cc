// The built tool ($TANDOR) filtering a regular file on standard input, which
// it maps window by window: against the same bytes through a pipe, which it
// reads.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "cli/exit_status.h"

extern char** environ;

namespace tandor {
namespace {

struct ToolRun {
  std::string output;
  int status;  // the exit status, or -1 if a signal ended the run
};

// Runs `tandor -r search replace` with `input_fd` as standard input. `waiting`
// is called with the output pipe before it is read.
ToolRun Tandor(int input_fd, const std::string& search, const std::string& replace,
           void (*waiting)(int output_fd) = nullptr) {
  int out[2];
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input_fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  const char* argv[] = {TANDOR_BINARY, "-r", search.c_str(), replace.c_str(), nullptr};
  pid_t pid;
  EXPECT_EQ(posix_spawn(&pid, TANDOR_BINARY, &actions, nullptr, const_cast<char**>(argv), environ),
            0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (waiting != nullptr) waiting(out[0]);
  ToolRun run;
  char buffer[65536];
  for (ssize_t count; (count = read(out[0], buffer, sizeof buffer)) > 0;) run.output.append(buffer, count);
  close(out[0]);
  int status;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

ToolRun ThroughPipe(const std::string& input, const std::string& search, const std::string& replace) {
  int in[2];
  EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
  std::thread writer([&input, fd = in[1]] {
    for (size_t done = 0; done < input.size();) {
      ssize_t count = write(fd, input.data() + done, input.size() - done);
      if (count <= 0) break;
      done += count;
    }
    close(fd);
  });
  ToolRun run = Tandor(in[0], search, replace);
  close(in[0]);
  writer.join();
  return run;
}

// An unlinked file holding `content`, open for reading and writing.
int TempFile(const std::string& content) {
  char path[] = "/tmp/tandor-filter-XXXXXX";
  int fd = mkostemp(path, O_CLOEXEC);
  unlink(path);
  EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
  return fd;
}

std::string Repeat(const std::string& unit, size_t size, size_t line_every) {
  std::string text;
  for (size_t i = 1; text.size() < size; ++i) text += i % line_every == 0 ? "\n" : unit;
  return text;
}

struct FileCase {
  const char* name;
  std::string content;
  off_t offset;  // where standard input starts
  std::string search, replace;
};

// Windows of the file end at page boundaries, occurrences straddle them
// (also one longer than a page), and the run leaves the offset at the end.
TEST(FilterPosixTest, MappedFileGivesWhatAPipeGives) {
  const std::string long_search = std::string(5000, 'y') + "z";
  const FileCase cases[] = {
      {"windows", Repeat("ab pass XX pass X", 3 * 1024 * 1024 + 123, 97), 0, "pass XX", "pass 1.1"},
      {"from an offset", Repeat("ab pass XX pass X", 2 * 1024 * 1024, 1000), 5001, "pass XX", "-"},
      {"long search", Repeat(std::string(5100, 'y') + "z", 3 * 1024 * 1024, 50), 0, long_search,
       "L"},
      {"no line end", Repeat("a pass XX", 1536 * 1024, 1 << 30), 0, "pass XX", "Y"},
      {"empty", "", 0, "a", "b"},
      {"offset at the end", "abc", 3, "a", "b"},
  };
  for (const FileCase& c : cases) {
    int fd = TempFile(c.content);
    lseek(fd, c.offset, SEEK_SET);
    ToolRun mapped = Tandor(fd, c.search, c.replace);
    ToolRun piped = ThroughPipe(c.content.substr(c.offset), c.search, c.replace);
    EXPECT_TRUE(mapped.output == piped.output) << c.name;
    EXPECT_EQ(mapped.status, piped.status) << c.name;
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), static_cast<off_t>(c.content.size())) << c.name;
    close(fd);
  }
}

int g_truncated_fd;

// Waits until the tool is blocked writing a full pipe, in the middle of its
// first window, then cuts its input file off under it.
void TruncateWhenBlocked(int output_fd) {
  int capacity = fcntl(output_fd, F_GETPIPE_SZ);
  for (int waiting = 0, queued = 0; queued < capacity && waiting < 10000; ++waiting) {
    ioctl(output_fd, FIONREAD, &queued);
    usleep(1000);
  }
  EXPECT_EQ(ftruncate(g_truncated_fd, 0), 0);
}

TEST(FilterPosixTest, FileCutWhileMappedFailsTheRun) {
  g_truncated_fd = TempFile(Repeat("ab pass XX pass X", 8 * 1024 * 1024, 97));
  lseek(g_truncated_fd, 0, SEEK_SET);
  ToolRun run = Tandor(g_truncated_fd, "pass XX", "pass 1.1", TruncateWhenBlocked);
  EXPECT_EQ(run.status, kStatusNotDone);
  EXPECT_LT(run.output.size(), 2u * 1024 * 1024);
  close(g_truncated_fd);
}

}  // namespace
}  // namespace tandor
