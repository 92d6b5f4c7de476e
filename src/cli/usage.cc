#include "cli/usage.h"

#include "modes/exit_status.h"

namespace tandor {

namespace {

// Written verbatim, piece by piece; never used as a format.
constexpr const char* kUsagePieces[] = {
    "\n Quorvel v1.5\n\n",
    "  Usage: \n\n",
    "     Tandor \"ControlString\"\n\n",
    "             or\n\n",
    "     Tandor -r \"SearchString\" \"ReplaceString\"\n\n",
    "  where ControlString may contain the following tags to expand:\n",
    "    ^d       - The current drive ('c:')\n",
    "    ^p       - The current path  ('\\orbin\\tarvel')\n",
    "    ^i       - typed input - will prompt for string on STDIN.\n",
    "               Optionally can include prompt string in single-quotes.\n\n",
    "                   Example: ^i'Enter  name:'\n\n",
    "    ^r'key'  - The value of the text registry key named 'key'.\n",
    "               To retrieve the '(default)' key value, end the name\n",
    "               in a backslash.\n\n",
    "                   Example: ^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\Directory\\'\n\n",
    "    ^n       - newline ('\\n')\n\n",
    "  Note: This program does NOT automatically add a newline\n",
    "  at the end of the line.  This allows you to run the program\n",
    "  several times, appending the output to a file, and place\n",
    "  output on the same line in the file.  Use ^n where you want\n",
    "  a newline.\n\n",
    "  Examples:\n\n",
    "    Tandor \"set currentDir=^p^nSET currentDrive=^d^n\" >temp.bat\n\n",
    "      This will place the following in 'temp.bat':\n\n",
    "         set currentDir=\\dir1\\dir2\n",
    "         set currentDrive=c:\n\n\n",
    "    Tandor -r \"pass XX\" \"pass 1.1\"  <globalsettings.props >temp\n\n",
    "      This will replace \"pass XX\" with \"pass 1.1\" from\n",
    "      STDIN (which will contain 'globalsettings.props') and\n",
    "      output the results to STDOUT (which is sent to 'temp').\n",
    "      EXITCODE will be set to 1 if \"pass XX\" is not present in STDIN.\n\n",
    "    Tandor -w \"regkey\" \"pass XX\" \"pass 1.1\"\n\n",
    "      This will replace \"pass XX\" with \"pass 1.1\" in the\n",
    "      registry key \"regkey\".  The EXITCODE will be set to 1\n",
    "      if \"pass XX\" is not present in the registry key.  The EXITCODE\n",
    "      will be set to 2 if the registry key does not exist.\n\n",
};

}  // namespace

int ShowUsage(OutputStream& output) {
  for (const char* piece : kUsagePieces) output.Write(piece);
  output.Flush();
  return kStatusNotDone;
}

}  // namespace tandor
