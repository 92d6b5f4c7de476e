#!/usr/bin/env python3
# Runs the black-box case table (cases.py) against one build of the tool.
# Each run has a private scratch folder with a copy of a Wine prefix that
# holds the registry fixtures (wine_prefix.py); after cases that write the
# registry, Wine's own `reg export` checks it. Prints each failure, then
# "N passed, N failed"; exits with 1 on a failure, 77 (skipped) without Wine.
import argparse, fnmatch, os, pty, select, shutil, subprocess, sys, tempfile, time, tty  # noqa
from subprocess import PIPE

import cases as table
from wine_prefix import WinePrefix, cached_prefix
from wine_target import WineTarget


class PosixTarget:
    name = "posix"

    def __init__(self, binary, prefix):
        self.binary, self.prefix = os.path.abspath(binary), prefix

    def command(self, case):
        return [self.binary] + case.args

    def env(self, case):
        return {**os.environ, "WINEPREFIX": self.prefix.path, **case.env}

    newline = b"\n"
    terminal_text = staticmethod(lambda shown: shown)


def run(target, case, cwd):
    """(stdout, stderr, exit status) of one case."""
    if case.terminal:
        return run_on_terminal(target, case, cwd)
    stdout = PIPE
    if case.stdout_path == table.CLOSED_PIPE:
        reader, stdout = os.pipe()
        os.close(reader)  # before the tool starts, so that no write can find a reader
    elif case.stdout_path:
        stdout = os.open(case.stdout_path, os.O_WRONLY)
    with tempfile.TemporaryFile() as stdin:
        stdin.write(case.stdin)
        stdin.seek(0)
        try:
            proc = subprocess.run(target.command(case), cwd=cwd, env=target.env(case),
                                  stdin=stdin if case.stdin_file else None,
                                  input=None if case.stdin_file else case.stdin,
                                  stdout=stdout, stderr=PIPE, timeout=60)
        finally:
            if stdout != PIPE:
                os.close(stdout)
    return proc.stdout or b"", proc.stderr, proc.returncode


def run_on_terminal(target, case, cwd):
    # A raw terminal: no echo, no newline translation. Each line is typed
    # only once its prompt shows, as a person would wait for it.
    master, slave = pty.openpty()
    tty.setraw(slave)
    with subprocess.Popen(target.command(case), cwd=cwd, env=target.env(case), stdin=slave,
                          stdout=slave, stderr=PIPE) as proc:
        os.close(slave)
        try:
            shown = b""
            for prompt, line in case.terminal:
                shown = read_terminal(master, shown, prompt, target.terminal_text)
                os.write(master, line)
            shown = read_terminal(master, shown, None, target.terminal_text)
            proc.wait(timeout=60)
        finally:
            proc.kill()
            os.close(master)
        return target.terminal_text(shown), proc.stderr.read(), proc.returncode


def read_terminal(master, shown, until, render):
    """`shown` and what follows on the terminal, until `until` shows on it
    (None: until no process has it open). Raises TimeoutError if it does not."""
    deadline = time.monotonic() + 30
    while until is None or until not in render(shown):
        try:
            ready = select.select([master], [], [], max(0, deadline - time.monotonic()))[0]
            chunk = os.read(master, 65536) if ready else None
        except OSError:  # EIO: no process has the terminal open any more
            chunk = b""
        if chunk == b"" and until is None:
            return shown
        if not chunk:
            raise TimeoutError(f"waited for {until!r} on the terminal; it shows {shown!r}")
        shown += chunk
    return shown


def check(target, case, cwd, scratch_dos):
    """The problems of one case's run, if any."""
    want = case.out.replace(b"{scratch}", scratch_dos).replace(b"\n", target.newline)
    try:
        out, err, status = run(target, case, cwd)
    except (OSError, subprocess.SubprocessError) as error:
        return [repr(error)]
    problems = [f"stdout {out!r:.300}\n      want {want!r:.300}"] * (out != want)
    problems += [f"status {status}, want {case.status}"] * (status != case.status)
    return problems + [f"stderr {err!r:.300}"] * bool(err)


def run_cases(target, cases, prefix, scratch):
    """The number of checks made and the names of those that failed."""
    failures, registry = [], dict(prefix.exported)
    for case in cases:
        cwd = case.cwd.replace("{prefix}", prefix.path).replace("{scratch}", scratch)
        os.makedirs(cwd, exist_ok=True)
        problems = check(target, case, cwd, scratch.replace("/", "\\").encode())
        for key, values in case.registry_after.items():
            registry.update({(key.lower(), (value or "").lower()): ("REG_SZ", data)
                             for value, data in values.items()})
        if problems:
            failures.append(case.name)
            print(f"FAIL {target.name}: {case.name}\n    " + "\n    ".join(problems))
    if not any(case.args and case.args[0][:2].lower() == "-w" for case in cases):
        return len(cases), failures
    # Every write must be what Wine itself reads back, and nothing else may
    # have changed.
    actual = prefix.export(table.CHECKED_KEYS)
    wrong = [e for e in sorted(set(actual) | set(registry)) if actual.get(e) != registry.get(e)]
    for entry in wrong:
        print(f"FAIL {target.name}: registry {entry}: {actual.get(entry)!r}, "
              f"want {registry.get(entry)!r}")
    return len(cases) + 1, failures + ["registry contents"] * bool(wrong)


def selected(case, build, patterns):
    return ((case.only or build) == build and (case.raw is None or build == "wine") and
            (not patterns or any(p in case.name or fnmatch.fnmatchcase(case.name, p)
                                 for p in patterns)))


def main():
    parser = argparse.ArgumentParser(description="Runs the black-box cases against one build.")
    parser.add_argument("build", choices=("posix", "wine"))
    parser.add_argument("programs", nargs="+", metavar="PROGRAM",
                        help="posix: BINARY; wine: TANDOR_EXE LAUNCH_EXE (raw command lines)")
    parser.add_argument("-k", dest="patterns", action="append", metavar="PATTERN",
                        help="only the cases whose name contains PATTERN or matches it as a "
                        "shell wildcard (* ? [...]); may be given more than once")
    parser.add_argument("--list", action="store_true", help="list the cases that would run")
    args = parser.parse_args()
    if len(args.programs) != {"posix": 1, "wine": 2}[args.build]:
        parser.error("posix takes BINARY, wine takes TANDOR_EXE LAUNCH_EXE")
    cases = [case for case in table.CASES if selected(case, args.build, args.patterns)]
    if args.list or not cases:
        print("\n".join(case.name for case in cases) or "no case matches")
        return 0 if cases else 2
    if not (shutil.which("wine") and shutil.which("wineserver")):
        print("skipped: the black-box suite needs Wine (apt-get install wine wine64)")
        return 77  # CTest's SKIP_RETURN_CODE
    scratch = os.path.realpath(tempfile.mkdtemp(prefix="tandor-bb-"))
    prefix = WinePrefix(os.path.join(scratch, "prefix"))
    try:
        prefix.copy_from(cached_prefix(table.FIXTURES, table.CHECKED_KEYS))
        target = (PosixTarget(*args.programs, prefix) if args.build == "posix"
                  else WineTarget(*args.programs, prefix, scratch))
        checks, failures = run_cases(target, cases, prefix, scratch)
    finally:
        prefix.stop_server()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
