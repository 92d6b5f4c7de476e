// Splitting a Windows command line (the text GetCommandLineA gives) into the
// program name and the argument vector. Pure text work, so it is built and
// tested on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tandor {

struct CommandLine {
  std::string program_name;
  std::vector<std::string> arguments;
};

// Splits `command_line` by the rules every Windows C program is started with,
// independent of the C runtime that links:
// - The program name runs to the first space or tab outside double quotes;
//   its quotes are removed and its backslashes are literal.
// - Arguments are separated by runs of spaces and tabs outside double quotes.
//   A double quote switches quoting and is removed; inside quotes, two double
//   quotes in a row give one literal quote and end the quoted part.
// - 2N backslashes before a double quote give N backslashes, and the quote
//   then acts as above; 2N+1 give N backslashes and a literal quote.
//   Backslashes anywhere else are literal.
// - A pair of quotes standing alone is an empty argument; an unterminated
//   quote runs to the end. No wildcard expansion; single quotes are ordinary.
// Never fails: every text splits into some name and vector.
CommandLine SplitCommandLine(std::string_view command_line);

}  // namespace tandor
