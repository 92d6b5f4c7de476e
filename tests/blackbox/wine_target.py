# tandor.exe under Wine with an exact command line, for run_cases.py.
#
# `wine prog args` would build the Windows command line from Unix arguments,
# quoted its own way, so the tool's own splitting could never be tested. The
# command line goes hex-encoded to tandor_launch.exe (tests/wine/launch.cc)
# instead, which hands it unchanged to CreateProcessA.

import os, re, subprocess  # noqa: E401

# The ANSI code page Wine picks for the C and most Western locales; the
# A functions see the command line in it.
ANSI_CODE_PAGE = "cp1252"

# Longer command lines go to the launcher in a file: in hex they would not
# fit its own command line, limited to 32,767 characters like any other.
HEX_LIMIT = 8000


def quote_args(args):
    """A command line (after the program name) that the tool's splitter turns
    back into exactly `args`."""
    return " ".join(quote_arg(arg) for arg in args)


def quote_arg(arg):
    if arg and not any(c in arg for c in ' \t"'):
        return arg  # backslashes not before a quote are literal
    quoted = ['"']
    backslashes = 0
    for c in arg:
        if c == "\\":
            backslashes += 1
            continue
        # 2N+1 backslashes before a quote give N backslashes and the quote.
        quoted.append("\\" * (2 * backslashes + 1) + '"' if c == '"' else "\\" * backslashes + c)
        backslashes = 0
    # Before the closing quote 2N backslashes give N.
    quoted.append("\\" * (2 * backslashes) + '"')
    return "".join(quoted)


# The path through Wine's Z: drive, which maps the Unix root.
def dos_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# Runs tandor.exe in `prefix`, whose server runs from here to the end of the
# run (WinePrefix.stop_server): that saves about a second a case.
class WineTarget:
    name = "wine"
    newline = b"\r\n"

    def __init__(self, exe, launcher, prefix, scratch):
        self.program = b'"' + dos_path(exe).encode(ANSI_CODE_PAGE) + b'"'
        self.launcher = os.path.abspath(launcher)
        self.scratch = scratch
        # The tool reads no environment; only Wine does, and it must use this
        # prefix whatever a case sets for the POSIX build.
        self.wine_env = dict(WINEPREFIX=prefix.path, WINEDEBUG="-all")
        prefix.start_server()
        # The first Wine process of a server starts Wine's background
        # services, which keep the standard handles they inherit open for
        # the server's life: let them have /dev/null, not a case's pipes.
        subprocess.run(["wine", self.launcher, self.program.hex()], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env={**os.environ, **self.wine_env}, timeout=300)

    def command(self, case):
        cmdline = case.raw if case.raw is not None else quote_args(case.args)
        command_line = self.program + (b" " + cmdline.encode(ANSI_CODE_PAGE) if cmdline else b"")
        if len(command_line) <= HEX_LIMIT:
            return ["wine", self.launcher, command_line.hex()]
        with open(os.path.join(self.scratch, "cmdline"), "wb") as f:
            f.write(command_line)
        return ["wine", self.launcher, "@" + dos_path(f.name)]

    def env(self, case):
        return {**os.environ, **case.env, **self.wine_env}

    # What a terminal shows of Wine's console output, which moves the cursor
    # over blanks: those moves as spaces, other control sequences dropped.
    @staticmethod
    def terminal_text(shown):
        shown = re.sub(rb"\x1b\[(\d*)C", lambda move: b" " * int(move[1] or 1), shown)
        return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown)
