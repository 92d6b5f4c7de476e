// The registry of a Wine prefix, read from and written to its registry files.
#include <time.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "posix/registry_file.h"
#include "posix/wine_prefix.h"
#include "posix/wine_server.h"
#include "registry/registry_service.h"
#include "registry/registry_text.h"
#include "winereg/wine_key_location.h"
#include "winereg/wine_registry_file.h"

namespace tandor {

namespace {

struct OpenedFileKey {
  RegistryAccess access;
  std::shared_ptr<const std::string> text;  // the file as the key was opened
  WineKeyLocation where;
};

WineTime Now() {
  struct timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return {static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec)};
}

class WineRegistry : public RegistryService {
 public:
  // Nothing is read before the first Open: most runs never use the registry.
  WineRegistry() = default;

  bool Open(uint32_t root, std::string_view sub_key, RegistryAccess access,
            RegistryKey* key) override {
    std::optional<WineKeyLocation> where =
        LocateWineKey(root, sub_key, [this](const std::string& file) {
          std::shared_ptr<const std::string> text = Load(file);
          return text ? std::optional<std::string_view>(*text) : std::nullopt;
        });
    if (!where) return false;
    keys_.push_back(std::make_unique<OpenedFileKey>(
        OpenedFileKey{access, Load(where->file), std::move(*where)}));
    *key = keys_.size();
    return true;
  }

  bool Query(RegistryKey key, std::string_view value_name, uint32_t* type, char* data,
             uint32_t* size) override {
    OpenedFileKey* opened = Find(key, RegistryAccess::kRead);
    if (opened == nullptr) return false;
    std::optional<WineValue> value = FindWineValue(*opened->text, opened->where.key, value_name);
    if (!value || value->data.size() > UINT32_MAX) return false;
    uint32_t needed = static_cast<uint32_t>(value->data.size());
    if (data != nullptr) {
      if (*size < needed) return false;
      value->data.copy(data, needed);
    }
    *type = value->type;
    *size = needed;
    return true;
  }

  bool SetString(RegistryKey key, std::string_view value_name, std::string_view expected,
                 std::string_view text) override {
    OpenedFileKey* opened = Find(key, RegistryAccess::kWrite);
    if (opened == nullptr) return false;
    const WineKeyLocation& where = opened->where;
    // From before the file is read until after it is replaced, no server
    // may start on the prefix: it would load one text and later save it over
    // the other.
    WineServerLockout lockout(Prefix());
    if (!lockout.Acquire()) return false;
    // The rewrite reads the file anew under its lock: the copy read when the
    // key was opened would only double the memory a large file takes.
    opened->text.reset();
    files_.erase(where.file);
    WineTime now = Now();
    bool written = RewriteRegistryFile(
        FilePath(where.file),
        [&](std::string_view current) -> std::optional<TextSplices> {
          std::optional<WineStringEdit> edit =
              SetWineString(current, where.path, value_name, text, now);
          if (!edit) return std::nullopt;
          const std::optional<WineValue>& old = edit->old_value;
          // Changed since it was read: this text must not replace that change.
          if ((old ? StringValueText(old->type, old->data) : "") != expected) return std::nullopt;
          return std::move(edit->splices);
        },
        [&] { return lockout.StillClear(); });
    // A server that started in a folder the lockout could not know of has
    // loaded one text or the other, and will save it; seen now, the write
    // fails, though the file holds it.
    return written && lockout.StillClear();
  }

  void Close(RegistryKey key) override {
    if (key >= 1 && key <= keys_.size()) keys_[key - 1].reset();
  }

 private:
  const std::string& Prefix() {
    if (prefix_.empty()) prefix_ = WinePrefixDirectory();
    return prefix_;
  }

  std::string FilePath(const std::string& file) { return Prefix() + "/" + file; }

  // Each file is read once per run and shared by the keys opened in it.
  std::shared_ptr<const std::string> Load(const std::string& file) {
    auto cached = files_.find(file);
    if (cached != files_.end()) return cached->second;
    std::shared_ptr<const std::string> text;
    if (std::optional<std::string> read = ReadRegistryFile(FilePath(file)))
      text = std::make_shared<const std::string>(std::move(*read));
    files_.emplace(file, text);
    return text;
  }

  // The key opened as `key` with `access`; null for any other handle.
  OpenedFileKey* Find(RegistryKey key, RegistryAccess access) {
    if (key < 1 || key > keys_.size()) return nullptr;
    OpenedFileKey* opened = keys_[key - 1].get();
    return opened != nullptr && opened->access == access ? opened : nullptr;
  }

  std::string prefix_;
  std::map<std::string, std::shared_ptr<const std::string>> files_;
  std::vector<std::unique_ptr<OpenedFileKey>> keys_;  // handle n is keys_[n - 1]
};

}  // namespace

std::unique_ptr<RegistryService> CreateRegistryService() {
  return std::make_unique<WineRegistry>();
}

}  // namespace tandor
