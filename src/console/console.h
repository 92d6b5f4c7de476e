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
  virtual ~InputStream() = default;
  // Reads up to `capacity` bytes. Gives the count, or 0 at end of input or
  // after a read error (see failed()).
  virtual size_t Read(char* buffer, size_t capacity) = 0;
  // True once a read has failed for a reason other than end of input.
  virtual bool failed() const = 0;
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
  // True once a write has failed; the rest of the output is then dropped.
  // Writes may complete behind the caller's back: after Flush() every
  // earlier failure shows.
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
