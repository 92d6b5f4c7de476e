#!/usr/bin/env python3
# Runs the black-box case table (cases.py) against one build of the tool: the
# POSIX binary, or tandor.exe under Wine. Each run has a private scratch folder
# with a copy of a Wine prefix that holds the registry fixtures, made once
# with Wine's own `reg add` and kept in a per-user cache, keyed by the
# fixtures and Wine's version; at the end of a run with a rewrite, Wine's own
# `reg export` checks the registry. Prints each failure, then "N passed,
# N failed" (cases); exits with 1 on a failure, 77 (skipped) without Wine.
# A registry key is named as `reg` takes it, root in full.
import argparse, contextlib, fcntl, hashlib, os, pathlib, pickle, re  # noqa: E401
import resource, shutil, subprocess, sys, tempfile, time  # noqa: E401
from subprocess import DEVNULL, PIPE

import cases as table

BEFORE = "tandor-before.pickle"  # the export of the checked keys, beside the registry files
VALUE_LINE = re.compile(r'(@|"(?:[^"\\]|\\.)*")=(.*)')  # name (@: the default value) = data


# The path through Wine's Z: drive, which maps the Unix root.
def dos_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class WinePrefix:
    # Debian's Wine keeps its server's lock and socket in a folder under
    # TMPDIR (upstream's, under /tmp/.wine-<uid>), and the POSIX tool makes
    # that folder as it writes: the prefix is used with a TMPDIR of its own
    # (by default "<path>.tmp" beside it), so that nothing is left in /tmp.
    def __init__(self, path, tmpdir=None):
        self.path = path
        # Wine's messages stay off but for its memory manager's errors, among
        # them the one that says it could not start a program (check).
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all,err+virtual",
                        TMPDIR=tmpdir or path + ".tmp")
        os.makedirs(self.env["TMPDIR"], exist_ok=True)

    # Copies the cache entry `entry` here and gives the export of its checked
    # keys. Wine's own files (hundreds of megabytes) are hard links: Wine
    # replaces them only when it updates a prefix, and a new Wine has a cache
    # entry of its own. Registry files are each run's own copies: Wine
    # writes a file with a second name in place, and no run locks another's.
    def copy_from(self, entry):
        def link_or_copy(source, target):
            if not source.endswith(".reg"):
                with contextlib.suppress(OSError):  # another file system
                    return os.link(source, target)
            shutil.copy2(source, target)
        shutil.copytree(entry, self.path, symlinks=True, copy_function=link_or_copy)
        return pickle.loads(pathlib.Path(entry, BEFORE).read_bytes())

    def wine(self, *args):
        # Output goes to a file, not a pipe: Wine's helper processes
        # (services.exe and friends) outlive the command and would hold a
        # pipe open, so waiting for its end would hang. Wine now and then
        # fails to start a program on a loaded machine ("Internal error", see
        # tests/wine/launch.cc): it is tried again.
        log = pathlib.Path(self.env["TMPDIR"], "wine.log")
        for _ in range(3):
            with log.open("wb") as out:
                if not subprocess.run(["wine", *args], env=self.env, stdin=DEVNULL, stdout=out,
                                      stderr=subprocess.STDOUT, timeout=300).returncode:
                    return
            if b"Internal error" not in log.read_bytes():
                break
        raise RuntimeError(f"wine {' '.join(args)} failed: {log.read_bytes()!r}")

    # Waits until the server has gone: one still on its way out would refuse
    # the next.
    def stop_server(self):
        self.server("-k")
        self.server("-w")

    # "-p": a server that stays when its last program ends. It backs off
    # while another process holds its lock.
    def server(self, flag):
        subprocess.run(["wineserver", flag], env=self.env, stderr=DEVNULL, timeout=60)

    # {(key, value name), lower-cased: data} for the values under `keys`, each
    # as `reg export` writes it: `@` or `"Name"`, and `"text"` or
    # `dword:0000002a`.
    def export(self, keys):
        entries, out = {}, os.path.join(self.env["TMPDIR"], "export.reg")
        for key in keys:
            self.wine("reg", "export", key, dos_path(out), "/y")
            # Joins wrapped hex data.
            text = re.sub(r"\\\n *", "", pathlib.Path(out).read_text(encoding="utf-16"))
            for line in text.splitlines():
                if line.startswith("[") and line.endswith("]"):
                    section = line[1:-1].lower()
                elif value := VALUE_LINE.fullmatch(line):
                    entries[(section, value[1].lower())] = value[2]
        return entries


