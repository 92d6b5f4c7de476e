// The platform's registry: the four operations the tool uses, modelled on
// RegOpenKeyExA, RegQueryValueExA, RegSetValueExA and RegCloseKey. The Win32
// build calls those; the POSIX build works on a Wine prefix's registry files.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "registry/value_types.h"

namespace tandor {

enum class RegistryAccess { kRead, kWrite };

// An open key; meaningful only to the service that opened it.
using RegistryKey = std::uintptr_t;

class RegistryService {
 public:
  virtual ~RegistryService() = default;

  // Opens the existing `sub_key` (may be empty: the root itself) of the
  // predefined key `root` (0x80000000 for HKEY_CLASSES_ROOT ...). Never
  // creates a key. Gives false on any failure.
  virtual bool Open(uint32_t root, std::string_view sub_key, RegistryAccess access,
                    RegistryKey* key) = 0;

  // Queries the value `value_name` (empty: the default value). With `data`
  // null, reports the type and the data size in bytes (a string's
  // terminating zero counted). Otherwise `*size` is the capacity of `data`
  // on entry; the data is copied and `*size` set to its length. Gives false
  // when the value is missing, `data` is too small, or the query fails.
  virtual bool Query(RegistryKey key, std::string_view value_name, uint32_t* type, char* data,
                     uint32_t* size) = 0;

  // Creates or replaces `value_name` as a REG_SZ holding `text` and its
  // terminating zero, provided the value still reads as `expected` by the
  // rules of ReadRegistryText (StringValueText): a change another process
  // made after the caller's read is never overwritten. Gives false on
  // failure, or when the value reads otherwise; it is then unchanged.
  virtual bool SetString(RegistryKey key, std::string_view value_name, std::string_view expected,
                         std::string_view text) = 0;

  virtual void Close(RegistryKey key) = 0;
};

// The platform's registry service.
std::unique_ptr<RegistryService> CreateRegistryService();

// Closes an opened key on every path out of a scope.
class OpenedKey {
 public:
  OpenedKey(RegistryService& service, RegistryKey key) : service_(&service), key_(key) {}
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  ~OpenedKey() { service_->Close(key_); }
  RegistryKey get() const { return key_; }

 private:
  RegistryService* service_;
  RegistryKey key_;
};

}  // namespace tandor
