// libFuzzer target: the Windows text streams. The input is four sizes, four
// bytes that cut the text into pieces, then the text. Read from a file or
// pipe, the text must give what a one-pass model gives (CR LF as LF, a lone
// CR kept, nothing from 0x1A on), whatever the raw reads, the block size and
// the caller's buffers, and read nothing more once 0x1A or the end has come
// (a pipe's next read could block); written, it must give every LF as CR LF
// whatever the pieces, the buffers and the translation blocks, to a console
// at once (a prompt shows before the tool waits) and to a file no sooner than
// a buffer is full; after a failed write, nothing more is written (the rest
// would come out with a gap) and the failure is known once flushed.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "console/buffered_output.h"
#include "console/text_stream.h"
#include "fuzz/fuzz_main.h"

namespace {

// Sizes from 1 to 64, taken in turn from the bytes of `pattern`.
struct Cuts {
  size_t Next() { return 1 + (pattern[next++ % pattern.size()] & 63); }
  std::string_view pattern;
  size_t next = 0;
};

// Gives `raw` in reads cut by `cuts`; keeps what is written to it, but for
// its `fail_at`th write (from 0), which fails.
struct Channel : tandor::InputStream, tandor::ByteSink {
  Channel(std::string_view raw, Cuts cuts) : raw(raw), cuts(cuts) {}
  size_t Read(char* buffer, size_t capacity) override {
    if (ended) abort();
    size_t count = raw.copy(buffer, std::min(capacity, cuts.Next()));
    ended = count == 0 || raw.substr(0, count).find('\x1a') != raw.npos;
    raw.remove_prefix(count);
    return count;
  }
  bool failed() const override { return false; }
  bool WriteAll(const char* data, size_t size) override {
    if (write_failed) abort();
    if (writes++ == fail_at) return !(write_failed = true);
    written.append(data, size);
    return true;
  }
  std::string_view raw;
  Cuts cuts;
  bool ended = false, write_failed = false;
  int writes = 0, fail_at = -1;
  std::string written;
};

}  // namespace

void FuzzOne(std::string_view data) {
  using namespace tandor;
  if (data.size() < 8) return;
  std::string_view text = data.substr(8), file = text.substr(0, text.find('\x1a'));
  std::string read, written, got;
  for (size_t i = 0; i < file.size(); ++i)
    read += file.substr(i, 2) == "\r\n" ? "" : file.substr(i, 1);
  for (char c : text) written += c == '\n' ? "\r\n" : std::string_view(&c, 1);
  Channel channel(text, {data.substr(4, 2)});
  TextInputStream input(channel, StreamKind::kFileOrPipe, Cuts{data.substr(0, 1)}.Next());
  Cuts capacities{data.substr(6, 2)};
  char buffer[64];
  while (size_t count = input.Read(buffer, capacities.Next())) got.append(buffer, count);
  if (got != read || input.Read(buffer, 64) != 0) abort();
  const bool console = data[3] & 1;
  const size_t buffer_size = Cuts{data.substr(2, 1)}.Next() * (console ? 1 : 64);
  CrLfSink crlf(channel, Cuts{data.substr(1, 1)}.Next());
  BufferedOutput output(crlf, buffer_size, console);
  Cuts pieces{data.substr(4, 4)};
  if (data[3] & 4) channel.fail_at = static_cast<uint8_t>(data[3]) >> 3;
  for (size_t done = 0, lines = 0; done < text.size();) {
    std::string_view piece = text.substr(done, pieces.Next() * (data[3] & 2 ? 64 : 1));
    output.Write(piece);
    done += piece.size();
    lines += std::count(piece.begin(), piece.end(), '\n');
    // Until a buffer is full no thread writes behind, so `written` is safe to read.
    if ((console || done < buffer_size) && !channel.write_failed &&
        channel.written.size() != (console ? done + lines : 0))
      abort();
  }
  output.Flush();
  if (output.failed() != channel.write_failed ||
      (!channel.write_failed && channel.written != written))
    abort();
}