# The cache entry for `fixtures`, a prefix made now if there is none yet:
# fixtures are {key: {value name (None: the default value): data or (type, data)}}.
def cached_prefix(fixtures, keys):
    version = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout
    root = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                        "tandor-blackbox")
    entry = os.path.join(root, hashlib.sha256(repr((fixtures, keys, version)).encode()).hexdigest())
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # parallel runs wait for the one that makes it
        if not os.path.isdir(entry):
            prefix = WinePrefix(entry + ".new")
            shutil.rmtree(prefix.path, ignore_errors=True)  # left by a run that was killed
            prefix.wine("wineboot", "-i")
            for key, values in fixtures.items():
                for name, data in values.items():
                    kind, data = data if isinstance(data, tuple) else ("REG_SZ", data)
                    name = ["/v", name] if name is not None else ["/ve"]
                    prefix.wine("reg", "add", key, *name, "/t", kind, "/d", data, "/f")
            pathlib.Path(prefix.path, BEFORE).write_bytes(pickle.dumps(prefix.export(keys)))
            prefix.stop_server()  # the files on disk are what the POSIX build reads
            shutil.rmtree(prefix.env["TMPDIR"])
            os.rename(prefix.path, entry)  # a whole prefix, or none
        os.utime(entry)  # its last use
        # Each entry takes about 700 MB: one of other fixtures or another Wine
        # goes an hour after its last use (each suite of a checkout may have
        # its own, and a run may still be copying one).
        for old in os.scandir(root):
            if old.is_dir() and time.time() - old.stat().st_mtime > 3600:
                shutil.rmtree(old.path)
    return entry


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


# (stdout, stderr, exit status) of one case, whose command, folder,
# environment and limits are in `how`.
def run(case, how, scratch):
    stdout = PIPE
    if case.stdout_closed:
        reader, stdout = os.pipe()
        os.close(reader)  # before the tool starts, so that no write can find a reader
    # A held-up run waits for this lock, as for another rewrite's.
    with open(fill("{prefix}/system.reg", scratch)) as registry:
        if case.held_up:
            fcntl.flock(registry, fcntl.LOCK_EX)
        with subprocess.Popen(**how, stdin=PIPE, stdout=stdout, stderr=PIPE) as proc:
            if stdout != PIPE:
                os.close(stdout)
            try:
                if case.held_up:
                    start_server_meanwhile(proc, case, scratch)
                fcntl.flock(registry, fcntl.LOCK_UN)
                out, err = proc.communicate(case.stdin, timeout=60)
            finally:
                proc.kill()  # after a timeout
    return out or b"", err, proc.returncode


# A rewrite held up halfway (case.held_up) waits for the lock of system.reg,
# where its value is. Once it holds a server lock, the case's server starts,
# and has half a second to load the registry before the rewrite goes on.
def start_server_meanwhile(proc, case, scratch):
    deadline = time.monotonic() + 10
    while f"POSIX  ADVISORY  WRITE {proc.pid} " not in pathlib.Path("/proc/locks").read_text():
        if time.monotonic() > deadline:
            raise TimeoutError("the rewrite waited for the file without a server lock")
        time.sleep(0.002)
    WinePrefix(fill("{prefix}", scratch), fill(case.held_up, scratch)).server("-p")
    time.sleep(0.5)


# `text` with the run's scratch folder and its prefix, {scratch}/prefix.
def fill(text, scratch):
    return text.replace("{prefix}", scratch + "/prefix").replace("{scratch}", scratch)


