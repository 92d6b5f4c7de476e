// tandor_launch.exe FILE: runs the command line held in FILE, byte for byte,
// with this process's standard handles, waits for it and exits with its exit
// code. The black-box suite runs it under Wine, because `wine prog args`
// re-quotes its arguments and so cannot give a program an exact command line.
//
// Exit codes of its own, on stderr with a message: 120 bad argument or
// unreadable FILE, 121 the process could not be started.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

enum : int { kStatusBadArgument = 120, kStatusNotStarted = 121 };

// The one argument is a plain DOS path, which every splitting rule leaves
// alone, so the C runtime's argv serves here.
int main(int argc, char** argv) {
  std::ifstream file(argc == 2 ? argv[1] : "", std::ios::binary);
  std::string command_line{std::istreambuf_iterator<char>(file), {}};
  if (!file.is_open() || file.bad() || command_line.find('\0') != std::string::npos) {
    std::fputs("usage: tandor_launch FILE-HOLDING-THE-COMMAND-LINE\n", stderr);
    return kStatusBadArgument;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  // The child gets our standard handles; they must be inheritable for that,
  // which the handles Wine makes from Unix descriptors need not be. Setting
  // a missing one fails, harmlessly.
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  PROCESS_INFORMATION process = {};
  // CreateProcessA may write into the command line, so it gets a copy it owns.
  // On a loaded machine Wine now and then fails to start a process (about one
  // in a thousand here), with ERROR_INTERNAL_ERROR: the new process ended
  // before it was set up, before any code of the program ran. That is Wine's
  // failure, not the program's, so it is tried again.
  for (int tries = 1; !CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
       ++tries) {
    if (GetLastError() != ERROR_INTERNAL_ERROR || tries == 3) {
      std::fprintf(stderr, "tandor_launch: CreateProcessA failed, error %lu\n", GetLastError());
      return kStatusNotStarted;
    }
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = kStatusNotStarted;
  GetExitCodeProcess(process.hProcess, &exit_code);
  return static_cast<int>(exit_code);
}
