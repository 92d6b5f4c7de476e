#!/usr/bin/env python3
"""Runs tandor.exe under Wine with an exact command line.

`wine prog args` builds the Windows command line from its Unix arguments and
quotes them its own way, so a case could never test the tool's own splitting.
Instead the command line goes hex-encoded to tandor_launch.exe
(tests/wine/launch.cc), which hands it unchanged to CreateProcessA. Standard
input and output are the Unix pipes or files given to `wine`: Wine turns them
into the Windows handles that the launcher passes on.

Used by run_cases.py; run on its own it checks quote_args() round-trip
through the real tandor.exe:

  wine_target.py TANDOR_EXE LAUNCH_EXE
"""

import os
import random
import selectors
import shutil
import subprocess
import sys
import tempfile
import time

# The ANSI code page Wine picks for the C and most Western locales; the
# A functions see the command line in it.
ANSI_CODE_PAGE = "cp1252"

# Command lines up to this many bytes go to the launcher as hex.
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
        if c == '"':
            # 2N+1 backslashes before a quote: N backslashes and the quote.
            quoted.append("\\" * (2 * backslashes + 1) + '"')
        else:
            quoted.append("\\" * backslashes + c)
        backslashes = 0
    # Before the closing quote 2N backslashes give N.
    quoted.append("\\" * (2 * backslashes) + '"')
    return "".join(quoted)


