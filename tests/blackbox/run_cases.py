#!/usr/bin/env python3
# Runs the black-box case table (cases.py) against one build of the tool: the
# POSIX binary, or tandor.exe under Wine. Each run has a private scratch folder
# with a copy of a Wine prefix that holds the registry fixtures
# (wine_prefix.py); at the end of a run with a rewrite, Wine's own
# `reg export` checks the registry. Prints each failure, then "N passed,
# N failed" (cases); exits with 1 on a failure, 77 (skipped) without Wine.
import argparse, contextlib, fnmatch, os, pathlib, pty, re, select, shutil, subprocess  # noqa
import sys, tempfile, tty  # noqa: E401
from subprocess import DEVNULL, PIPE

import cases as table
from wine_prefix import WinePrefix, cached_prefix, dos_path


# The command that runs the tool with `args` (or the Windows command line
# `raw`) with `programs`: [BINARY], or [TANDOR_EXE, LAUNCH_EXE]. `wine prog
# args` would build the Windows command line from Unix arguments, quoted its
# own way, so the tool's own splitting could never be tested:
# tandor_launch.exe (tests/wine/launch.cc) runs the exact bytes of a file
# (`name` in `scratch`) instead, in the ANSI code page Wine picks for the C
# and most Western locales. Arguments are quoted as the Microsoft C runtime
# splits them, the rules the tool follows too.
def command(args, raw, programs, scratch, name="cmdline"):
    if len(programs) == 1:
        return [os.path.abspath(programs[0]), *args]
    line = raw if raw is not None else subprocess.list2cmdline(args)
    path = pathlib.Path(scratch, name)
    path.write_bytes((f'"{dos_path(programs[0])}"' + (" " + line if line else "")).encode("cp1252"))
    return ["wine", os.path.abspath(programs[1]), dos_path(path)]


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
            feed = dict(stdin=stdin) if case.stdin_file else dict(input=case.stdin)
            proc = subprocess.run(**how, **feed, stdout=stdout, stderr=PIPE, timeout=60)
        finally:
            if stdout != PIPE:
                os.close(stdout)
    return proc.stdout or b"", proc.stderr, proc.returncode


# The POSIX build gets the terminal as a shell leaves it, echoing typed lines
# and showing each '\n' as CR LF; Wine's console does that itself, over a raw
# terminal. Each line is typed only once its prompt shows, as a person would
# wait for it; a prompt that does not show leaves the rest untyped.
def run_on_terminal(case, how, wine):
    master, slave = pty.openpty()
    if wine:
        tty.setraw(slave)
    with subprocess.Popen(**how, stdin=slave, stdout=slave, stderr=PIPE) as proc:
        os.close(slave)
        shown, dialogue = b"", list(case.terminal)
        try:
            while True:
                while dialogue and dialogue[0][0] in screen(shown):
                    os.write(master, dialogue.pop(0)[1])
                if not select.select([master], [], [], 30)[0]:
                    raise TimeoutError(f"the terminal shows {shown!r}, then nothing for 30 s")
                chunk = b""
                with contextlib.suppress(OSError):  # EIO: no process has it open any more
                    chunk = os.read(master, 65536)
                if not chunk:
                    break
                shown += chunk
            proc.wait(timeout=60)
        finally:
            proc.kill()
            os.close(master)
        return screen(shown), proc.stderr.read(), proc.returncode


# What a terminal shows of its output. Wine's console moves the cursor over
# blanks (shown as spaces) and sends other control sequences (dropped).
def screen(shown):
    shown = re.sub(rb"\x1b\[(\d*)C", lambda move: b" " * int(move[1] or 1), shown)
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", shown)


# `out` as a run writes it: "{scratch}" filled in, each '\n' as CR LF where
# the Windows build or a terminal writes it.
def expected(out, crlf, scratch):
    out = out.replace(b"{scratch}", scratch.replace("/", "\\").encode())
    return out.replace(b"\n", b"\r\n" if crlf else b"\n")


# The problems of one case's run, if any, and the values it must leave
# (case.written). Of a wrong output they show the part from a little before
# its first wrong byte.
# Debian's Wine 8 starts a program without a preloader, and about one start
# in 8,000 fails: address-space randomization has put the loader's heap over
# the page Windows keeps at 0x7ffe0000. Wine then exits with status 1 before
# the program runs (the launcher, for its child, with 121) and says so on
# `err:virtual` alone, which the runs keep on. Such a run is made again.
WINE_NOT_STARTED = b"failed to map the shared user data"


def check(case, how, programs, scratch):
    wine = len(programs) == 2
    want = expected(case.out, wine or case.terminal, scratch)
    written = [case.written] if case.written else []
    how = dict(how, args=command(case.args, case.raw, programs, scratch))
    try:
        for _ in range(3):
            out, err, status = run(case, how, wine)
            if not (wine and status in (1, 121) and not out and WINE_NOT_STARTED in err):
                break
    except (OSError, subprocess.SubprocessError) as error:
        return [repr(error)], written
    start = max(0, len(os.path.commonprefix([out, want])) - 40)
    problems = [f"stdout from byte {start}: {out[start:]!r:.300}\n"
                f"      want {want[start:]!r:.300}"] * (out != want)
    problems += [f"status {status}, want {case.status}"] * (status != case.status)
    return problems + [f"stderr {err!r:.300}"] * bool(err), written


