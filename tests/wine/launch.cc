// tandor_launch.exe HEX: runs the command line whose bytes HEX spells (two
// lower- or upper-case hex digits per byte) with this process's standard
// handles, waits for it and exits with its exit code. The black-box suite
// runs it under Wine, because `wine prog args` re-quotes its arguments and
// so cannot give a program an exact command line.
//
// tandor_launch.exe @FILE does the same with the bytes of FILE as the command
// line: a long one would not fit this process's own command line in hex.
//
// Exit codes of its own, on stderr with a message: 120 bad argument,
// 121 the process could not be started.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kStatusBadArgument = 120;
constexpr int kStatusNotStarted = 121;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeHex(const char* hex, std::string* bytes) {
  for (; hex[0] != '\0'; hex += 2) {
    int high = HexDigit(hex[0]);
    int low = hex[1] == '\0' ? -1 : HexDigit(hex[1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

bool ReadWholeFile(const char* path, std::string* bytes) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char block[4096];
  for (size_t count; (count = std::fread(block, 1, sizeof block, file)) > 0;)
    bytes->append(block, count);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

bool CommandLineFrom(const char* argument, std::string* command_line) {
  if (argument[0] == '@') return ReadWholeFile(argument + 1, command_line);
  return DecodeHex(argument, command_line);
}

// The child gets our standard handles; they must be inheritable for that,
// which the handles Wine makes from Unix descriptors need not be.
HANDLE InheritableStdHandle(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

}  // namespace

// The one argument is plain hex, which every splitting rule leaves alone, so
// the C runtime's argv serves here.
int main(int argc, char** argv) {
  std::string command_line;
  if (argc != 2 || !CommandLineFrom(argv[1], &command_line) ||
      command_line.find('\0') != std::string::npos) {
    std::fputs("usage: tandor_launch HEX-ENCODED-COMMAND-LINE | @FILE\n", stderr);
    return kStatusBadArgument;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritableStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = InheritableStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = InheritableStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  // CreateProcessA may write into the command line, so it gets a copy it owns.
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "tandor_launch: CreateProcessA failed, error %lu\n", GetLastError());
    return kStatusNotStarted;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = kStatusNotStarted;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}
