#!/usr/bin/env python3
"""Runs the black-box case table against one build of the tool.

  run_cases.py posix BINARY            the POSIX build, argv as given
  run_cases.py wine TANDOR_EXE LAUNCH_EXE
                                       tandor.exe under Wine, through a launcher
                                       that hands it a raw command line

Both make a throwaway Wine prefix, fill it with the registry fixtures through
Wine's own `reg add`, run every case, then check the registry through Wine's
own `reg export`. Prints one line per failure and closes with
"N passed, N failed"; exits non-zero if anything failed.
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases as table  # noqa: E402
from wine_prefix import WinePrefix  # noqa: E402


def crlf(data):
    return data.replace(b"\n", b"\r\n")


class PosixTarget:
    name = "posix"

    def __init__(self, binary, prefix):
        self.binary = os.path.abspath(binary)
        self.prefix = prefix

    def run(self, case, cwd, env):
        run_env = dict(os.environ, WINEPREFIX=self.prefix.path)
        run_env.update(env)
        with tempfile.TemporaryFile() as stdin, tempfile.TemporaryFile() as stdout:
            stdin.write(case.stdin)
            stdin.seek(0)
            target = open(case.stdout_path, "wb") if case.stdout_path else stdout
            try:
                proc = subprocess.run([self.binary] + case.args, cwd=cwd, env=run_env,
                                      input=None if case.stdin_file else case.stdin,
                                      stdin=stdin if case.stdin_file else None,
                                      stdout=target, stderr=subprocess.PIPE, timeout=60)
            finally:
                if target is not stdout:
                    target.close()
            stdout.seek(0)
            return stdout.read(), proc.stderr, proc.returncode

    def expected(self, out):
        return out


class WineTarget:
    name = "wine"

    def __init__(self, exe, launcher, prefix):
        from wine_target import WineRunner, quote_args
        self.quote_args = quote_args
        self.runner = WineRunner(exe, launcher, prefix.path)

    def run(self, case, cwd, env):
        cmdline = case.raw if case.raw is not None else self.quote_args(case.args)
        return self.runner.run(cmdline, case.stdin, cwd, env, stdin_file=case.stdin_file)

    def expected(self, out):
        return crlf(out)


def resolve_cwd(case, prefix):
    cwd = case.cwd.replace("{prefix}", prefix.path)
    os.makedirs(cwd, exist_ok=True)
    return cwd


def describe(data):
    text = repr(data)
    return text if len(text) < 300 else text[:300] + "..."


def run_cases(target, prefix):
    failures = []
    passed = 0
    expected_registry = prefix.export(table.CHECKED_KEYS)
    if target.name == "posix":
        prefix.stop_server()  # the POSIX build refuses to write while it runs
    for case in table.CASES:
        if case.only and case.only != target.name:
            continue
        if case.raw is not None and target.name != "wine":
            continue
        out, err, status = target.run(case, resolve_cwd(case, prefix), case.env)
        want = target.expected(case.out)
        problems = []
        if out != want:
            problems.append(f"stdout {describe(out)}\n      want {describe(want)}")
        if status != case.status:
            problems.append(f"status {status}, want {case.status}")
        if err:
            problems.append(f"stderr {describe(err)}")
        for key, values in case.registry_after.items():
            for value, data in values.items():
                expected_registry[(key.lower(), (value or "").lower())] = ("REG_SZ", data)
        if problems:
            failures.append(case.name)
            print(f"FAIL {target.name}: {case.name}\n    " + "\n    ".join(problems))
        else:
            passed += 1
    # Every write must be what Wine itself reads back, and nothing else may
    # have changed.
    actual_registry = prefix.export(table.CHECKED_KEYS)
    if actual_registry != expected_registry:
        failures.append("registry contents")
        for entry in sorted(set(actual_registry) | set(expected_registry)):
            if actual_registry.get(entry) != expected_registry.get(entry):
                print(f"FAIL {target.name}: registry {entry}: "
                      f"{actual_registry.get(entry)!r}, want {expected_registry.get(entry)!r}")
    else:
        passed += 1
    return passed, failures


def main(argv):
    if len(argv) < 3 or argv[1] not in ("posix", "wine"):
        print(__doc__)
        return 2
    if shutil.which("wine") is None:
        print("wine is not installed: the black-box suite needs it (apt-get install wine wine64)")
        return 1
    scratch = tempfile.mkdtemp(prefix="tandor-bb-")
    prefix = WinePrefix(os.path.join(scratch, "prefix"))
    try:
        prefix.create(table.FIXTURES)
        if argv[1] == "posix":
            target = PosixTarget(argv[2], prefix)
            passed, failures = run_cases(target, prefix)
        else:
            prefix.start_server()
            target = WineTarget(argv[2], argv[3], prefix)
            passed, failures = run_cases(target, prefix)
    finally:
        prefix.stop_server()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{passed} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
