// The lines of a Wine registry file as Wine's loader takes them, one item at
// a time: section headers, options, values (a hex value may run over
// continuation lines), comments and lines it ignores. The pieces below
// wine_registry_file.h, for the rest of winereg/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winereg/wine_registry_file.h"

namespace tandor {

// Key path elements longer than this are refused by Wine, and value names
// longer than kMaxValueNameUnits.
constexpr size_t kMaxKeyNameUnits = 256;
constexpr size_t kMaxValueNameUnits = 16383;

// Appends the elements of a key path ("Software\\Abc" as units) to
// `*elements`: runs of backslashes separate, empty elements are skipped.
// Gives false for an element longer than kMaxKeyNameUnits.
bool SplitKeyPath(std::u16string_view path, std::vector<std::u16string_view>* elements);

// One line: its text is [begin, content_end); the next line starts at `end`.
// As in Wine, a line ends at "\n" and a CR just before it is not text.
struct Line {
  size_t begin = 0;
  size_t content_end = 0;
  size_t end = 0;
};

class LineCursor {
 public:
  LineCursor(std::string_view file, size_t begin, size_t end)
      : file_(file.substr(0, end)), pos_(begin) {}
  bool Next(Line* line);

 private:
  std::string_view file_;
  size_t pos_;
};

// The header line, when `file` is one Wine loads at all: first line exactly
// "WINE REGISTRY Version 2" and no zero byte anywhere (Wine reads lines as C
// strings, so a zero byte would make its view of the file unpredictable).
std::optional<Line> LoadableHeader(std::string_view file);

enum class ItemKind {
  kSection,     // "[Key\\Path]": a key opens
  kBadSection,  // a header Wine cannot use: no key is open until the next
  kOption,      // "#time=", "#class=", "#link", "#arch=" ...
  kValue,       // a value line with a usable name; its data may be malformed
  kBadValue,    // a value line whose name Wine refuses
  kBlank,       // empty, blank or a ';' comment
  kIgnored,     // anything else Wine skips, also a value with no key open
};

struct Item {
  ItemKind kind = ItemKind::kBlank;
  size_t begin = 0;        // first byte of the first line
  size_t content_end = 0;  // end of the text of the last line
  size_t end = 0;          // start of the line after the item
  size_t data = 0;         // kValue: first byte of the data, after '='
};

// Walks a range of a file's lines, keeping the state Wine's loader keeps:
// whether a key is open (values without one are skipped) and, for a hex value
// ending in a backslash, which following lines it takes.
class ItemWalker {
 public:
  // `in_key`: whether a key is open at `begin`.
  ItemWalker(std::string_view file, size_t begin, size_t end, bool in_key);

  // Leaves the path of a section undecoded when a plainly written element
  // already shows that it is neither `key` nor above nor below it: in a
  // large file that saves most of the work.
  void FocusOn(const WineKeyPath* key) { focus_ = key; }

  // The next item; false at the end of the range.
  bool Next(Item* item);

  // After a kSection item: whether its path was decoded (always, unless
  // FocusOn ruled it out), and the path's elements.
  bool section_decoded() const { return section_decoded_; }
  const std::vector<std::u16string_view>& section_path() const { return path_; }
  // After a kValue item: its name (empty: the default value).
  std::u16string_view value_name();
  // After a kOption item: whether it marks the open key as a link.
  bool option_is_link() const { return link_; }
  // Whether Wine stops loading here: an unknown or mismatched "#arch=" line.
  // Next() then gives no more items.
  bool stopped() const { return stopped_; }
  // Whether the last value waits for a continuation line the file lacks.
  bool value_open_at_end() const { return open_at_end_; }

 private:
  void ReadSection(const Line& line, size_t text, Item* item);
  void ReadValue(const Line& line, size_t text, Item* item);
  void ReadOption(const Line& line, size_t text);

  bool DecodeSectionPath(std::string_view name);

  std::string_view file_;
  LineCursor lines_;
  bool in_key_;
  const WineKeyPath* focus_ = nullptr;
  bool section_decoded_ = false;
  std::u16string units_;
  std::vector<std::u16string_view> path_;
  // A value's name is decoded only when asked for: most are never looked at,
  // and a read from bench/registry_read_bench.sh's 200 MiB system.reg takes
  // 0.85 times the time it takes with every name decoded.
  size_t name_begin_ = 0;
  size_t name_end_ = 0;  // its closing quote, or name_begin_ for '@'
  bool name_decoded_ = false;
  std::u16string name_;
  std::string arch_;
  bool link_ = false;
  bool stopped_ = false;
  bool open_at_end_ = false;
};

// Where the data of a kValue item ends as Wine's loader reads it: after the
// closing quote of a string, after the digits of a dword, at the end of the
// last line otherwise. The loader ignores what follows on the line.
size_t ValueDataEnd(std::string_view file, const Item& item);

// The value of a kValue item, decoded as Wine's loader does; nullopt when its
// data is malformed (Wine then keeps it as REG_NONE without data).
std::optional<WineValue> DecodeValue(std::string_view file, const Item& item);

}  // namespace tandor
