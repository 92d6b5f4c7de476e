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
#include "registry/registry_path.h"
#include "registry/registry_service.h"
#include "registry/registry_text.h"
#include "winereg/wine_registry_file.h"
#include "winereg/wine_registry_items.h"
#include "winereg/wine_registry_text.h"

namespace tandor {

namespace {

// A key's place in the prefix: the registry file and the path below its root.
struct FileKey {
  std::string file;  // "system.reg", "user.reg" or "userdef.reg"
  WineKeyPath path;
};

struct OpenedFileKey {
  RegistryAccess access;
  FileKey where;
  std::shared_ptr<const std::string> text;  // the file as the key was opened
  WineKey key;
};

WineTime Now() {
  struct timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return {static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec)};
}

// The links one path may pass through: a loop of links fails instead of
// hanging, and real chains are short (a fresh prefix has two at most).
constexpr int kMaxLinks = 16;

class WineRegistry : public RegistryService {
 public:
  // Nothing is read before the first Open: most runs never use the registry.
  WineRegistry() = default;

  bool Open(uint32_t root, std::string_view sub_key, RegistryAccess access,
            RegistryKey* key) override {
    std::optional<FileKey> where = Locate(root, sub_key);
    for (int links = 0; where; ++links) {
      std::shared_ptr<const std::string> text = Load(where->file);
      if (!text) return false;
      WineKey found = FindWineKey(*text, where->path);
      if (found.exists) {
        keys_.push_back(std::make_unique<OpenedFileKey>(
            OpenedFileKey{access, std::move(*where), std::move(text), std::move(found)}));
        *key = keys_.size();
        return true;
      }
      // As on Windows, a link on the way leads to its target, and the rest
      // of the path goes on below that.
      if (found.link_depth == 0 || links == kMaxLinks) return false;
      WineKeyPath rest(where->path.begin() + found.link_depth, where->path.end());
      where = LocateTarget(found.link_target, std::move(rest));
    }
    return false;
  }

  bool Query(RegistryKey key, std::string_view value_name, uint32_t* type, char* data,
             uint32_t* size) override {
    OpenedFileKey* opened = Find(key, RegistryAccess::kRead);
    if (opened == nullptr) return false;
    std::optional<WineValue> value = FindWineValue(*opened->text, opened->key, value_name);
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
    const FileKey& where = opened->where;
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

  std::optional<FileKey> Locate(uint32_t root, std::string_view sub_key) {
    // Wine's HKEY_CLASSES_ROOT takes one leading backslash; the other roots
    // refuse it, as WineKeyPath does.
    if (root == kClassesRoot && sub_key.starts_with('\\')) sub_key.remove_prefix(1);
    FileKey where;
    if (!ParseWineKeyPath(sub_key, &where.path)) return std::nullopt;
    switch (root) {
      case kLocalMachine:
        where.file = "system.reg";
        return where;
      case kCurrentUser:
        where.file = "user.reg";
        return where;
      case kClassesRoot:
        where.file = "system.reg";
        where.path.insert(where.path.begin(), {u"Software", u"Classes"});
        return where;
      case kUsers:
        return LocateUser(std::move(where.path));
      default:
        return std::nullopt;
    }
  }

  // HKEY_USERS holds .Default (userdef.reg) and the user whose SID user.reg
  // names in its header; its root itself is in no file.
  std::optional<FileKey> LocateUser(WineKeyPath path) {
    if (path.empty()) return std::nullopt;
    FileKey where;
    if (EqualFolded(path.front(), u".Default")) {
      where.file = "userdef.reg";
    } else {
      std::shared_ptr<const std::string> user = Load("user.reg");
      std::optional<std::u16string> sid = user ? WineFileRootName(*user) : std::nullopt;
      if (!sid || !EqualFolded(path.front(), *sid)) return std::nullopt;
      where.file = "user.reg";
    }
    where.path.assign(path.begin() + 1, path.end());
    return where;
  }

  // The key a link's target names ("\Registry\Machine\Software\Classes"
  // or below "\Registry\User\"), followed by `rest`.
  std::optional<FileKey> LocateTarget(std::u16string_view target, WineKeyPath rest) {
    std::vector<std::u16string_view> elements;
    if (!target.starts_with(u'\\') || !SplitKeyPath(target, &elements) || elements.size() < 2 ||
        !EqualFolded(elements[0], u"Registry")) {
      return std::nullopt;
    }
    WineKeyPath path(elements.begin() + 2, elements.end());
    path.insert(path.end(), rest.begin(), rest.end());
    if (EqualFolded(elements[1], u"Machine")) return FileKey{"system.reg", std::move(path)};
    if (EqualFolded(elements[1], u"User")) return LocateUser(std::move(path));
    return std::nullopt;
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
