#include "winereg/wine_registry_file.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/ascii.h"
#include "registry/value_types.h"
#include "winereg/wine_registry_items.h"
#include "winereg/wine_registry_text.h"

namespace tandor {

namespace {

enum class Relation { kUnrelated, kSame, kAncestor, kDescendant };

Relation Relate(const std::vector<std::u16string_view>& section, const WineKeyPath& key) {
  size_t common = std::min(section.size(), key.size());
  for (size_t i = 0; i < common; ++i) {
    if (!EqualFolded(section[i], key[i])) return Relation::kUnrelated;
  }
  if (section.size() == key.size()) return Relation::kSame;
  return section.size() < key.size() ? Relation::kAncestor : Relation::kDescendant;
}

// What one walk over a whole file learns about one key.
struct KeyScan {
  bool loadable = false;
  size_t link_depth = 0;     // elements of the shallowest link at or above the key; 0: none
  bool implied = false;      // a deeper section names the key
  bool open_at_end = false;  // the file ends inside a hex value
  std::vector<TextSpan> sections;
  std::vector<TextSpan> headers;  // each section's header line, without its line end
  WineKeyPath spelling;           // the key's elements as the first deeper section spells them
  std::string_view newline;       // the header line's line end
};

// A "#link" line of a section at or above the key, `depth` elements deep.
void NoteLink(size_t depth, KeyScan* scan) {
  if (scan->link_depth == 0 || depth < scan->link_depth) scan->link_depth = depth;
}

void NoteSection(const ItemWalker& walker, const Item& item, const WineKeyPath& path,
                 std::string_view file, Relation* current, KeyScan* scan) {
  if (*current == Relation::kSame) scan->sections.back().end = item.begin;
  bool decoded = item.kind == ItemKind::kSection && walker.section_decoded();
  *current = decoded ? Relate(walker.section_path(), path) : Relation::kUnrelated;
  if (*current == Relation::kSame) {
    scan->sections.push_back({item.end, file.size()});
    scan->headers.push_back({item.begin, item.content_end});
  }
  if (*current == Relation::kDescendant && !scan->implied) {
    scan->implied = true;
    const auto& elements = walker.section_path();
    scan->spelling.assign(elements.begin(), elements.begin() + path.size());
  }
}

KeyScan ScanForKey(std::string_view file, const WineKeyPath& path) {
  KeyScan scan;
  std::optional<Line> header = LoadableHeader(file);
  if (!header) return scan;
  scan.newline = header->end - header->content_end == 2 ? "\r\n" : "\n";
  ItemWalker walker(file, header->end, file.size(), /*in_key=*/false);
  walker.FocusOn(&path);
  Relation current = Relation::kUnrelated;
  Item item;
  while (walker.Next(&item)) {
    if (item.kind == ItemKind::kSection || item.kind == ItemKind::kBadSection) {
      NoteSection(walker, item, path, file, &current, &scan);
    } else if (item.kind == ItemKind::kOption && walker.option_is_link() &&
               (current == Relation::kSame || current == Relation::kAncestor)) {
      NoteLink(walker.section_path().size(), &scan);
    }
  }
  scan.loadable = !walker.stopped();
  scan.open_at_end = walker.value_open_at_end();
  return scan;
}

bool KeyExists(const KeyScan& scan, const WineKeyPath& path) {
  return scan.loadable && scan.link_depth == 0 &&
         (path.empty() || scan.implied || !scan.sections.empty());
}

// Where the key's value lines stand, for an edit.
struct KeyLines {
  std::optional<Item> value;  // the last line of the value to set
  size_t value_section = 0;   // the index of its section
  size_t insert_at = 0;       // after the last value or option of the last section
  // Per section, the digits of its first "#time=" line (the one Wine takes).
  std::vector<std::optional<TextSpan>> times;
};

// The run of digits (hex or decimal) at `pos`.
std::optional<TextSpan> DigitsAt(std::string_view file, size_t pos, size_t end, bool hex) {
  size_t begin = pos;
  while (pos < end && (hex ? IsHexDigit(file[pos]) : file[pos] >= '0' && file[pos] <= '9')) ++pos;
  if (pos == begin) return std::nullopt;
  return TextSpan{begin, pos};
}

std::optional<TextSpan> OptionTime(std::string_view file, const Item& item) {
  constexpr std::string_view kTime = "#time=";
  size_t pos = file.find_first_not_of(" \t", item.begin);
  if (file.substr(pos, item.content_end - pos).starts_with(kTime))
    return DigitsAt(file, pos + kTime.size(), item.content_end, /*hex=*/true);
  return std::nullopt;
}

// The seconds after the name in the header "[name] 1796596665".
std::optional<TextSpan> HeaderTime(std::string_view file, const TextSpan& header) {
  size_t pos = file.find('[', header.begin) + 1;
  std::u16string units;
  size_t used = ParseWineString(file.substr(pos, header.end - pos), ']', &units);
  if (used == 0) return std::nullopt;
  pos += used;
  while (pos < header.end && (file[pos] == ' ' || file[pos] == '\t')) ++pos;
  return DigitsAt(file, pos, header.end, /*hex=*/false);
}

// Walks the key's sections; false when one holds a line Wine would refuse
// or skip, since an edit next to it could not be made with certainty.
bool ReadKeyLines(std::string_view file, const KeyScan& scan, std::u16string_view name,
                  KeyLines* lines) {
  for (const TextSpan& span : scan.sections) {
    ItemWalker walker(file, span.begin, span.end, /*in_key=*/true);
    lines->insert_at = span.begin;
    lines->times.emplace_back();
    Item item;
    while (walker.Next(&item)) {
      if (item.kind == ItemKind::kBadValue || item.kind == ItemKind::kIgnored) return false;
      if (item.kind == ItemKind::kBlank) continue;
      lines->insert_at = item.end;
      if (item.kind == ItemKind::kOption && !lines->times.back())
        lines->times.back() = OptionTime(file, item);
      if (item.kind != ItemKind::kValue) continue;
      if (!DecodeValue(file, item)) return false;
      if (EqualFolded(walker.value_name(), name)) {
        lines->value = item;
        lines->value_section = lines->times.size() - 1;
      }
    }
  }
  return true;
}

void AppendValueLine(std::u16string_view name, std::u16string_view text, std::string* out) {
  if (name.empty()) {
    out->push_back('@');
  } else {
    out->push_back('"');
    AppendWineString(name, "\"", out);
    out->push_back('"');
  }
  out->append("=\"");
  AppendWineString(text, "\"", out);
  out->push_back('"');
}

// A key's time as Wine writes it: Unix seconds after the header's name, and
// the FILETIME in hex on the "#time=" line.
std::string Seconds(WineTime now) {
  return std::to_string(static_cast<unsigned>(now.unix_seconds));
}

std::string FileTime(WineTime now) {
  constexpr uint64_t kTicksPerSecond = 10000000;
  constexpr uint64_t kTicksFrom1601To1970 = 116444736000000000;
  uint64_t ticks = static_cast<uint64_t>(now.unix_seconds) * kTicksPerSecond +
                   now.nanoseconds / 100 + kTicksFrom1601To1970;
  char stamp[32];
  snprintf(stamp, sizeof stamp, "%x%08x", static_cast<unsigned>(ticks >> 32),
           static_cast<unsigned>(ticks));
  return stamp;
}

// A section header as Wine writes one: path, Unix seconds, FILETIME.
void AppendSectionHeader(const WineKeyPath& spelling, WineTime now, std::string_view newline,
                         std::string* out) {
  out->push_back('[');
  for (size_t i = 0; i < spelling.size(); ++i) {
    if (i > 0) out->append("\\\\");
    AppendWineString(spelling[i], "[]", out);
  }
  out->append("] ").append(Seconds(now)).append(newline);
  out->append("#time=").append(FileTime(now)).append(newline);
}

// The splices that set the time of the key's section `index` to `now`.
void AddTimeSplices(std::string_view file, const KeyScan& scan, const KeyLines& lines, size_t index,
                    WineTime now, TextSplices* splices) {
  if (std::optional<TextSpan> seconds = HeaderTime(file, scan.headers[index]))
    splices->push_back({seconds->begin, seconds->end, Seconds(now)});
  if (const std::optional<TextSpan>& ticks = lines.times[index])
    splices->push_back({ticks->begin, ticks->end, FileTime(now)});
}

}  // namespace

bool ParseWineKeyPath(std::string_view sub_key, WineKeyPath* path) {
  std::u16string units;
  if (!DecodeUtf8(sub_key, Surrogates::kAccept, &units)) return false;
  // RegOpenKeyEx refuses a sub-key that starts with a backslash.
  if (!units.empty() && units[0] == u'\\') return false;
  std::vector<std::u16string_view> elements;
  if (!SplitKeyPath(units, &elements)) return false;
  path->assign(elements.begin(), elements.end());
  return true;
}

namespace {

// The last value line named `name` in `sections`, as Wine keeps the last.
std::optional<Item> LastValueNamed(std::string_view file, const std::vector<TextSpan>& sections,
                                   std::u16string_view name) {
  std::optional<Item> last;
  for (const TextSpan& span : sections) {
    ItemWalker walker(file, span.begin, span.end, /*in_key=*/true);
    Item item;
    while (walker.Next(&item)) {
      if (item.kind == ItemKind::kValue && EqualFolded(walker.value_name(), name)) last = item;
    }
  }
  return last;
}

// The target the link key `path` names in its SymbolicLinkValue; empty when
// it has none of the link type.
std::u16string LinkTarget(std::string_view file, const WineKeyPath& path) {
  KeyScan scan = ScanForKey(file, path);
  std::optional<Item> line = LastValueNamed(file, scan.sections, u"SymbolicLinkValue");
  std::optional<WineValue> value = line ? DecodeValue(file, *line) : std::nullopt;
  if (!value || value->type != kRegLink) return {};
  std::u16string target = Utf16FromBytes(value->data);
  return target.substr(0, target.find(u'\0'));
}

}  // namespace

WineKey FindWineKey(std::string_view file, const WineKeyPath& path) {
  KeyScan scan = ScanForKey(file, path);
  WineKey key;
  key.exists = KeyExists(scan, path);
  if (key.exists) key.sections = std::move(scan.sections);
  if (scan.loadable && scan.link_depth > 0) {
    key.link_depth = scan.link_depth;
    key.link_target = LinkTarget(file, WineKeyPath(path.begin(), path.begin() + scan.link_depth));
  }
  return key;
}

std::optional<WineValue> FindWineValue(std::string_view file, const WineKey& key,
                                       std::string_view name) {
  std::u16string name_units;
  if (!key.exists || !DecodeUtf8(name, Surrogates::kAccept, &name_units)) return std::nullopt;
  std::optional<Item> last = LastValueNamed(file, key.sections, name_units);
  if (!last) return std::nullopt;
  return DecodeValue(file, *last);
}

std::optional<std::u16string> WineFileRootName(std::string_view file) {
  constexpr std::string_view kRootComment = ";; All keys relative to ";
  std::optional<Line> header = LoadableHeader(file);
  if (!header) return std::nullopt;
  LineCursor lines(file, header->end, file.size());
  Line line;
  while (lines.Next(&line)) {
    std::string_view text = file.substr(line.begin, line.content_end - line.begin);
    if (text.starts_with('[')) break;
    if (!text.starts_with(kRootComment)) continue;
    std::string root(text.substr(kRootComment.size()));
    root.push_back(']');
    std::u16string units;
    if (ParseWineString(root, ']', &units) != root.size()) return std::nullopt;
    return units.substr(units.rfind(u'\\') + 1);
  }
  return std::nullopt;
}

std::optional<WineStringEdit> SetWineString(std::string_view file, const WineKeyPath& path,
                                            std::string_view name, std::string_view text,
                                            WineTime now) {
  std::u16string text_units;
  std::u16string name_units;
  if (!DecodeUtf8(text, Surrogates::kRefuse, &text_units) ||
      !DecodeUtf8(name, Surrogates::kAccept, &name_units) ||
      name_units.size() > kMaxValueNameUnits) {
    return std::nullopt;
  }
  KeyScan scan = ScanForKey(file, path);
  KeyLines lines;
  if (!KeyExists(scan, path) || scan.open_at_end || !ReadKeyLines(file, scan, name_units, &lines)) {
    return std::nullopt;
  }
  WineStringEdit edit;
  TextSplices& splices = edit.splices;
  std::string data;
  if (lines.value) {
    edit.old_value = DecodeValue(file, *lines.value);
    data.push_back('"');
    AppendWineString(text_units, "\"", &data);
    data.push_back('"');
    size_t begin = lines.value->data;
    size_t end = ValueDataEnd(file, *lines.value);
    // Wine too leaves the key untouched when the value does not change.
    if (file.substr(begin, end - begin) == data) return edit;
    AddTimeSplices(file, scan, lines, lines.value_section, now, &splices);
    splices.push_back({begin, end, std::move(data)});
  } else {
    if (scan.sections.empty()) {
      data.append(scan.newline);  // Wine puts a blank line before each key
      AppendSectionHeader(scan.spelling, now, scan.newline, &data);
      lines.insert_at = file.size();
    } else {
      AddTimeSplices(file, scan, lines, scan.sections.size() - 1, now, &splices);
    }
    AppendValueLine(name_units, text_units, &data);
    data.append(scan.newline);
    // A last line without a line end gets one before anything follows it.
    if (lines.insert_at == file.size() && !file.empty() && file.back() != '\n')
      data.insert(0, scan.newline);
    splices.push_back({lines.insert_at, lines.insert_at, std::move(data)});
  }
  std::sort(splices.begin(), splices.end(),
            [](const TextSplice& a, const TextSplice& b) { return a.begin < b.begin; });
  return edit;
}

}  // namespace tandor
