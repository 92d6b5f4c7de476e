// tandor_hold_write_turn.exe: takes the turn that rewrites of the Windows
// build take before their write, says "held" on stderr (which no buffer
// holds back), and keeps it for three seconds. Rewrites started meanwhile
// all read the old value and then wait: each must find, when its turn comes,
// that another has changed the value since, rather than write over that
// change. Without this the
// race is lost only when two runs happen to read within a millisecond, which
// starts under Wine seldom allow.
//
// Exit code 1 when the turn could not be taken.
#include <windows.h>

#include <cstdio>

int main() {
  HANDLE turn = CreateMutexA(nullptr, TRUE, "Global\\Tandor.RegistryWrite");
  if (turn == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
  std::fputs("held\n", stderr);
  Sleep(3000);  // then the turn goes back as the program ends
}
