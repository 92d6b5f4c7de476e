"""Runs tandor.exe under Wine with an exact command line, for run_cases.py.

`wine prog args` builds the Windows command line from its Unix arguments and
quotes them its own way, so a case could never test the tool's own splitting.
Instead the command line goes hex-encoded to tandor_launch.exe
(tests/wine/launch.cc), which hands it unchanged to CreateProcessA. Standard
input and output are the Unix pipes given to `wine`: Wine turns them into the
Windows handles that the launcher passes on.
"""

import os
import selectors
import subprocess
import tempfile
import time

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
    if "\0" in arg:
        raise ValueError("a command line cannot carry a NUL byte")
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


def dos_path(unix_path):
    """The path through Wine's Z: drive, which maps the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class WineRunner:
    """Runs tandor.exe in a Wine prefix whose server the caller keeps running
    (run_cases.py's WinePrefix): a persistent server saves about a second a run."""

    def __init__(self, exe, launcher, prefix):
        self.exe = os.path.abspath(exe)
        self.launcher = os.path.abspath(launcher)
        # The tool reads no environment; only Wine does, and it must use this
        # prefix whatever a case sets for the POSIX build.
        self.wine_env = dict(WINEPREFIX=os.path.abspath(prefix), WINEDEBUG="-all")
        self.warmed_up = False

    def run(self, cmdline, stdin=b"", cwd=None, env=None, timeout=60, stdin_file=False):
        """Runs tandor.exe with `cmdline` (str in the ANSI code page, or bytes)
        exactly as given after the quoted program path, `stdin` on a pipe (in
        a file with `stdin_file`), in the Unix directory `cwd`. Gives (stdout,
        stderr, exit status)."""
        if isinstance(cmdline, str):
            cmdline = cmdline.encode(ANSI_CODE_PAGE)
        program = b'"' + dos_path(self.exe).encode(ANSI_CODE_PAGE) + b'"'
        command_line = program + (b" " + cmdline if cmdline else b"")
        if not self.warmed_up:
            # The first Wine process of a server starts Wine's background
            # services, which keep the standard handles they inherit open for
            # the server's life: let them have /dev/null, not a case's pipes.
            subprocess.run(["wine", self.launcher, program.hex()], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           env={**os.environ, **self.wine_env}, timeout=300)
            self.warmed_up = True
        with tempfile.TemporaryDirectory() as folder:
            argument = command_line.hex()
            if len(command_line) > HEX_LIMIT:
                argument = "@" + dos_path(os.path.join(folder, "cmdline"))
                with open(os.path.join(folder, "cmdline"), "wb") as f:
                    f.write(command_line)
            stdin_source = subprocess.PIPE
            if stdin_file:
                stdin_source = open(os.path.join(folder, "stdin"), "w+b")
                stdin_source.write(stdin)
                stdin_source.seek(0)
                stdin = b""
            with subprocess.Popen(["wine", self.launcher, argument], stdin=stdin_source,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd,
                                  env={**os.environ, **(env or {}), **self.wine_env}) as proc:
                try:
                    out, err = exchange_until_exit(proc, stdin, time.monotonic() + timeout)
                finally:
                    if proc.poll() is None:
                        proc.kill()
                    if stdin_file:
                        stdin_source.close()
        return out, err, proc.returncode


def exchange_until_exit(proc, stdin, deadline):
    """Feeds `stdin` to `proc` and collects its stdout and stderr until it has
    exited. End of file on the pipes is not awaited: a Wine background process
    may still hold them open long after the tool has ended."""
    out = {proc.stdout: [], proc.stderr: []}
    pending = memoryview(stdin)
    with selectors.DefaultSelector() as selector:
        for pipe in out:
            os.set_blocking(pipe.fileno(), False)
            selector.register(pipe, selectors.EVENT_READ)
        if pending:
            os.set_blocking(proc.stdin.fileno(), False)
            selector.register(proc.stdin, selectors.EVENT_WRITE)
        elif proc.stdin:
            proc.stdin.close()
        exited = False
        while not exited:
            # Once the process has ended, all it wrote is in the pipes: one
            # more round reads it.
            exited = proc.poll() is not None
            if time.monotonic() > deadline:
                raise subprocess.TimeoutExpired(proc.args, 0)
            for key, _ in selector.select(timeout=0 if exited else 0.01):
                if key.fileobj is not proc.stdin:
                    read_available(key.fileobj, out[key.fileobj], selector)
                    continue
                try:
                    pending = pending[os.write(proc.stdin.fileno(), pending):]
                except BlockingIOError:
                    continue
                except BrokenPipeError:
                    pending = pending[:0]  # the reader is gone: drop the rest
                if not pending:
                    selector.unregister(proc.stdin)
                    proc.stdin.close()
    return b"".join(out[proc.stdout]), b"".join(out[proc.stderr])


def read_available(pipe, chunks, selector):
    while True:
        try:
            data = os.read(pipe.fileno(), 65536)
        except BlockingIOError:
            return
        if not data:  # end of file: stop watching, or select would spin
            selector.unregister(pipe)
            return
        chunks.append(data)
