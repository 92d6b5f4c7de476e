#!/usr/bin/env python3
# Runs the black-box case table (cases.py) against one build of the tool: the
# POSIX binary, or tandor.exe under Wine. Each run has a private scratch folder
# with a copy of a Wine prefix that holds the registry fixtures
# (wine_prefix.py); after cases that write the registry, Wine's own `reg
# export` checks it. Prints each failure, then "N passed, N failed"; exits
# with 1 on a failure, 77 (skipped) without Wine.
import argparse, fnmatch, os, pty, re, select, shutil, subprocess, sys, tempfile, tty  # noqa
from subprocess import PIPE

import cases as table
from wine_prefix import WinePrefix, cached_prefix, dos_path


# A function giving the command that runs a case's command line through
# tandor_launch.exe (tests/wine/launch.cc). `wine prog args` would build the
# Windows command line from Unix arguments, quoted its own way, so the tool's
# own splitting could never be tested: the launcher gets the exact bytes in a
# file instead, in the ANSI code page Wine picks for the C and most Western
# locales. Arguments are quoted as the Microsoft C runtime splits them, the
# rules the tool follows too.
def wine_command(exe, launcher, scratch):
    program, path = f'"{dos_path(exe)}"', os.path.join(scratch, "cmdline")

    def command(case):
        line = case.raw if case.raw is not None else subprocess.list2cmdline(case.args)
        with open(path, "wb") as f:
            f.write((program + (" " + line if line else "")).encode("cp1252"))
        return ["wine", os.path.abspath(launcher), dos_path(path)]
    return command


# (stdout, stderr, exit status) of one case, whose command, folder and
# environment are in `how`.
def run(case, how, wine):
    if case.terminal:
        return run_on_terminal(case, how, wine)
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
            proc = subprocess.run(**how, stdin=stdin if case.stdin_file else None,
                                  input=None if case.stdin_file else case.stdin,
                                  stdout=stdout, stderr=PIPE, timeout=60)
        finally:
            if stdout != PIPE:
                os.close(stdout)
    return proc.stdout or b"", proc.stderr, proc.returncode


def run_on_terminal(case, how, wine):
    # The POSIX build gets the terminal as a shell leaves it, echoing typed
    # lines and showing each '\n' as CR LF. Wine's console does that itself,
    # over a raw terminal. Each line is typed only once its prompt shows, as
    # a person would wait for it.
    master, slave = pty.openpty()
    if wine:
        tty.setraw(slave)
    with subprocess.Popen(**how, stdin=slave, stdout=slave, stderr=PIPE) as proc:
        os.close(slave)
        try:
            shown = b""
            for prompt, line in case.terminal:
                shown = read_terminal(master, shown, prompt)
                os.write(master, line)
            shown = read_terminal(master, shown, None)
            proc.wait(timeout=60)
        finally:
            proc.kill()
            os.close(master)
        return screen(shown), proc.stderr.read(), proc.returncode


# `shown` and what follows on the terminal, until `until` shows on it (None:
# until no process has it open). Raises TimeoutError if it shows nothing new
# for 30 seconds first.
def read_terminal(master, shown, until):
    while until is None or until not in screen(shown):
        try:
            chunk = os.read(master, 65536) if select.select([master], [], [], 30)[0] else None
        except OSError:  # EIO: no process has the terminal open any more
            chunk = b""
        if chunk == b"" and until is None:
            return shown
        if not chunk:
            raise TimeoutError(f"waited for {until!r} on the terminal; it shows {shown!r}")
        shown += chunk
    return shown


# What a terminal shows of its output. Wine's console moves the cursor over
# blanks (shown as spaces) and sends other control sequences (dropped).
def screen(shown):
    shown = re.sub(rb"\x1b\[(\d*)C", lambda move: b" " * int(move[1] or 1), shown)
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown)


# The problems of one case's run, if any. Of a wrong output they show the
# part from a little before its first wrong byte.
def check(case, how, wine, want):
    try:
        out, err, status = run(case, how, wine)
    except (OSError, subprocess.SubprocessError) as error:
        return [repr(error)]
    start = max(0, len(os.path.commonprefix([out, want])) - 40)
    problems = [f"stdout from byte {start}: {out[start:]!r:.300}\n"
                f"      want {want[start:]!r:.300}"] * (out != want)
    problems += [f"status {status}, want {case.status}"] * (status != case.status)
    return problems + [f"stderr {err!r:.300}"] * bool(err)


# The problems of the registry after `cases`: every write must be what Wine
# itself reads back, and nothing else under the checked keys may have changed.
def registry_problems(prefix, before, cases):
    want = dict(before)
    for key, name, data in (case.written for case in cases if case.written):
        name = f'"{name}"' if name is not None else "@"
        want[(key.lower(), name.lower())] = '"' + re.sub(r'([\\"])', r"\\\1", data) + '"'
    got = prefix.export(table.CHECKED_KEYS)
    return [f"registry {entry}: {got.get(entry)!r}, want {want.get(entry)!r}"
            for entry in sorted(set(got) | set(want)) if got.get(entry) != want.get(entry)]


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
    wine = args.build == "wine"
    if len(args.programs) != 1 + wine:
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
    failures = []
    try:
        before = prefix.copy_from(cached_prefix(table.FIXTURES, table.CHECKED_KEYS))
        command = lambda case: [os.path.abspath(args.programs[0]), *case.args]  # noqa: E731
        if wine:
            command = wine_command(*args.programs, scratch)
            prefix.start_server()  # for the whole run, which saves about a second a case
        for case in cases:
            cwd = case.cwd.replace("{prefix}", prefix.path).replace("{scratch}", scratch)
            os.makedirs(cwd, exist_ok=True)
            # A case's environment is for the POSIX build; under Wine the tool reads none.
            how = dict(args=command(case), cwd=cwd, env={**prefix.env, **case.env})
            want = case.out.replace(b"{scratch}", scratch.replace("/", "\\").encode())
            newline = b"\r\n" if wine or case.terminal else b"\n"
            problems = check(case, how, wine, want.replace(b"\n", newline))
            if problems:
                failures.append(case.name)
                print(f"FAIL {args.build}: {case.name}\n    " + "\n    ".join(problems))
        checks = len(cases)
        if any((case.args or [""])[0] == "-w" for case in cases):
            checks += 1  # the registry contents
            for problem in registry_problems(prefix, before, cases):
                failures.append(problem)
                print(f"FAIL {args.build}: {problem}")
    finally:
        prefix.stop_server()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{checks - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
