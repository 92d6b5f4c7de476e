// The registry of a Wine prefix, read from and written to its registry files
// (system.reg, user.reg, userdef.reg) while no wineserver runs for it.

#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "registry/atomic_file.h"
#include "registry/registry_service.h"
#include "registry/wine_hive.h"
#include "registry/wine_prefix.h"
#include "registry/wine_strings.h"

namespace tandor {

namespace {

constexpr uint32_t kClassesRoot = 0x80000000u;
constexpr uint32_t kCurrentUser = 0x80000001u;
constexpr uint32_t kLocalMachine = 0x80000002u;
constexpr uint32_t kUsers = 0x80000003u;
constexpr int kMaxLinkDepth = 16;  // as Wine follows links
constexpr std::u16string_view kRegistryRoot = u"\\registry\\";

// A key where the files hold it: the file, and the path below its root.
struct FileKey {
  std::string file;
  HivePath path;
};

bool IsStringType(uint32_t type) { return type == 1 || type == 2 || type == 7; }

// Registry strings are UTF-16LE; an odd last byte is not part of any unit.
std::u16string UnitsOf(const std::string& data) {
  std::u16string units;
  for (size_t i = 0; i + 1 < data.size(); i += 2)
    units += static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                   static_cast<unsigned char>(data[i + 1]) << 8);
  return units;
}

bool IsNamed(std::u16string_view element, std::u16string_view folded_name) {
  return FoldCase(element) == folded_name;
}

class WinePrefixRegistry : public RegistryService {
 public:
  explicit WinePrefixRegistry(std::string prefix) : prefix_(std::move(prefix)) {}

  bool Open(uint32_t root, std::string_view sub_key, RegistryAccess access,
            RegistryKey* key) override {
    std::u16string units;
    if (!Utf8ToUtf16(sub_key, &units)) return false;
    // Windows lets a sub-key of HKEY_CLASSES_ROOT start with one backslash.
    if (root == kClassesRoot && !units.empty() && units.front() == u'\\') units.erase(0, 1);
    std::optional<HivePath> path = SplitKeyPath(units);
    if (!path) return false;
    std::optional<FileKey> located = LocateBelowRoot(root, std::move(*path));
    if (!located) return false;
    std::optional<FileKey> resolved = FollowLinks(std::move(*located), 0);
    if (!resolved) return false;
    opened_.push_back(Opened{std::move(*resolved), access, true});
    *key = opened_.size();
    return true;
  }

  bool Query(RegistryKey key, std::string_view value_name, uint32_t* type, char* data,
             uint32_t* size) override {
    const Opened* opened = Find(key);
    std::u16string name;
    if (opened == nullptr || !Utf8ToUtf16(value_name, &name)) return false;
    const Hive* hive = Load(opened->key.file);
    const HiveValue* value = hive != nullptr ? hive->FindValue(opened->key.path, name) : nullptr;
    if (value == nullptr) return false;
    // Strings reach the tool as UTF-8, as the A functions give them in the
    // code page; their size is that of the converted text.
    std::string bytes = IsStringType(value->type) ? Utf16ToUtf8(UnitsOf(value->data)) : value->data;
    *type = value->type;
    if (data != nullptr) {
      if (bytes.size() > *size) return false;
      memcpy(data, bytes.data(), bytes.size());
    }
    *size = static_cast<uint32_t>(bytes.size());
    return true;
  }

  bool SetString(RegistryKey key, std::string_view value_name, std::string_view text) override {
    const Opened* opened = Find(key);
    std::u16string name, units;
    if (opened == nullptr || opened->access != RegistryAccess::kWrite ||
        !Utf8ToUtf16(value_name, &name) || !Utf8ToUtf16(text, &units))
      return false;
    // A running server would overwrite the file with its own copy at its
    // next save, so the change would be lost.
    auto no_server = [this] { return !WineServerRuns(prefix_); };
    if (!no_server()) return false;
    const FileKey& where = opened->key;
    auto edit = [&](const std::string& content) -> std::optional<std::string> {
      std::optional<Hive> hive = Hive::Parse(content);
      if (!hive || hive->IsLink(where.path)) return std::nullopt;
      return hive->WithString(where.path, name, units, std::time(nullptr));
    };
    std::string written;
    if (!RewriteFile(prefix_ + "/" + where.file, edit, no_server, &written)) return false;
    hives_[where.file] = Hive::Parse(std::move(written));
    return true;
  }

  void Close(RegistryKey key) override {
    if (key >= 1 && key <= opened_.size()) opened_[key - 1].open = false;
  }

 private:
  struct Opened {
    FileKey key;
    RegistryAccess access;
    bool open;
  };

