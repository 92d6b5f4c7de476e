// tandor_hold_write_turn.exe: takes the turn that rewrites of the Windows
// build take before their write, says "held" on stderr, and keeps it for
// three seconds. Rewrites started meanwhile
// all read the old value and then wait: when its turn comes, each but the
// first must find that the value has changed since, rather than write over
// that change. Without the helper, runs race only when two happen to read within
// a millisecond of each other, which starts under Wine seldom allow.
//
// Exit code 1 when the turn could not be taken.
#include <windows.h>

#include <cstdio>

int main() {
  HANDLE turn = CreateMutexA(nullptr, TRUE, "Global\\Tandor.RegistryWrite");
  if (turn == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
  std::fputs("held\n", stderr);
  std::fflush(stderr);  // Wine's C runtime buffers stderr when it is a pipe
  // Then the program ends owning the turn: the first run to wait for it
  // finds it abandoned, which the tool takes as its turn, as after a run
  // that was killed.
  Sleep(3000);
}
