#include "winereg/wine_key_location.h"

#include <vector>

#include "registry/registry_path.h"
#include "winereg/wine_registry_items.h"
#include "winereg/wine_registry_text.h"

namespace tandor {

namespace {

// HKEY_USERS holds .Default (userdef.reg) and the user whose SID user.reg
// names in its header; its root itself is in no file.
std::optional<WineKeyLocation> LocateUser(WineKeyPath path, const WineFileText& text_of) {
  if (path.empty()) return std::nullopt;
  WineKeyLocation where;
  if (EqualFolded(path.front(), u".Default")) {
    where.file = "userdef.reg";
  } else {
    std::optional<std::string_view> user = text_of("user.reg");
    std::optional<std::u16string> sid = user ? WineFileRootName(*user) : std::nullopt;
    if (!sid || !EqualFolded(path.front(), *sid)) return std::nullopt;
    where.file = "user.reg";
  }
  where.path.assign(path.begin() + 1, path.end());
  return where;
}

std::optional<WineKeyLocation> LocateRoot(uint32_t root, std::string_view sub_key,
                                          const WineFileText& text_of) {
  // Wine's HKEY_CLASSES_ROOT takes one leading backslash; the other roots
  // refuse it, as WineKeyPath does.
  if (root == kClassesRoot && sub_key.starts_with('\\')) sub_key.remove_prefix(1);
  WineKeyLocation where;
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
      return LocateUser(std::move(where.path), text_of);
    default:
      return std::nullopt;
  }
}

// The key a link's target names ("\Registry\Machine\Software\Classes"
// or below "\Registry\User\"), followed by `rest`.
std::optional<WineKeyLocation> LocateTarget(std::u16string_view target, WineKeyPath rest,
                                            const WineFileText& text_of) {
  std::vector<std::u16string_view> elements;
  if (!target.starts_with(u'\\') || !SplitKeyPath(target, &elements) || elements.size() < 2 ||
      !EqualFolded(elements[0], u"Registry")) {
    return std::nullopt;
  }
  WineKeyPath path(elements.begin() + 2, elements.end());
  path.insert(path.end(), rest.begin(), rest.end());
  if (EqualFolded(elements[1], u"Machine"))
    return WineKeyLocation{"system.reg", std::move(path), {}};
  if (EqualFolded(elements[1], u"User")) return LocateUser(std::move(path), text_of);
  return std::nullopt;
}

}  // namespace

std::optional<WineKeyLocation> LocateWineKey(uint32_t root, std::string_view sub_key,
                                             const WineFileText& text_of) {
  std::optional<WineKeyLocation> where = LocateRoot(root, sub_key, text_of);
  for (int links = 0; where; ++links) {
    std::optional<std::string_view> text = text_of(where->file);
    if (!text) return std::nullopt;
    where->key = FindWineKey(*text, where->path);
    if (where->key.exists) return where;
    // As on Windows, a link on the way leads to its target, and the rest of
    // the path goes on below that.
    if (where->key.link_depth == 0 || links == kMaxWineLinks) return std::nullopt;
    WineKeyPath rest(where->path.begin() + where->key.link_depth, where->path.end());
    where = LocateTarget(where->key.link_target, std::move(rest), text_of);
  }
  return std::nullopt;
}

}  // namespace tandor