# Starts what runs beside a case, as its fields say, and ends it after the
# run, with the server a held-up run meets. A copy of /bin/sleep is in its
# folder, with its name, once Popen returns: exec has taken place.
@contextlib.contextmanager
def beside(case, prefix, scratch):
    place = os.stat(prefix.path)
    server_folder = f"server-{place.st_dev:x}-{place.st_ino:x}"  # below a folder of TMPDIR
    with contextlib.ExitStack() as stack:
        if case.held_up:
            stack.callback(WinePrefix(prefix.path, fill(case.held_up, scratch)).stop_server)
        if case.server_lock:
            # Where upstream's Wine keeps it; Debian's names the folder otherwise.
            folder = f"{scratch}/.wine-{os.getuid()}/{server_folder}"
            os.makedirs(folder)
            lock = stack.enter_context(open(folder + "/lock", "w"))
            fcntl.lockf(lock, fcntl.LOCK_EX, 1, 0)  # the byte a server locks
        if case.beside:
            name, cwd = case.beside
            cwd = fill(cwd, scratch).replace("{server}", server_folder)
            os.makedirs(cwd, exist_ok=True)
            program = shutil.copy("/bin/sleep", os.path.join(scratch, name))
            sleeping = stack.enter_context(subprocess.Popen([program, "600"], cwd=cwd, env={}))
            stack.callback(sleeping.kill)
        yield


# Debian's Wine 8 starts a program without a preloader, and about one start
# in 8,000 fails: address-space randomization has put the loader's heap over
# the page Windows keeps at 0x7ffe0000. Wine then exits with status 1 before
# the program runs (the launcher, for its child, with 121) and says so on
# `err:virtual` alone, which the runs keep on. Such a run is made again.
WINE_NOT_STARTED = b"failed to map the shared user data"


# The problems of one case's run, if any. Of a wrong output they show the
# part from a little before its first wrong byte.
def check(case, how, programs, scratch, written):
    wine = len(programs) == 2
    want = case.out.replace(b"\n", b"\r\n") if wine else case.out
    how = dict(how, args=command(case.args, case.raw, programs, scratch))
    try:
        for _ in range(3):
            out, err, status = run(case, how, scratch)
            if not (wine and status in (1, 121) and not out and WINE_NOT_STARTED in err):
                break
    except (OSError, subprocess.SubprocessError) as error:  # a timeout among them
        return [repr(error)]
    start = max(0, len(os.path.commonprefix([out, want])) - 40)
    problems = [f"stdout from byte {start}: {out[start:]!r:.300}\n"
                f"      want {want[start:]!r:.300}"] * (out != want)
    problems += [f"status {status}, want {case.status}"] * (status != case.status)
    return problems + [f"stderr {err!r:.300}"] * bool(err)


# The problems of a race, `case.race` rewrites started at once; the values
# it must leave go into `written`. Each run ends with a status the case
# allows and that status's message, one at least ends 0, and each value, its
# data in FIXTURES before, holds the change of exactly the runs on it that
# ended 0.
def race(case, how, programs, scratch, written):
    runs = [[arg.format(i=i) for arg in case.args] for i in range(case.race)]
    with write_turn_held(programs, how["env"]) if case.turn_held else contextlib.nullcontext():
        procs = [subprocess.Popen(args=command(args, None, programs, scratch, f"cmdline{i}"),
                                  **how, stdin=DEVNULL, stdout=PIPE, stderr=PIPE)
                 for i, args in enumerate(runs)]
    endings = {status: out.replace(b"\n", b"\r\n") if len(programs) == 2 else out
               for status, out in ((0, table.SUCCESS), (2, table.WRITE_FAILED))
               if status <= case.status}
    problems = []
    for args, proc in zip(runs, procs):
        out, err = proc.communicate(timeout=120)
        key, name = args[1].rsplit("\\", 1)
        if endings.get(proc.returncode) != out or err:
            problems.append(f"{args[1:]}: status {proc.returncode}, stdout {out!r}, stderr {err!r}")
        elif proc.returncode == 0:
            written[key, name] = written.get((key, name), table.FIXTURES[key][name]).replace(
                args[2], args[3])
    # With the turn held, runs read the old value together: some must find it changed.
    got = {proc.returncode for proc in procs}
    return problems + [f"ended {sorted(got)}"] * (0 not in got or case.turn_held and 2 not in got)


# Holds the Windows build's write turn (tests/wine/hold_write_turn.cc) from
# before the block to three seconds after it took the turn: time enough for
# the runs the block starts to read their value and wait for the turn.
@contextlib.contextmanager
def write_turn_held(programs, env):
    helper = os.path.join(os.path.dirname(programs[1]), "tandor_hold_write_turn.exe")
    with subprocess.Popen(["wine", helper], env=env, stderr=PIPE) as holder:
        if holder.stderr.readline().strip() != b"held":
            raise RuntimeError("the write turn could not be taken")
        yield


