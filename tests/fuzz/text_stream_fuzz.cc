// libFuzzer target: Windows text-stream input from a file or pipe. The input
// is four sizes, then the text. Read in raw reads, a block size and caller's
// buffers of those sizes, the text must give what a one-pass model gives (CR
// LF as LF, a lone CR kept, nothing from 0x1A on), and nothing more is read
// once 0x1A or the end has come: a pipe's next read could block. A check
// that fails aborts; libFuzzer then keeps the input in a crash-<sha1> file,
// which the same binary replays when given it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/text_stream.h"

namespace {

// Sizes from 1 to 64, taken in turn from the bytes of `pattern`.
struct Cuts {
  size_t Next() { return 1 + (pattern[next++ % pattern.size()] & 63); }
  std::string_view pattern;
  size_t next = 0;
};

// Gives `raw` in reads cut by `cuts`.
struct Source : tandor::InputStream {
  Source(std::string_view raw, Cuts cuts) : raw(raw), cuts(cuts) {}
  size_t Read(char* buffer, size_t capacity) override {
    if (ended) abort();
    size_t count = raw.copy(buffer, std::min(capacity, cuts.Next()));
    ended = count == 0 || raw.substr(0, count).find('\x1a') != raw.npos;
    raw.remove_prefix(count);
    return count;
  }
  bool failed() const override { return false; }

  std::string_view raw;
  Cuts cuts;
  bool ended = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string_view data(reinterpret_cast<const char*>(bytes), size);
  if (data.size() < 4) return 0;
  std::string_view text = data.substr(4), file = text.substr(0, text.find('\x1a'));
  std::string expected, got;
  for (size_t i = 0; i < file.size(); ++i)
    expected += file.substr(i, 2) == "\r\n" ? "" : file.substr(i, 1);
  Source source(text, {data.substr(0, 2)});
  tandor::TextInputStream input(source, tandor::StreamKind::kFileOrPipe,
                                Cuts{data.substr(2, 1)}.Next());
  Cuts capacities{data.substr(3, 1)};
  char buffer[64];
  while (size_t count = input.Read(buffer, capacities.Next())) got.append(buffer, count);
  if (got != expected || input.Read(buffer, sizeof buffer) != 0) abort();
  return 0;
}
