// libFuzzer target: the Windows command-line splitter. The input as a command
// line must split as a second formulation of the rules splits it: one
// character at a time, where the splitter looks ahead over runs.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/command_line.h"
#include "fuzz/fuzz_main.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One character at a time: a run of backslashes is only counted until the
// character after it tells what it stands for.
static std::vector<std::string> ModelArguments(std::string_view text) {
  std::vector<std::string> arguments;
  std::string* argument = nullptr;  // the one being read, if any
  bool quoted = false;
  size_t backslashes = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (argument == nullptr && IsBlank(c)) continue;
    if (argument == nullptr) argument = &arguments.emplace_back();
    bool escaped = c == '"' && backslashes % 2 == 1;
    bool doubled = c == '"' && !escaped && quoted && text.substr(i, 2) == "\"\"";
    if (c != '\\') argument->append(c == '"' ? backslashes / 2 : backslashes, '\\');
    if (escaped || doubled) *argument += '"';
    if (c == '"' && !escaped) quoted = !quoted;
    if (IsBlank(c) && !quoted) argument = nullptr;
    if (argument != nullptr && c != '"' && c != '\\') *argument += c;
    backslashes = c == '\\' ? backslashes + 1 : 0;
    i += doubled;
  }
  if (argument != nullptr) argument->append(backslashes, '\\');
  return arguments;
}

void FuzzOne(std::string_view data) {
  size_t end = 0;
  for (bool quoted = false; end < data.size() && (quoted || !IsBlank(data[end])); ++end)
    quoted ^= data[end] == '"';
  std::string name(data.substr(0, end));
  std::erase(name, '"');
  tandor::CommandLine split = tandor::SplitCommandLine(data);
  if (split.program_name != name || split.arguments != ModelArguments(data.substr(end))) abort();
}
