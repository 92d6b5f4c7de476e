#include "registry/wine_hive.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "registry/wine_strings.h"

namespace tandor {

namespace {

constexpr std::string_view kSignature = "WINE REGISTRY Version 2";
constexpr std::string_view kRelativeTo = ";; All keys relative to ";
constexpr size_t kMaxKeyNameLength = 256;  // Wine refuses longer key names

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view SkipSpaces(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  return s;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// strtoul on a view, which need not be zero-terminated; `*used` is the count
// of bytes strtoul took. Only the leading run of characters a number can
// hold is copied for it.
unsigned long ParseUnsigned(std::string_view s, size_t* used = nullptr) {
  size_t run = 0;
  while (run < s.size() && (IsHexDigit(s[run]) || IsSpace(s[run]) || s[run] == '+' ||
                            s[run] == '-' || s[run] == 'x' || s[run] == 'X'))
    ++run;
  std::string copy(s.substr(0, run));
  char* end;
  unsigned long value = strtoul(copy.c_str(), &end, 16);
  if (used != nullptr) *used = end - copy.c_str();
  return value;
}

// Wine's hex list: pairs of digits separated by commas and spaces. Gives the
// bytes consumed, or npos on a malformed byte.
size_t ParseHexBytes(std::string_view s, std::string* bytes) {
  size_t pos = 0;
  while (pos < s.size() && IsHexDigit(s[pos])) {
    size_t used;
    unsigned long value = ParseUnsigned(s.substr(pos), &used);
    if (used == 0 || value > 0xff) return std::string_view::npos;
    bytes->push_back(static_cast<char>(value));
    pos += used;
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
    if (pos < s.size() && s[pos] == ',') ++pos;
    while (pos < s.size() && IsSpace(s[pos])) ++pos;
  }
  return pos;
}

std::string Utf16Bytes(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xff);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// `units` escaped and quoted, as Wine writes value names and strings.
std::string QuotedString(std::u16string_view units) {
  std::string quoted = "\"";
  quoted += EscapeWineString(units, '"', '"');
  quoted += '"';
  return quoted;
}

std::string EncodedValueName(std::u16string_view name) {
  return name.empty() ? "@=" : QuotedString(name) + "=";
}

std::string EncodedKeyPath(const HivePath& path) {
  std::string encoded;
  for (const std::u16string& element : path) {
    if (!encoded.empty()) encoded += "\\\\";
    encoded += EscapeWineString(element, '[', ']');
  }
  return encoded;
}

// "[path] 1796596665\n#time=1dd85d269e02662\n", the header Wine writes.
std::string SectionHeader(const HivePath& path, std::time_t now) {
  unsigned long long filetime = (static_cast<unsigned long long>(now) + 11644473600ull) * 10000000ull;
  char stamp[64];
  snprintf(stamp, sizeof stamp, "] %u\n#time=%llx\n", static_cast<unsigned>(now), filetime);
  std::string header = "[";
  header += EncodedKeyPath(path);
  header += stamp;
  return header;
}

// One line of the file: `content` is what Wine's loader sees of it (no line
// end, nothing after a zero byte); `content_end` is where its line end starts.
struct Line {
  size_t begin;
  std::string_view content;
  size_t content_end;
  size_t next;
};

Line LineAt(const std::string& text, size_t begin) {
  size_t newline = text.find('\n', begin);
  size_t next = newline == std::string::npos ? text.size() : newline + 1;
  size_t end = newline == std::string::npos ? text.size() : newline;
  if (newline != std::string::npos && end > begin && text[end - 1] == '\r') --end;
  std::string_view content(text.data() + begin, end - begin);
  content = content.substr(0, content.find('\0'));
  return {begin, content, end, next};
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<HivePath> SplitKeyPath(std::u16string_view path) {
  if (!path.empty() && path.front() == u'\\') return std::nullopt;
  HivePath elements;
  size_t pos = 0;
  for (;;) {
    size_t end = pos;
    while (end < path.size() && path[end] != u'\\') ++end;
    if (end == pos) break;
    elements.emplace_back(path.substr(pos, end - pos));
    pos = end;
    while (pos < path.size() && path[pos] == u'\\') ++pos;
  }
  return elements;
}

std::u16string FoldedKey(const HivePath& path) {
  std::u16string folded;
  for (const std::u16string& element : path) {
    if (!folded.empty()) folded += u'\\';
    folded += FoldCase(element);
  }
  return folded;
}

std::optional<Hive> Hive::Parse(std::string text) {
  Hive hive(std::move(text));
  if (LineAt(hive.text_, 0).content != kSignature) return std::nullopt;
  hive.ParseLines();
  return hive;
}

namespace {

// Parses the data of a value line after its "name"=, following Wine's loader:
// on malformed data the value stays, as REG_NONE without data. `*pos` moves
// past any continuation lines of hex data.
void ParseValueData(const std::string& text, std::string_view data, HiveValue* value,
                    size_t* pos) {
  struct Tag {
    std::string_view tag;
    uint32_t type;
    char parse;  // 's' string, 'd' dword, 'h' hex bytes
  };
  static constexpr Tag kTags[] = {
      {"\"", 1, 's'},      {"str:\"", 1, 's'}, {"str(2):\"", 2, 's'}, {"str(7):\"", 7, 's'},
      {"hex:", 3, 'h'},    {"dword:", 4, 'd'}, {"hex(", 0, 'x'},
  };
  auto fail = [value] {
    value->type = 0;
    value->data.clear();
  };
  const Tag* tag = nullptr;
  for (const Tag& t : kTags) {
    if (StartsWith(data, t.tag)) {
      tag = &t;
      break;
    }
  }
  if (tag == nullptr) return fail();
  data.remove_prefix(tag->tag.size());
  char parse = tag->parse;
  value->type = tag->type;
  if (parse == 'x') {  // "hex(N):" names its type in hex
    size_t used;
    value->type = static_cast<uint32_t>(ParseUnsigned(data, &used));
    if (!StartsWith(data.substr(used), "):")) return fail();
    data.remove_prefix(used + 2);
    parse = 'h';
  }
  if (parse == 's') {
    std::u16string units;
    if (ParseWineString(data, '"', &units) == std::string_view::npos) return fail();
    units.push_back(0);
    value->data = Utf16Bytes(units);
  } else if (parse == 'd') {
    uint32_t dword = static_cast<uint32_t>(ParseUnsigned(data));
    value->data.assign(reinterpret_cast<const char*>(&dword), sizeof dword);  // little-endian, as Wine holds it
  } else {
    for (;;) {
      size_t used = ParseHexBytes(data, &value->data);
      if (used == std::string_view::npos) return fail();
      data = SkipSpaces(data.substr(used));
      if (data.empty()) return;
      if (data.front() != '\\' || *pos >= text.size()) return fail();
      Line next = LineAt(text, *pos);
      *pos = next.next;
      value->data_end = next.content_end;
      data = SkipSpaces(next.content);
    }
  }
}

// Parses a value line into `section`; a line whose name is malformed adds nothing.
void ParseValueLine(const std::string& text, const Line& line, std::string_view p,
                    HiveSection* section, size_t* pos) {
  HiveValue value;
  size_t used = 1;
  if (p.front() == '"') {
    size_t end = ParseWineString(p.substr(1), '"', &value.name);
    if (end == std::string_view::npos) return;
    used += end;
  }
  while (used < p.size() && IsSpace(p[used])) ++used;
  if (used >= p.size() || p[used] != '=') return;
  ++used;
  while (used < p.size() && IsSpace(p[used])) ++used;
  value.line_begin = line.begin;
  value.data_begin = static_cast<size_t>(p.data() - text.data()) + used;
  value.data_end = line.content_end;
  ParseValueData(text, p.substr(used), &value, pos);
  section->values.push_back(std::move(value));
}

// The path of a "[...]" line, or nullopt when Wine would not load the key.
std::optional<HivePath> ParseHeader(std::string_view after_bracket) {
  std::u16string units;
  if (ParseWineString(after_bracket, ']', &units) == std::string_view::npos) return std::nullopt;
  std::optional<HivePath> path = SplitKeyPath(units);
  if (!path) return std::nullopt;
  for (const std::u16string& element : *path) {
    if (element.size() > kMaxKeyNameLength) return std::nullopt;
  }
  return path;
}

}  // namespace

void Hive::ParseLines() {
  HiveSection* current = nullptr;
  size_t pos = LineAt(text_, 0).next;
  while (pos < text_.size()) {
    Line line = LineAt(text_, pos);
    pos = line.next;
    std::string_view p = SkipSpaces(line.content);
    if (p.empty()) continue;
    if (p.front() == '[') {
      current = nullptr;
      if (std::optional<HivePath> path = ParseHeader(p.substr(1))) {
        HiveSection& section = sections_.emplace_back();
        section.folded = FoldedKey(*path);
        section.path = std::move(*path);
        section.header_begin = line.begin;
        current = &section;
      }
    } else if (current != nullptr && (p.front() == '"' || p.front() == '@')) {
      ParseValueLine(text_, line, p, current, &pos);
    } else if (current != nullptr && StartsWith(p, "#link")) {
      current->link = true;
    } else if (sections_.empty() && StartsWith(p, kRelativeTo)) {
      std::u16string units;
      ParseWineString(p.substr(kRelativeTo.size()), '\0', &units);
      relative_to_ = SplitKeyPath(units).value_or(HivePath{});
    }
    if (current != nullptr) current->content_end = pos;
  }
}

std::vector<const HiveSection*> Hive::SectionsOf(const HivePath& key) const {
  std::u16string folded = FoldedKey(key);
  std::vector<const HiveSection*> found;
  for (const HiveSection& section : sections_) {
    if (section.folded == folded) found.push_back(&section);
  }
  return found;
}

bool Hive::KeyExists(const HivePath& key) const {
  if (key.empty()) return true;
  std::u16string folded = FoldedKey(key);
  for (const HiveSection& section : sections_) {
    std::u16string_view path = section.folded;
    if (path.substr(0, folded.size()) == folded &&
        (path.size() == folded.size() || path[folded.size()] == u'\\'))
      return true;
  }
  return false;
}

bool Hive::IsLink(const HivePath& key) const {
  for (const HiveSection* section : SectionsOf(key)) {
    if (section->link) return true;
  }
  return false;
}

const HiveValue* Hive::FindValue(const HivePath& key, std::u16string_view name) const {
  std::u16string folded = FoldCase(name);
  const HiveValue* found = nullptr;
  for (const HiveSection* section : SectionsOf(key)) {
    for (const HiveValue& value : section->values) {
      if (FoldCase(value.name) == folded) found = &value;
    }
  }
  return found;
}

std::optional<std::string> Hive::WithString(const HivePath& key, std::u16string_view name,
                                            std::u16string_view text, std::time_t now) const {
  if (!KeyExists(key)) return std::nullopt;
  std::u16string units(text);
  units.push_back(0);
  std::string data = QuotedString(units);
  std::string out = text_;
  if (const HiveValue* value = FindValue(key, name)) {
    out.replace(value->data_begin, value->data_end - value->data_begin, data);
    return out;
  }
  std::string line = EncodedValueName(name) + data + "\n";
  std::vector<const HiveSection*> sections = SectionsOf(key);
  if (!sections.empty()) {
    size_t at = sections.back()->content_end;
    if (out[at - 1] != '\n') out.insert(at++, 1, '\n');  // the file's last line had no line end
    out.insert(at, line);
    return out;
  }
  // The key only lies on the path of others: it gets a section of its own,
  // spelled as the first of them spells it, placed before that one as Wine
  // places a key before its subkeys.
  std::u16string folded = FoldedKey(key);
  for (const HiveSection& below : sections_) {
    if (!key.empty() && below.folded.compare(0, folded.size() + 1, folded + u'\\') != 0) continue;
    HivePath spelled(below.path.begin(), below.path.begin() + key.size());
    out.insert(below.header_begin, SectionHeader(spelled, now) + line + "\n");
    return out;
  }
  // The root of a file without any section.
  if (!out.empty() && out.back() != '\n') out += '\n';
  out += '\n';
  out += SectionHeader(key, now);
  out += line;
  return out;
}

}  // namespace tandor
