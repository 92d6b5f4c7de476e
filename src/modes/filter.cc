#include <memory>
#include <string>

#include "cli/exit_status.h"
#include "modes/modes.h"
#include "modes/replace_all.h"

namespace tandor {

namespace {

constexpr size_t kBlockSize = 256 * 1024;

}  // namespace

// Occurrences never span a line end (a search text holding '\n' matches no
// line), so the stream is replaced as a whole rather than line by line; only
// a tail that may start an occurrence is carried from one block to the next.
int FilterStream(std::string_view search_string, std::string_view replace_string,
                 InputStream& input, OutputStream& output) {
  bool found = false;
  bool any_input = false;
  char last_byte = '\n';
  std::string buffer;
  std::unique_ptr<char[]> block(new char[kBlockSize]);
  const size_t keep = search_string.empty() ? 0 : search_string.size() - 1;
  for (;;) {
    size_t count = input.Read(block.get(), kBlockSize);
    bool at_end = count == 0;
    buffer.append(block.get(), count);
    if (count > 0) {
      any_input = true;
      last_byte = block[count - 1];
    }
    std::string_view text(buffer);
    size_t scan = 0;
    for (size_t hit; (hit = FindOccurrence(text, search_string, scan)) != std::string_view::npos;
         scan = hit + search_string.size()) {
      found = true;
      output.Write(text.substr(scan, hit - scan));
      output.Write(replace_string);
    }
    size_t flush_to = at_end ? text.size() : std::max(scan, text.size() > keep ? text.size() - keep : 0);
    output.Write(text.substr(scan, flush_to - scan));
    buffer.erase(0, flush_to);
    if (at_end) break;
  }
  if (any_input && last_byte != '\n') output.Write("\n");
  output.Flush();
  if (input.failed() || output.failed()) return kStatusNotDone;
  return found ? kStatusSuccess : kStatusNotDone;
}

}  // namespace tandor