# The problems of the registry after a run: every value in `written`
# ({(key, value name): data}) must be what Wine itself reads back, and nothing
# else under the checked keys may have changed.
def registry_problems(prefix, before, written):
    want = dict(before)
    for (key, name), data in written.items():
        name = f'"{name}"' if name is not None else "@"
        want[(key.lower(), name.lower())] = '"' + re.sub(r'([\\"])', r"\\\1", data) + '"'
    got = prefix.export(table.CHECKED_KEYS)
    return [f"registry {entry}: {got.get(entry)!r}, want {want.get(entry)!r}"
            for entry in sorted(set(got) | set(want), key=str) if got.get(entry) != want.get(entry)]


# A preexec_fn that sets the resource limits `limits`: {"FSIZE": bytes}.
def limited(limits):
    return lambda: [resource.setrlimit(getattr(resource, "RLIMIT_" + name), (size, size))
                    for name, size in limits.items()]


# Without -k every case matches: "" is in every name. A sanitized build
# reserves far more address space than a memory limit allows.
def selected(case, args):
    return ((case.only or args.build) == args.build and not (args.sanitized and "AS" in case.limits)
            and any(pattern in case.name for pattern in args.patterns or [""]))


def report(name, problems):
    if problems:
        print(f"FAIL {name}\n    " + "\n    ".join(problems))
    return bool(problems)


def main():
    parser = argparse.ArgumentParser(description="Runs the black-box cases against one build.")
    parser.add_argument("build", choices=("posix", "wine"))
    parser.add_argument("programs", nargs="+", help="posix: BINARY; wine: TANDOR_EXE LAUNCH_EXE")
    parser.add_argument("-k", dest="patterns", action="append", metavar="PATTERN",
                        help="only cases whose name holds PATTERN")
    parser.add_argument("--sanitized", action="store_true", help="BINARY has AddressSanitizer")
    args = parser.parse_args()
    names = [case.name for case in table.CASES]
    if shared := sorted({name for name in names if names.count(name) > 1}):
        parser.error(f"cases.py: cases share a name: {shared}")
    if not (cases := [case for case in table.CASES if selected(case, args)]):
        parser.error("no case matches")
    if not (shutil.which("wine") and shutil.which("wineserver")):
        print("skipped: the black-box suite needs Wine (apt-get install wine wine64)")
        return 77  # CTest's SKIP_RETURN_CODE
    scratch = os.path.realpath(tempfile.mkdtemp(prefix="tandor-bb-"))
    prefix = WinePrefix(fill("{prefix}", scratch), tmpdir=scratch)
    # What the rewrites must leave: {(key, value name): data}, and the races'.
    written = {case.written[:2]: case.written[2] for case in cases if case.written}
    failed, registry = 0, []
    try:
        before = prefix.copy_from(cached_prefix(table.FIXTURES, table.CHECKED_KEYS))
        if args.build == "wine":
            prefix.server("-p")  # for the whole run, which saves about a second a case
            # The key's security lasts as long as this server. Its first
            # program starts Wine's background services, which keep the
            # standard handles they inherit open for the server's life:
            # they get a file (WinePrefix.wine), not a case's pipes.
            prefix.wine(os.path.join(os.path.dirname(args.programs[1]), "tandor_read_only_key.exe"),
                        table.REFUSED.removeprefix("HKEY_LOCAL_MACHINE\\"))
        for case in cases:
            # A case's limits are for the POSIX build.
            how = dict(cwd=table.CWD, env=prefix.env | case.env, preexec_fn=limited(case.limits))
            with beside(case, prefix, scratch):
                test = race if case.race else check
                problems = test(case, how, args.programs, scratch, written)
            failed += report(f"{args.build}: {case.name}", problems)
        # Only a rewrite may change the registry, and Wine's reg export takes
        # seconds: checked after a run that has one, whatever the others did.
        if any(case.args and case.args[0] == "-w" for case in cases):
            registry = registry_problems(prefix, before, written)
            report("the registry after the run", registry)
    finally:
        prefix.stop_server()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"{len(cases) - failed} passed, {failed} failed" +
          "; the registry check failed" * bool(registry))
    return 1 if failed or registry else 0


if __name__ == "__main__":
    sys.exit(main())
