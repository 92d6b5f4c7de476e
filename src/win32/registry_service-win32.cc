// The registry service over the Win32 A functions: text goes to and from
// the registry in the ANSI code page, as the tool's texts are.
#include <windows.h>

#include <string>

#include "registry/registry_service.h"
#include "registry/registry_text.h"

namespace tandor {

namespace {

// On Win64 a predefined key is a 32-bit value sign-extended to pointer
// width: 0x80000002 is 0xFFFFFFFF80000002. Widening it without the sign
// names no key at all.
HKEY PredefinedKey(uint32_t root) {
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

// The A functions take zero-terminated names, so a name holding a zero
// byte would silently name another key or value; it names none.
bool ToCString(std::string_view text, std::string* copy) {
  if (text.find('\0') != std::string_view::npos) return false;
  copy->assign(text);
  return true;
}

// Runs of the tool on one machine take turns from the second read of a value
// to its write, so that two rewrites of one value cannot both start from the
// same old text and the second undo the first. The registry itself offers no
// such turn: a program that is not this tool can still change the value in
// the instant between the read and the write.
class WriteTurn {
 public:
  WriteTurn() {
    // Open to every account, so that a run as a service and a run as a user
    // share one turn; a global name, so that both find it.
    SECURITY_DESCRIPTOR open_to_all;
    InitializeSecurityDescriptor(&open_to_all, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open_to_all, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, &open_to_all, FALSE};
    mutex_ = CreateMutexA(&attributes, FALSE, "Global\\Tandor.RegistryWrite");
    // Each run holds it for milliseconds; far longer means a run is stuck.
    DWORD waited = mutex_ ? WaitForSingleObject(mutex_, 30000) : WAIT_FAILED;
    // A run that ended while holding it wrote whole or not at all.
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  WriteTurn(const WriteTurn&) = delete;
  WriteTurn& operator=(const WriteTurn&) = delete;
  ~WriteTurn() {
    if (held_) ReleaseMutex(mutex_);
    if (mutex_) CloseHandle(mutex_);
  }

  bool held() const { return held_; }

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

class Win32Registry : public RegistryService {
 public:
  bool Open(uint32_t root, std::string_view sub_key, RegistryAccess access,
            RegistryKey* key) override {
    std::string name;
    if (!ToCString(sub_key, &name)) return false;
    // A write reads the value again just before it sets it.
    REGSAM rights = access == RegistryAccess::kRead ? KEY_READ : KEY_WRITE | KEY_QUERY_VALUE;
    HKEY opened = nullptr;
    // RegOpenKeyExA, not RegCreateKeyExA: a missing key is a failure.
    if (RegOpenKeyExA(PredefinedKey(root), name.c_str(), 0, rights, &opened) != ERROR_SUCCESS)
      return false;
    *key = reinterpret_cast<RegistryKey>(opened);
    return true;
  }

  bool Query(RegistryKey key, std::string_view value_name, uint32_t* type, char* data,
             uint32_t* size) override {
    std::string name;
    if (!ToCString(value_name, &name)) return false;
    DWORD value_type = 0;
    DWORD value_size = data ? *size : 0;
    if (RegQueryValueExA(ToHkey(key), name.c_str(), nullptr, &value_type,
                         reinterpret_cast<BYTE*>(data), &value_size) != ERROR_SUCCESS)
      return false;
    *type = value_type;
    *size = value_size;
    return true;
  }

  bool SetString(RegistryKey key, std::string_view value_name, std::string_view expected,
                 std::string_view text) override {
    std::string name;
    std::string data;
    if (!ToCString(value_name, &name) || !ToCString(text, &data)) return false;
    if (data.size() >= MAXDWORD) return false;
    WriteTurn turn;
    if (!turn.held() || QueryRegistryText(*this, key, value_name) != expected) return false;
    // The size counts the terminating zero, which c_str() provides.
    return RegSetValueExA(ToHkey(key), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
  }

  void Close(RegistryKey key) override { RegCloseKey(ToHkey(key)); }
};

}  // namespace

std::unique_ptr<RegistryService> CreateRegistryService() {
  return std::make_unique<Win32Registry>();
}

}  // namespace tandor
