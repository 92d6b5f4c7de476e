// Windows text streams over raw byte channels: the newline and Ctrl-Z rules
// of console programs, kept apart from the handles so that they are built and
// tested on every platform. console-win32.cc supplies the channels.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "base/buffers.h"
#include "console/buffered_output.h"
#include "console/console.h"

namespace tandor {

// Where a stream leads: a device (console, terminal, NUL) or a file or pipe.
enum class StreamKind { kDevice, kFileOrPipe };

// Standard input as a text stream: CR LF arrives as '\n' (also when the two
// bytes come in different reads); a CR not followed by LF stays, also as the
// last byte. Byte 0x1A ends the input from a file or pipe, and nothing after
// it is read; on a device it ends the current read only, dropping the rest
// of what that read gave. Read() gives 0 at the end of the input, and on a
// device also for a read that ends before any byte.
class TextInputStream : public InputStream {
 public:
  // `source` gives the raw bytes; on a device a read of 0 bytes is one that
  // found nothing, not the end.
  TextInputStream(InputStream& source, StreamKind kind, size_t block_size);

  size_t Read(char* buffer, size_t capacity) override;
  bool failed() const override { return source_.failed(); }

 private:
  size_t Translate(char* out, size_t capacity);
  void Fill();

  InputStream& source_;
  const bool device_;
  const size_t block_size_;
  std::unique_ptr<char[]> raw_;
  size_t begin_ = 0;  // raw bytes not yet translated: [begin_, end_)
  size_t end_ = 0;
  bool ended_ = false;           // nothing more is read from the source
  bool read_ends_here_ = false;  // a device read stopped at 0x1A or was empty
};

// Standard output as a text stream: every '\n' goes out as CR LF and every
// other byte, CR included, as it is (so CR LF in a text becomes CR CR LF).
// Under a BufferedOutput the translation of full buffers runs on the thread
// that writes them, beside the one that fills the next.
class CrLfSink : public ByteSink {
 public:
  // Translates up to `block_size` bytes per write to `sink`.
  CrLfSink(ByteSink& sink, size_t block_size);

  bool WriteAll(const char* data, size_t size) override;

 private:
  ByteSink& sink_;
  const size_t block_size_;
  PageBuffer translated_;  // 2 * block_size_: each byte takes at most two
};

}  // namespace tandor
