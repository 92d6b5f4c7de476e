// The process services a run needs: arguments, current directory, standard
// input and output. One implementation per platform (console-posix.cc,
// console-win32.cc); the logic sees only this header.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandor {

// Standard input with the platform's text rules already applied: a line end
// arrives as a single '\n'; every other byte, NUL included, as it was.
class InputStream {
 public:
  InputStream();
  virtual ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // Reads up to `capacity` bytes. Gives the count, or 0 at end of input or
  // after a read error (see failed()).
  virtual size_t Read(char* buffer, size_t capacity) = 0;

  // Slides a window along the input, for a reader that scans it in place.
  // Gives the last `keep` bytes of the window given before (none on the first
  // call; `keep` is at most that window's size) followed by new input: `size`
  // bytes or more when that much is at hand without waiting, fewer when not,
  // none at the end of input or after a read error (see failed()). So a
  // window no longer than `keep` means the input has ended. The window stays
  // valid until the next call. Mixing with Read() is allowed: each continues
  // where the other stopped.
  virtual std::string_view NextWindow(size_t keep, size_t size);

  // True once a read has failed for a reason other than end of input.
  virtual bool failed() const = 0;

 protected:
  // The portable NextWindow: `kept` (which may lie in the window given
  // before) moved into a buffer owned here, followed by one Read() of up to
  // `size` bytes.
  std::string_view ReadWindow(std::string_view kept, size_t size);

 private:
  std::unique_ptr<char[]> storage_;
  char* block_ = nullptr;  // page-aligned; room for the kept bytes before it
  size_t room_before_ = 0;
  size_t room_ = 0;
  std::string_view window_;
};

// Standard output with the platform's newline convention applied to every
// '\n' written.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Appends bytes; they may be held until Flush() or the end of the run.
  virtual void Write(std::string_view bytes) = 0;
  // Delivers everything written so far, e.g. a prompt before the tool waits.
  virtual void Flush() = 0;
  // True once any write has failed; the rest of the output is then dropped.
  virtual bool failed() const = 0;
};

class Console {
 public:
  virtual ~Console() = default;
  // The command-line arguments without the program name.
  virtual const std::vector<std::string>& Arguments() = 0;
  // The current directory in DOS form, drive letter first: "C:\dir1\dir2",
  // "C:\" at a drive's root. Empty if it cannot be determined.
  virtual std::string CurrentDirectory() = 0;
  virtual InputStream& Input() = 0;
  virtual OutputStream& Output() = 0;
};

// The platform's console for this process. argc/argv are those of main();
// a platform that splits its own command line ignores them.
std::unique_ptr<Console> CreateConsole(int argc, char** argv);

}  // namespace tandor