  const Opened* Find(RegistryKey key) const {
    if (key < 1 || key > opened_.size() || !opened_[key - 1].open) return nullptr;
    return &opened_[key - 1];
  }

  // The file, parsed once per run; null when it is missing or not a
  // registry file Wine would load.
  const Hive* Load(const std::string& file) {
    auto found = hives_.find(file);
    if (found == hives_.end()) {
      std::optional<std::string> content = ReadWholeFile(prefix_ + "/" + file);
      std::optional<Hive> hive;
      if (content) hive = Hive::Parse(std::move(*content));
      found = hives_.emplace(file, std::move(hive)).first;
    }
    return found->second ? &*found->second : nullptr;
  }

  // The user's SID, as user.reg's header names it ("S-1-5-21-0-0-0-1000").
  std::optional<std::u16string> UserSid() {
    const Hive* hive = Load("user.reg");
    if (hive == nullptr) return std::nullopt;
    const HivePath& root = hive->relative_to();
    if (root.size() != 3 || !IsNamed(root[0], u"registry") || !IsNamed(root[1], u"user"))
      return std::nullopt;
    return root[2];
  }

  // The file and path of `path` below \Registry: Machine is system.reg,
  // User\.Default userdef.reg, User\<the user's SID> user.reg.
  std::optional<FileKey> LocateBelowRegistry(HivePath path) {
    auto rest = [&path](size_t skip) { return HivePath(path.begin() + skip, path.end()); };
    if (!path.empty() && IsNamed(path[0], u"machine")) return FileKey{"system.reg", rest(1)};
    if (path.size() < 2 || !IsNamed(path[0], u"user")) return std::nullopt;
    if (IsNamed(path[1], u".default")) return FileKey{"userdef.reg", rest(2)};
    std::optional<std::u16string> sid = UserSid();
    if (sid && IsNamed(path[1], FoldCase(*sid))) return FileKey{"user.reg", rest(2)};
    return std::nullopt;
  }

  std::optional<FileKey> LocateBelowRoot(uint32_t root, HivePath path) {
    HivePath full;
    switch (root) {
      case kClassesRoot: full = {u"Machine", u"Software", u"Classes"}; break;
      case kLocalMachine: full = {u"Machine"}; break;
      case kUsers: full = {u"User"}; break;
      case kCurrentUser: {
        std::optional<std::u16string> sid = UserSid();
        if (!sid) return std::nullopt;
        full = {u"User", *sid};
        break;
      }
      default: return std::nullopt;
    }
    full.insert(full.end(), path.begin(), path.end());
    return LocateBelowRegistry(std::move(full));
  }

  // The key a link key points to, from its SymbolicLinkValue
  // ("\Registry\Machine\..."), as a path below \Registry.
  std::optional<HivePath> LinkTarget(const Hive& hive, const HivePath& link) {
    const HiveValue* value = hive.FindValue(link, u"SymbolicLinkValue");
    if (value == nullptr) return std::nullopt;
    std::u16string target = UnitsOf(value->data);
    if (target.size() <= kRegistryRoot.size() ||
        FoldCase(std::u16string_view(target).substr(0, kRegistryRoot.size())) != kRegistryRoot)
      return std::nullopt;
    return SplitKeyPath(std::u16string_view(target).substr(kRegistryRoot.size()));
  }

  // Walks `key` element by element as Wine opens a key: every element must
  // exist, and a link key on the way, the last one included, leads to its
  // target. A link key is never itself read or written.
  std::optional<FileKey> FollowLinks(FileKey key, int depth) {
    const Hive* hive = Load(key.file);
    if (hive == nullptr) return std::nullopt;
    for (size_t length = 1; length <= key.path.size(); ++length) {
      HivePath head(key.path.begin(), key.path.begin() + length);
      if (!hive->KeyExists(head)) return std::nullopt;
      if (!hive->IsLink(head)) continue;
      std::optional<HivePath> target = LinkTarget(*hive, head);
      if (!target || depth == kMaxLinkDepth) return std::nullopt;
      target->insert(target->end(), key.path.begin() + length, key.path.end());
      std::optional<FileKey> next = LocateBelowRegistry(std::move(*target));
      if (!next) return std::nullopt;
      return FollowLinks(std::move(*next), depth + 1);
    }
    return key;
  }

  std::string prefix_;
  std::map<std::string, std::optional<Hive>> hives_;
  std::vector<Opened> opened_;
};

}  // namespace

std::unique_ptr<RegistryService> CreateRegistryService() {
  return std::make_unique<WinePrefixRegistry>(WinePrefixDirectory());
}

}  // namespace tandor
