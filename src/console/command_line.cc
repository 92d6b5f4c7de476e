#include "console/command_line.h"

namespace tandor {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Walks the text once, taking the program name and then each argument.
class Splitter {
 public:
  explicit Splitter(std::string_view text) : rest_(text) {}

  std::string TakeProgramName() {
    std::string name;
    bool quoted = false;
    while (!rest_.empty() && (quoted || !IsBlank(rest_.front()))) {
      char c = Take();
      if (c == '"') {
        quoted = !quoted;
      } else {
        name += c;
      }
    }
    return name;
  }

  std::vector<std::string> TakeArguments() {
    std::vector<std::string> arguments;
    for (;;) {
      SkipBlanks();
      if (rest_.empty()) return arguments;
      arguments.push_back(TakeArgument());
    }
  }

 private:
  char Take() {
    char c = rest_.front();
    rest_.remove_prefix(1);
    return c;
  }

  void SkipBlanks() {
    while (!rest_.empty() && IsBlank(rest_.front())) rest_.remove_prefix(1);
  }

  // Starts at a non-blank character; ends at a blank outside quotes or at
  // the end of the text.
  std::string TakeArgument() {
    std::string argument;
    bool quoted = false;
    while (!rest_.empty() && (quoted || !IsBlank(rest_.front()))) {
      if (rest_.front() == '\\') {
        TakeBackslashes(&argument);
      } else if (rest_.front() == '"') {
        TakeQuote(&argument, &quoted);
      } else {
        argument += Take();
      }
    }
    return argument;
  }

  // Takes a run of backslashes. Before a quote, half of them count and an odd
  // one escapes the quote; an unescaped quote is left for TakeQuote.
  void TakeBackslashes(std::string* argument) {
    size_t count = rest_.find_first_not_of('\\');
    if (count == std::string_view::npos) count = rest_.size();
    bool before_quote = count < rest_.size() && rest_[count] == '"';
    argument->append(before_quote ? count / 2 : count, '\\');
    rest_.remove_prefix(count);
    if (before_quote && count % 2 == 1) argument->push_back(Take());
  }

  void TakeQuote(std::string* argument, bool* quoted) {
    rest_.remove_prefix(1);
    if (*quoted && !rest_.empty() && rest_.front() == '"') argument->push_back(Take());
    *quoted = !*quoted;
  }

  std::string_view rest_;
};

}  // namespace

CommandLine SplitCommandLine(std::string_view command_line) {
  Splitter splitter(command_line);
  CommandLine result;
  result.program_name = splitter.TakeProgramName();
  result.arguments = splitter.TakeArguments();
  return result;
}

}  // namespace tandor
