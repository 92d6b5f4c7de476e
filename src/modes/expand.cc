#include <optional>
#include <string>

#include "base/ascii.h"
#include "console/line_reader.h"
#include "modes/exit_status.h"
#include "modes/modes.h"
#include "registry/registry_text.h"

namespace tandor {

namespace {

constexpr std::string_view kDefaultPrompt = "> ";
constexpr std::string_view kPromptError = "\n\n\n !!! Error in prompt string!!! \n\n\n";
constexpr std::string_view kNoKeyError = "\n\n\n !!! Error: No Registry key specified !!! \n\n\n";
constexpr std::string_view kKeyQuoteError =
    "\n\n\n !!! Error in specifying Registry key !!! \n\n\n";

// True when `rest`, what follows an opening single quote, holds the closing one.
bool HasClosingQuote(std::string_view rest) { return rest.find('\'') != std::string_view::npos; }

class Expansion {
 public:
  Expansion(std::string_view control_string, Console& console, RegistryService& registry)
      : rest_(control_string), console_(console), registry_(registry) {}

  int Run() {
    while (!rest_.empty()) {
      char c = Take();
      if (c != '^') {
        output_buffer_ += c;
        continue;
      }
      if (rest_.empty()) break;  // a lone '^' at the very end appends nothing
      int status = ExpandTag(UpperAscii(Take()));
      if (status != kStatusSuccess) return status;
    }
    OutputStream& out = console_.Output();
    out.Write(output_buffer_);
    out.Flush();
    return out.failed() ? kStatusNotDone : kStatusSuccess;
  }

 private:
  char Take() {
    char c = rest_.front();
    rest_.remove_prefix(1);
    return c;
  }

  // Gives kStatusSuccess to go on, or the status the run ends with.
  int ExpandTag(char tag) {
    switch (tag) {
      case 'D':
        output_buffer_ += DriveText();
        break;
      case 'P':
        output_buffer_ += PathText();
        break;
      case 'N':
        output_buffer_ += '\n';
        break;
      case 'I':
        return TypedInput();
      case 'R':
        return RegistryText();
      default:
        break;  // unknown tags, '^' included, append nothing
    }
    return kStatusSuccess;
  }

  // The text of a single-quoted argument after its opening quote, through
  // the closing one; false when no closing quote follows.
  bool TakeQuoted(std::string* quoted) {
    if (!HasClosingQuote(rest_)) return false;
    size_t close = rest_.find('\'');
    quoted->assign(rest_.substr(0, close));
    rest_.remove_prefix(close + 1);
    return true;
  }

  int TypedInput() {
    std::string prompt_buffer(kDefaultPrompt);
    if (!rest_.empty() && rest_.front() == '\'') {
      rest_.remove_prefix(1);
      if (!TakeQuoted(&prompt_buffer)) return Fail(kPromptError);
    }
    OutputStream& out = console_.Output();
    out.Write(prompt_buffer);
    out.Flush();  // the prompt is on screen before the tool waits
    std::string line_buffer;
    if (!lines_.ReadLine(&line_buffer)) return kStatusNotDone;
    output_buffer_ += line_buffer;
    return kStatusSuccess;
  }

  int RegistryText() {
    if (rest_.empty() || rest_.front() != '\'') return Fail(kNoKeyError);
    rest_.remove_prefix(1);
    std::string registry_path;
    if (!TakeQuoted(&registry_path)) return Fail(kKeyQuoteError);
    output_buffer_ += ReadRegistryText(registry_, registry_path);
    return kStatusSuccess;
  }

  int Fail(std::string_view message) {
    OutputStream& out = console_.Output();
    out.Write(message);
    out.Flush();
    return kStatusNotDone;
  }

  const std::string& Directory() {
    if (!directory_) directory_ = console_.CurrentDirectory();
    return *directory_;
  }

  // "C:" for C:\dir1\dir2, the letter in the case the system reports.
  std::string DriveText() {
    const std::string& dir = Directory();
    return dir.empty() ? std::string() : std::string{dir[0], ':'};
  }

  // "\dir1\dir2" for C:\dir1\dir2; "\" at a drive's root.
  std::string PathText() {
    const std::string& dir = Directory();
    return dir.size() > 2 ? dir.substr(2) : std::string();
  }

  std::string_view rest_;  // the control string still to read
  Console& console_;
  RegistryService& registry_;
  LineReader lines_{console_.Input()};
  std::string output_buffer_;
  std::optional<std::string> directory_;  // read once, when a tag first needs it
};

}  // namespace

int ExpandControlString(std::string_view control_string, Console& console,
                        RegistryService& registry) {
  return Expansion(control_string, console, registry).Run();
}

}  // namespace tandor
