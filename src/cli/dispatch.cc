#include "cli/dispatch.h"

#include <string>
#include <vector>

#include "base/ascii.h"
#include "cli/usage.h"
#include "modes/exit_status.h"
#include "modes/modes.h"

namespace tandor {

namespace {

// Only the first two characters of the option count: "-rabc" is "-r".
char OptionLetter(const std::string& argument) {
  if (argument.size() < 2 || argument[0] != '-') return '\0';
  return UpperAscii(argument[1]);
}

}  // namespace

int Dispatch(Console& console, RegistryService& registry) {
  const std::vector<std::string>& args = console.Arguments();
  if (args.size() == 1) return ExpandControlString(args[0], console, registry);
  if (args.size() == 3 && OptionLetter(args[0]) == 'R')
    return FilterStream(args[1], args[2], console.Input(), console.Output());
  if (args.size() == 4 && OptionLetter(args[0]) == 'W')
    return RewriteRegistryValue(args[1], args[2], args[3], console.Output(), registry);
  return ShowUsage(console.Output());
}

}  // namespace tandor
