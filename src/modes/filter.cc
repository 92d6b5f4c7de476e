#include "modes/filter.h"

#include <algorithm>
#include <cstring>

#include "base/buffers.h"
#include "modes/exit_status.h"
#include "modes/modes.h"
#include "search/occurrence_finder.h"

namespace tandor {

namespace {

// Big enough that a read and a carry move per block cost nothing next to
// the scan; small enough to stay in the L2 cache and far inside the
// 4 MiB memory budget.
constexpr size_t kBlockSize = 256 * 1024;
// Occurrence positions gathered per pass: 32 KiB of stack.
constexpr size_t kWindow = 4096;

// The input side: each block is read to a page boundary, just behind the
// bytes carried over from the block before.
class BlockReader {
 public:
  BlockReader(size_t carry_capacity, size_t block_size)
      : storage_(block_size, carry_capacity), block_(storage_.data()), block_size_(block_size) {}

  // Reads the next block and gives its size: 0 at the end of input, when
  // text() is only what was carried.
  size_t Fill(InputStream& input) {
    size_t count = input.Read(block_, block_size_);
    text_ = std::string_view(block_ - text_.size(), text_.size() + count);
    return count;
  }

  // The carried bytes followed by the last block.
  std::string_view text() const { return text_; }

  // Keeps text() from `tail` on, at most the carry capacity, for the next block.
  void CarryFrom(size_t tail) {
    size_t carried = text_.size() - tail;
    memmove(block_ - carried, text_.data() + tail, carried);
    text_ = std::string_view(block_ - carried, carried);
  }

 private:
  PageBuffer storage_;
  char* const block_;
  const size_t block_size_;
  std::string_view text_;
};

// Writes `text` with every occurrence replaced, holding back only a tail
// that may be the start of an occurrence completed by later input (none
// `at_end`). Gives where that tail begins.
size_t ReplaceSettled(std::string_view text, const OccurrenceFinder& finder,
                      std::string_view replace, bool at_end, OutputStream& output, bool* found) {
  const size_t size = finder.search().size();
  size_t scan = 0;
  // Occurrences are found a window at a time: found one at a time, each
  // starting a scan anew, they took the filter 1.34 times the processor time
  // on bench/filter_bench.sh's 256 MiB of lines.
  size_t starts[kWindow];
  for (size_t from = 0, count = kWindow; count == kWindow;) {
    count = finder.FindOccurrences(text, &from, starts, kWindow);
    for (size_t i = 0; i < count; ++i) {
      *found = true;
      output.Write(text.substr(scan, starts[i] - scan));
      output.Write(replace);
      scan = starts[i] + size;
    }
  }
  size_t keep = at_end || size == 0 ? 0 : size - 1;
  size_t tail = text.size() - scan > keep ? text.size() - keep : scan;
  // No occurrence spans a line end: a line read is settled to its end.
  size_t line_end = text.substr(tail).rfind('\n');
  if (line_end != std::string_view::npos) tail += line_end + 1;
  output.Write(text.substr(scan, tail - scan));
  return tail;
}

}  // namespace

// Occurrences never span a line end, so the stream is replaced as a whole
// rather than line by line: no per-line work, and any line length fits.
int FilterStreamInBlocks(std::string_view search_string, std::string_view replace_string,
                         InputStream& input, OutputStream& output, size_t block_size) {
  // A search text holding a line end matches no line, though searched across
  // the whole stream it would.
  if (search_string.find('\n') != std::string_view::npos) search_string = {};
  const OccurrenceFinder finder(search_string);
  BlockReader reader(search_string.empty() ? 0 : search_string.size() - 1, block_size);
  bool found = false;
  char last_byte = '\n';
  for (;;) {
    size_t count = reader.Fill(input);
    if (count > 0) last_byte = reader.text().back();
    reader.CarryFrom(
        ReplaceSettled(reader.text(), finder, replace_string, count == 0, output, &found));
    if (count == 0 || output.failed()) break;
    // A short read means the input may be waiting, e.g. for a line typed at
    // the console: what is settled goes out meanwhile.
    if (count < block_size) output.Flush();
  }
  // The last line ends with a line end like every other.
  if (last_byte != '\n') output.Write("\n");
  output.Flush();
  if (input.failed() || output.failed()) return kStatusNotDone;
  return found ? kStatusSuccess : kStatusNotDone;
}

int FilterStream(std::string_view search_string, std::string_view replace_string,
                 InputStream& input, OutputStream& output) {
  // The carried bytes are searched again with each block: no more of them
  // than the block holds.
  return FilterStreamInBlocks(search_string, replace_string, input, output,
                              std::max(kBlockSize, search_string.size()));
}

}  // namespace tandor
