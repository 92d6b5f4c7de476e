// tandor_read_only_key.exe SUBKEY: gives the key HKEY_LOCAL_MACHINE\SUBKEY a
// security descriptor that lets everyone read it and nobody change it, so
// that a rewrite of one of its values reads the value and then fails to
// write it. Wine keeps a key's security in its running server only, never in
// the registry files: the black-box suite runs this after it has started the
// server its cases share.
//
// Exit code 1 when the security was not set.
#include <windows.h>
// windows.h first: sddl.h needs its types.
#include <sddl.h>

int main(int argc, char** argv) {
  HKEY key = nullptr;
  PSECURITY_DESCRIPTOR read_only = nullptr;
  // Everyone (WD) is allowed to read (KR), and nothing else; P: no entry is
  // inherited from the parent key.
  bool done = argc == 2 &&
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, WRITE_DAC, &key) == ERROR_SUCCESS &&
              ConvertStringSecurityDescriptorToSecurityDescriptorA(
                  "D:P(A;;KR;;;WD)", SDDL_REVISION_1, &read_only, nullptr) &&
              RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, read_only) == ERROR_SUCCESS;
  return done ? 0 : 1;
}
