#include "winereg/wine_registry_items.h"

#include <limits>

#include "base/ascii.h"
#include "registry/value_types.h"
#include "winereg/wine_registry_text.h"

namespace tandor {

namespace {

constexpr std::string_view kFileHeader = "WINE REGISTRY Version 2";

// The C locale's isspace, which Wine's loader uses.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

size_t SkipSpaces(std::string_view file, size_t pos, size_t end) {
  while (pos < end && IsSpace(file[pos])) ++pos;
  return pos;
}

// strtoul(text, &end, 16) as the C library does it: leading spaces, a sign,
// "0x", saturation on overflow. `*used` is 0 when no digit was read.
uint64_t ParseHexNumber(std::string_view text, size_t* used) {
  auto at = [&](size_t i) -> unsigned char { return i < text.size() ? text[i] : 0; };
  size_t i = 0;
  while (IsSpace(at(i))) ++i;
  bool negative = false;
  if (at(i) == '+' || at(i) == '-') negative = at(i++) == '-';
  if (at(i) == '0' && (at(i + 1) | 0x20) == 'x' && IsHexDigit(at(i + 2))) i += 2;
  size_t first_digit = i;
  uint64_t value = 0;
  bool overflow = false;
  for (; IsHexDigit(at(i)); ++i) {
    if (value > std::numeric_limits<uint64_t>::max() >> 4) overflow = true;
    value = value * 16 + HexDigitValue(at(i));
  }
  *used = i == first_digit ? 0 : i;
  if (*used == 0) return 0;
  if (overflow) return std::numeric_limits<uint64_t>::max();
  return negative ? 0 - value : value;
}

enum class DataParse { kString, kDword, kBinary };

struct DataTag {
  uint32_t type = 0;
  DataParse parse = DataParse::kString;
  size_t length = 0;  // bytes of the tag, an opening quote included
};

// The type tag at the start of a value's data, as Wine recognizes them.
bool ReadDataTag(std::string_view data, DataTag* tag) {
  struct Known {
    std::string_view text;
    uint32_t type;
    DataParse parse;
  };
  static constexpr Known kTags[] = {
      {"\"", kRegSz, DataParse::kString},
      {"str:\"", kRegSz, DataParse::kString},
      {"str(2):\"", kRegExpandSz, DataParse::kString},
      {"str(7):\"", kRegMultiSz, DataParse::kString},
      {"hex:", kRegBinary, DataParse::kBinary},
      {"dword:", kRegDword, DataParse::kDword},
  };
  for (const Known& known : kTags) {
    if (data.starts_with(known.text)) {
      *tag = {known.type, known.parse, known.text.size()};
      return true;
    }
  }
  if (!data.starts_with("hex(")) return false;
  size_t used = 0;
  uint64_t type = ParseHexNumber(data.substr(4), &used);
  size_t end = 4 + used;
  if (data.substr(end, 2) != "):") return false;
  *tag = {static_cast<uint32_t>(type), DataParse::kBinary, end + 2};
  return true;
}

// Where the escaped string starting at `pos` ends: the first `end_char` not
// taken by a backslash before it (no escape of the loader takes more than
// the one character after the backslash that could be `end_char`). npos when
// the line has none.
size_t FindUnescaped(std::string_view file, size_t pos, size_t end, char end_char) {
  std::string_view text = file.substr(0, end);
  for (size_t hit = text.find(end_char, pos); hit != text.npos;
       hit = text.find(end_char, hit + 1)) {
    size_t backslashes = 0;
    while (hit - backslashes > pos && text[hit - backslashes - 1] == '\\') ++backslashes;
    if (backslashes % 2 == 0) return hit;
  }
  return std::string_view::npos;
}

// True when an element of the key name `name` that is written plainly
// (ASCII, no escape, so it reads as its bytes) differs from the element of
// `key` at its place, which shows the section to be unrelated to `key`.
// Deciding this on the bytes, without decoding the name, makes a read from
// bench/registry_read_bench.sh's 200 MiB system.reg take 0.72 times the
// time it takes with every section's path decoded.
bool PlainlyApart(std::string_view name, const WineKeyPath& key) {
  size_t index = 0;
  size_t pos = 0;
  while (pos < name.size()) {
    size_t start = pos;
    for (; pos < name.size() && !name.substr(pos).starts_with("\\\\"); ++pos) {
      if (name[pos] == '\\' || static_cast<unsigned char>(name[pos]) >= 0x80) return false;
    }
    std::string_view element = name.substr(start, pos - start);
    pos += 2;
    if (element.empty()) continue;
    if (index == key.size()) return false;
    const std::u16string& wanted = key[index++];
    if (element.size() != wanted.size()) return true;
    for (size_t i = 0; i < element.size(); ++i) {
      if (FoldCase(static_cast<unsigned char>(element[i])) != FoldCase(wanted[i])) return true;
    }
  }
  return false;
}

// Reads comma-separated hex bytes from `pos` up to `end`, appending them to
// `*bytes` when given. Gives the position after them, or npos when a number
// does not fit a byte.
size_t ParseHexBytes(std::string_view file, size_t pos, size_t end, std::string* bytes) {
  while (pos < end && IsHexDigit(file[pos])) {
    size_t used = 0;
    uint64_t number = ParseHexNumber(file.substr(pos, end - pos), &used);
    // Wine keeps the number in an unsigned int before it checks the range.
    uint32_t value = static_cast<uint32_t>(number);
    if (used == 0 || value > 0xff) return std::string_view::npos;
    if (bytes != nullptr) bytes->push_back(static_cast<char>(value));
    pos = SkipSpaces(file, pos + used, end);
    if (pos < end && file[pos] == ',') ++pos;
    pos = SkipSpaces(file, pos, end);
  }
  return pos;
}

// Reads hex data from `pos` in `line` and, after a backslash, from the next
// line whatever it holds, as Wine does. Extends `*item` over the lines taken.
// Gives false for malformed data; `*open_at_end` is set when a backslash
// asked for a line the range does not have.
bool ReadHexData(std::string_view file, LineCursor* lines, Line line, size_t pos, Item* item,
                 std::string* bytes, bool* open_at_end) {
  // Only a backslash takes the next line; without one, the extent is known
  // unparsed (a read from bench/registry_read_bench.sh's 200 MiB system.reg
  // takes 0.95 times the time it takes with every hex value parsed).
  if (bytes == nullptr && file.substr(pos, line.content_end - pos).find('\\') == file.npos)
    return true;
  for (;;) {
    pos = ParseHexBytes(file, pos, line.content_end, bytes);
    if (pos == std::string_view::npos) return false;
    pos = SkipSpaces(file, pos, line.content_end);
    if (pos == line.content_end) return true;
    if (file[pos] != '\\') return false;
    if (!lines->Next(&line)) {
      *open_at_end = true;
      return false;
    }
    item->content_end = line.content_end;
    item->end = line.end;
    pos = SkipSpaces(file, line.begin, line.content_end);
  }
}

std::string StringData(uint32_t type, std::u16string_view units) {
  if (type == kRegSz) units = units.substr(0, units.find(u'\0'));
  std::string data;
  AppendUtf8(units, &data);
  if (type == kRegSz) data.push_back('\0');
  return data;
}

}  // namespace

bool SplitKeyPath(std::u16string_view path, std::vector<std::u16string_view>* elements) {
  while (!path.empty()) {
    size_t separator = path.find(u'\\');
    std::u16string_view element = path.substr(0, separator);
    if (element.size() > kMaxKeyNameUnits) return false;
    if (!element.empty()) elements->push_back(element);
    path.remove_prefix(separator == path.npos ? path.size() : separator + 1);
  }
  return true;
}

bool LineCursor::Next(Line* line) {
  if (pos_ >= file_.size()) return false;
  size_t newline = file_.find('\n', pos_);
  line->begin = pos_;
  if (newline == std::string_view::npos) {
    line->content_end = line->end = file_.size();
  } else {
    line->end = newline + 1;
    line->content_end = newline > pos_ && file_[newline - 1] == '\r' ? newline - 1 : newline;
  }
  pos_ = line->end;
  return true;
}

std::optional<Line> LoadableHeader(std::string_view file) {
  if (file.find('\0') != std::string_view::npos) return std::nullopt;
  LineCursor lines(file, 0, file.size());
  Line header;
  if (!lines.Next(&header)) return std::nullopt;
  if (file.substr(header.begin, header.content_end - header.begin) != kFileHeader)
    return std::nullopt;
  return header;
}

ItemWalker::ItemWalker(std::string_view file, size_t begin, size_t end, bool in_key)
    : file_(file), lines_(file, begin, end), in_key_(in_key) {}

bool ItemWalker::Next(Item* item) {
  Line line;
  if (stopped_ || !lines_.Next(&line)) return false;
  size_t text = SkipSpaces(file_, line.begin, line.content_end);
  *item = Item{ItemKind::kIgnored, line.begin, line.content_end, line.end, 0};
  char first = text < line.content_end ? file_[text] : '\0';
  switch (first) {
    case '[':
      ReadSection(line, text, item);
      break;
    case '@':
    case '"':
      if (in_key_) ReadValue(line, text, item);
      break;
    case '#':
      item->kind = ItemKind::kOption;
      ReadOption(line, text);
      break;
    case ';':
    case '\0':
      item->kind = ItemKind::kBlank;
      break;
    default:
      break;
  }
  return true;
}

void ItemWalker::ReadSection(const Line& line, size_t text, Item* item) {
  path_.clear();
  section_decoded_ = false;
  in_key_ = false;
  item->kind = ItemKind::kBadSection;
  size_t begin = text + 1;
  size_t close = FindUnescaped(file_, begin, line.content_end, ']');
  if (close == std::string_view::npos) return;
  std::string_view name = file_.substr(begin, close - begin);
  // A name this short has no element too long for Wine.
  bool skip = name.size() <= kMaxKeyNameUnits && focus_ != nullptr && PlainlyApart(name, *focus_);
  if (!skip && !DecodeSectionPath(name)) return;
  section_decoded_ = !skip;
  in_key_ = true;
  item->kind = ItemKind::kSection;
}

bool ItemWalker::DecodeSectionPath(std::string_view name) {
  units_.clear();
  ParseWineString(file_.substr(name.data() - file_.data(), name.size() + 1), ']', &units_);
  // Wine takes a name whose first unit is zero for the file's root.
  if (units_.empty() || units_[0] == u'\0') return true;
  return SplitKeyPath(units_, &path_);
}

void ItemWalker::ReadValue(const Line& line, size_t text, Item* item) {
  item->kind = ItemKind::kBadValue;
  name_begin_ = name_end_ = text + 1;
  name_decoded_ = false;
  size_t pos = text + 1;
  if (file_[text] == '"') {
    name_end_ = FindUnescaped(file_, pos, line.content_end, '"');
    if (name_end_ == std::string_view::npos) return;
    pos = name_end_ + 1;
    // A unit takes at least one byte, so only a long name can be too long.
    if (name_end_ - name_begin_ > kMaxValueNameUnits && value_name().size() > kMaxValueNameUnits)
      return;
  }
  pos = SkipSpaces(file_, pos, line.content_end);
  if (pos == line.content_end || file_[pos] != '=') return;
  pos = SkipSpaces(file_, pos + 1, line.content_end);
  item->kind = ItemKind::kValue;
  item->data = pos;
  DataTag tag;
  if (ReadDataTag(file_.substr(pos, line.content_end - pos), &tag) &&
      tag.parse == DataParse::kBinary) {
    ReadHexData(file_, &lines_, line, pos + tag.length, item, nullptr, &open_at_end_);
  }
}

std::u16string_view ItemWalker::value_name() {
  if (!name_decoded_) {
    name_.clear();
    if (file_[name_begin_ - 1] == '"')
      ParseWineString(file_.substr(name_begin_, name_end_ + 1 - name_begin_), '"', &name_);
    name_decoded_ = true;
  }
  return name_;
}

void ItemWalker::ReadOption(const Line& line, size_t text) {
  std::string_view option = file_.substr(text, line.content_end - text);
  link_ = in_key_ && option.starts_with("#link");
  if (in_key_ || !option.starts_with("#arch=")) return;
  std::string_view arch = option.substr(6);
  if ((arch != "win32" && arch != "win64") || (!arch_.empty() && arch != arch_)) {
    stopped_ = true;
  } else {
    arch_ = arch;
  }
}

size_t ValueDataEnd(std::string_view file, const Item& item) {
  LineCursor lines(file, item.begin, item.end);
  Line line;
  DataTag tag;
  if (item.kind != ItemKind::kValue || !lines.Next(&line) ||
      !ReadDataTag(file.substr(item.data, line.content_end - item.data), &tag)) {
    return item.content_end;
  }
  size_t pos = item.data + tag.length;
  if (tag.parse == DataParse::kString) {
    size_t quote = FindUnescaped(file, pos, line.content_end, '"');
    return quote == std::string_view::npos ? item.content_end : quote + 1;
  }
  if (tag.parse == DataParse::kDword) {
    size_t used = 0;
    ParseHexNumber(file.substr(pos, line.content_end - pos), &used);
    return pos + used;
  }
  return item.content_end;
}

std::optional<WineValue> DecodeValue(std::string_view file, const Item& item) {
  LineCursor lines(file, item.begin, item.end);
  Line line;
  if (item.kind != ItemKind::kValue || !lines.Next(&line)) return std::nullopt;
  std::string_view data = file.substr(item.data, line.content_end - item.data);
  DataTag tag;
  if (!ReadDataTag(data, &tag)) return std::nullopt;
  WineValue value;
  value.type = tag.type;
  switch (tag.parse) {
    case DataParse::kString: {
      std::u16string units;
      if (ParseWineString(data.substr(tag.length), '"', &units) == 0) return std::nullopt;
      units.push_back(u'\0');  // Wine stores the terminating zero as data
      value.data = StringData(tag.type, units);
      break;
    }
    case DataParse::kDword: {
      size_t used = 0;
      uint32_t number = static_cast<uint32_t>(ParseHexNumber(data.substr(tag.length), &used));
      for (int shift = 0; shift < 32; shift += 8)
        value.data.push_back(static_cast<char>(number >> shift));
      break;
    }
    case DataParse::kBinary: {
      Item extent = item;
      bool open_at_end = false;
      if (!ReadHexData(file, &lines, line, item.data + tag.length, &extent, &value.data,
                       &open_at_end)) {
        return std::nullopt;
      }
      if (tag.type == kRegSz) value.data = StringData(tag.type, Utf16FromBytes(value.data));
      break;
    }
  }
  return value;
}

}  // namespace tandor