def dos_path(unix_path):
    """The path through Wine's Z: drive, which maps the Unix root."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class WineRunner:
    """Runs tandor.exe in one Wine prefix. The prefix and its server are the
    caller's (start(), stop() or run_cases.py's WinePrefix); a persistent
    server saves about a second per run."""

    def __init__(self, exe, launcher, prefix):
        self.exe = os.path.abspath(exe)
        self.launcher = os.path.abspath(launcher)
        self.prefix = os.path.abspath(prefix)
        if '"' in self.exe:
            raise ValueError("tandor.exe path must not contain a double quote")
        self.warmed_up = False

    def env(self, extra=None):
        env = dict(os.environ)
        env.update(extra or {})
        # The tool reads no environment; only Wine does, and it must use this
        # prefix whatever a case sets for the POSIX build.
        env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all")
        return env

    def start(self):
        """Creates the prefix if needed and starts a persistent server."""
        if not os.path.isfile(os.path.join(self.prefix, "system.reg")):
            subprocess.run(["wineboot", "-i"], env=self.env(), capture_output=True,
                           check=True, timeout=300)
        subprocess.run(["wineserver", "-p"], env=self.env(), check=True, timeout=60)
        self.warm_up()

    def stop(self):
        """Ends the server; it saves the registry as it goes."""
        subprocess.run(["wineserver", "-k"], env=self.env(), capture_output=True, timeout=60)
        subprocess.run(["wineserver", "-w"], env=self.env(), capture_output=True, timeout=60)
        self.warmed_up = False

    def command_line(self, cmdline):
        """The full command line: the quoted program path, then `cmdline`
        (str in the ANSI code page, or bytes) exactly as given."""
        if isinstance(cmdline, str):
            cmdline = cmdline.encode(ANSI_CODE_PAGE)
        program = b'"' + dos_path(self.exe).encode(ANSI_CODE_PAGE) + b'"'
        return program + (b" " + cmdline if cmdline else b"")

    def run(self, cmdline, stdin=b"", cwd=None, env=None, timeout=60):
        """Runs tandor.exe with `cmdline` after the program name, `stdin` on a
        pipe, in the Unix directory `cwd` (Wine shows it as a DOS path).
        Gives (stdout bytes, stderr bytes, exit status)."""
        if not self.warmed_up:
            self.warm_up()
        with tempfile.TemporaryDirectory() as folder:
            argument = self.launcher_argument(self.command_line(cmdline), folder)
            proc = subprocess.Popen(["wine", self.launcher, argument], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd,
                                    env=self.env(env))
            try:
                out, err = exchange_until_exit(proc, stdin, time.monotonic() + timeout)
            finally:
                if proc.poll() is None:
                    proc.kill()
                proc.wait()
                for pipe in (proc.stdin, proc.stdout, proc.stderr):
                    pipe.close()
        return out, err, proc.returncode

    @staticmethod
    def launcher_argument(command_line, folder):
        """Hex, or for a long command line "@file": the launcher's own command
        line is limited to 32,767 characters like any other."""
        if len(command_line) <= HEX_LIMIT:
            return command_line.hex()
        path = os.path.join(folder, "cmdline")
        with open(path, "wb") as f:
            f.write(command_line)
        return "@" + dos_path(path)

    def warm_up(self):
        """Lets the first Wine process of a server start Wine's background
        services, which keep the standard handles they inherit open for the
        server's life: here they get /dev/null rather than a case's pipes."""
        subprocess.run(["wine", self.launcher, self.command_line(b"").hex()],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=self.env(), timeout=300)
        self.warmed_up = True

    def run_args(self, args, stdin=b"", cwd=None, env=None):
        return self.run(quote_args(args), stdin, cwd, env)


def exchange_until_exit(proc, stdin, deadline):
    """Feeds `stdin` to `proc` and collects its stdout and stderr until it
    has exited. End of file on the pipes is not awaited: a Wine background
    process may hold them open long after the tool has ended."""
    with Exchange(proc, stdin) as exchange:
        while proc.poll() is None:
            if time.monotonic() > deadline:
                raise subprocess.TimeoutExpired(proc.args, 0)
            exchange.step()
        return exchange.finish()


class Exchange:
    def __init__(self, proc, stdin):
        self.proc = proc
        self.pending = memoryview(stdin)
        self.out = {proc.stdout.fileno(): [], proc.stderr.fileno(): []}
        self.selector = selectors.DefaultSelector()
        for fd in self.out:
            os.set_blocking(fd, False)
            self.selector.register(fd, selectors.EVENT_READ)
        self.stdin_fd = proc.stdin.fileno() if self.pending else None
        if self.stdin_fd is not None:
            os.set_blocking(self.stdin_fd, False)
            self.selector.register(self.stdin_fd, selectors.EVENT_WRITE)
        else:
            proc.stdin.close()
        # Wakes the loop the moment the process ends, where the kernel allows.
        self.exit_fd = os.pidfd_open(proc.pid) if hasattr(os, "pidfd_open") else None
        if self.exit_fd is not None:
            self.selector.register(self.exit_fd, selectors.EVENT_READ)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.selector.close()
        if self.exit_fd is not None:
            os.close(self.exit_fd)

    def step(self):
        for key, _ in self.selector.select(timeout=0.05):
            if key.fd in self.out:
                self.read_available(key.fd)
            elif key.fd == self.stdin_fd:
                self.write_some()

    def finish(self):
        # The process has ended: all it wrote is in the pipes now.
        for fd in self.out:
            self.read_available(fd)
        return b"".join(self.out[self.proc.stdout.fileno()]), \
            b"".join(self.out[self.proc.stderr.fileno()])

    def read_available(self, fd):
        while True:
            try:
                data = os.read(fd, 65536)
            except BlockingIOError:
                return
            if not data:
                if fd in self.selector.get_map():
                    self.selector.unregister(fd)
                return
            self.out[fd].append(data)

    def write_some(self):
        try:
            written = os.write(self.stdin_fd, self.pending)
        except BlockingIOError:
            return
        except BrokenPipeError:
            written = len(self.pending)  # the reader is gone: drop the rest
        self.pending = self.pending[written:]
        if not self.pending:
            self.selector.unregister(self.stdin_fd)
            self.stdin_fd = None
            self.proc.stdin.close()


# Characters that stress the quoting rules; '^' is left out because the tool
# expands it.
ALPHABET = 'a" \\\t\'*'


def round_trip_cases(count, seed=1):
    cases = ["", " ", "\t", '"', '""', "\\", "\\\\", '\\"', 'a\\', 'a\\\\', 'a b\\',
             '"a b"', 'a""b', "C:\\Program Files\\", "\\\\server\\share\\", "'x y'", "*.*"]
    rng = random.Random(seed)
    for _ in range(count):
        cases.append("".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 8))))
    return cases


def check_round_trip(runner, cwd):
    """Each text as the one argument (echoed by expansion) and as the search
    and replacement of filter mode. Gives the list of failures."""
    failures = []
    texts = round_trip_cases(40)
    for text in texts:
        out, err, status = runner.run_args([text], cwd=cwd)
        if (out, status) != (text.encode(), 0) or err:
            failures.append(f"[{text!r}] gave {out!r}, status {status}, stderr {err!r}")
    for search, replace in zip(texts[1:], reversed(texts)):
        out, err, status = runner.run_args(["-r", search, replace], search.encode() + b"\n", cwd)
        if (out, status) != (replace.encode() + b"\r\n", 0) or err:
            failures.append(f"-r {search!r} {replace!r} gave {out!r}, status {status}")
    return failures, len(texts) * 2 - 1


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    scratch = tempfile.mkdtemp(prefix="tandor-wine-")
    runner = WineRunner(argv[1], argv[2], os.path.join(scratch, "prefix"))
    try:
        runner.start()
        start = time.monotonic()
        failures, runs = check_round_trip(runner, scratch)
        elapsed = time.monotonic() - start
    finally:
        runner.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    for failure in failures:
        print("FAIL", failure)
    print(f"{runs - len(failures)} passed, {len(failures)} failed "
          f"({1000 * elapsed / runs:.0f} ms per run)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