# The problems of a race, `case.race` runs started at once, and the value it
# must leave: each run ends 0 or 2 with that status's message, one at least
# ends 0, and the value holds the change of exactly the runs that ended 0.
def race(case, how, programs, scratch):
    runs = [[arg.format(i=i) for arg in case.args] for i in range(case.race)]
    procs = [subprocess.Popen(args=command(args, None, programs, scratch, f"cmdline{i}"), **how,
                              stdin=DEVNULL, stdout=PIPE, stderr=PIPE)
             for i, args in enumerate(runs)]
    endings = {status: expected(out, len(programs) == 2, scratch)
               for status, out in ((0, table.SUCCESS), (2, table.WRITE_FAILED))}
    key, name, data = case.written
    problems = []
    for args, proc in zip(runs, procs):
        out, err = proc.communicate(timeout=120)
        if endings.get(proc.returncode) != out or err:
            problems.append(f"{args[2:]}: status {proc.returncode}, stdout {out!r}, stderr {err!r}")
        elif proc.returncode == 0:
            data = data.replace(args[2], args[3])
    problems += ["no run ended with 0"] * all(proc.returncode for proc in procs)
    return problems, [(key, name, data)]


# The problems of the registry after a run: every value in `written` (key,
# value name, data) must be what Wine itself reads back, and nothing else
# under the checked keys may have changed.
def registry_problems(prefix, before, written):
    want = dict(before)
    for key, name, data in written:
        name = f'"{name}"' if name is not None else "@"
        want[(key.lower(), name.lower())] = '"' + re.sub(r'([\\"])', r"\\\1", data) + '"'
    got = prefix.export(table.CHECKED_KEYS)
    return [f"registry {entry}: {got.get(entry)!r}, want {want.get(entry)!r}"
            for entry in sorted(set(got) | set(want), key=str) if got.get(entry) != want.get(entry)]


# Without -k every case matches: "" is in every name.
def selected(case, build, patterns):
    return ((case.only or build) == build and (case.raw is None or build == "wine") and
            any(p in case.name or fnmatch.fnmatchcase(case.name, p) for p in patterns or [""]))


def main():
    parser = argparse.ArgumentParser(description="Runs the black-box cases against one build.")
    parser.add_argument("build", choices=("posix", "wine"))
    parser.add_argument("programs", nargs="+", help="posix: BINARY; wine: TANDOR_EXE LAUNCH_EXE")
    parser.add_argument("-k", dest="patterns", action="append", metavar="PATTERN",
                        help="only cases whose name holds PATTERN or matches it (* ? [...])")
    parser.add_argument("--list", action="store_true", help="list the cases that would run")
    args = parser.parse_args()
    wine = args.build == "wine"
    if len(args.programs) != 1 + wine:
        parser.error("posix takes BINARY, wine takes TANDOR_EXE LAUNCH_EXE")
    names = [case.name for case in table.CASES]
    if shared := sorted({name for name in names if names.count(name) > 1}):
        parser.error(f"cases.py: cases share a name: {shared}")
    cases = [case for case in table.CASES if selected(case, args.build, args.patterns)]
    if args.list or not cases:
        print("\n".join(case.name for case in cases) or "no case matches")
        return 0 if cases else 2
    if not (shutil.which("wine") and shutil.which("wineserver")):
        print("skipped: the black-box suite needs Wine (apt-get install wine wine64)")
        return 77  # CTest's SKIP_RETURN_CODE
    scratch = os.path.realpath(tempfile.mkdtemp(prefix="tandor-bb-"))
    prefix = WinePrefix(os.path.join(scratch, "prefix"))
    failures, written, registry = [], [], []

    def report(name, problems):
        if problems:
            failures.append(name)
            print(f"FAIL {args.build}: {name}\n    " + "\n    ".join(problems))
    try:
        before = prefix.copy_from(cached_prefix(table.FIXTURES, table.CHECKED_KEYS))
        if wine:
            prefix.start_server()  # for the whole run, which saves about a second a case
            # The key's security lasts as long as this server.
            prefix.wine(os.path.join(os.path.dirname(args.programs[1]), "tandor_read_only_key.exe"),
                        table.REFUSED.removeprefix("HKEY_LOCAL_MACHINE\\"))
        for case in cases:
            cwd = case.cwd.replace("{prefix}", prefix.path).replace("{scratch}", scratch)
            os.makedirs(cwd, exist_ok=True)
            # A case's environment is for the POSIX build; under Wine the tool reads none.
            how = dict(cwd=cwd, env={**prefix.env, **case.env})
            if case.server:
                prefix.start_server()
            problems, leaves = (race if case.race else check)(case, how, args.programs, scratch)
            written += leaves
            if case.server:
                prefix.stop_server()
            report(case.name, problems)
        # Only a rewrite may change the registry, and Wine's reg export takes
        # seconds: checked after a run that has one, whatever the others did.
        if any(case.args and case.args[0] == "-w" for case in cases):
            registry = registry_problems(prefix, before, written)
            report("the registry after the run", registry)
    finally:
        prefix.stop_server()
        shutil.rmtree(scratch, ignore_errors=True)
    failed = len(failures) - bool(registry)
    print(f"{len(cases) - failed} passed, {failed} failed" +
          "; the registry check failed" * bool(registry))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
