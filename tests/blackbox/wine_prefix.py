# The Wine prefix of a black-box run: a copy of one that holds the registry
# fixtures, made once with Wine's own `reg add` and kept in a per-user cache,
# keyed by the fixtures and Wine's version; read back only through Wine's own
# `reg export`.
#
# A registry key is named as `reg` takes it, root in full, and may end with
# " /reg:32" or " /reg:64", the view of a 32-bit or a 64-bit program (without
# it, the 64-bit view of Wine's own reg.exe).

import contextlib, fcntl, hashlib, os, pathlib, pickle, re, shutil, subprocess  # noqa: E401
import tempfile, time  # noqa: E401
from subprocess import DEVNULL

BEFORE = "tandor-before.pickle"  # the export of the checked keys, beside the registry files
VALUE_LINE = re.compile(r'(@|"(?:[^"\\]|\\.)*")=(.*)')  # name (@: the default value) = data
NO_SUCH_KEY = "Unable to find the specified registry key"  # what `reg export` says


# The path through Wine's Z: drive, which maps the Unix root.
def dos_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# `key` as `reg` takes it: the path, and the options that name its view.
def reg_key(key):
    path, view, bits = key.partition(" /reg:")
    return path, ["/reg:" + bits] if view else []


class WinePrefix:
    # Wine's server keeps its lock and socket in a folder under TMPDIR, and
    # the POSIX tool makes that folder as it writes: the prefix has a TMPDIR
    # of its own, "<path>.tmp" beside it, so that nothing is left in /tmp.
    def __init__(self, path):
        self.path = path
        # Wine's messages stay off but for its memory manager's errors, among
        # them the one that says it could not start a program (run_cases.py).
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all,err+virtual",
                        TMPDIR=path + ".tmp")
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
        for _ in range(3):
            with tempfile.TemporaryFile() as out:
                if not subprocess.run(["wine", *args], env=self.env, stdin=DEVNULL, stdout=out,
                                      stderr=subprocess.STDOUT, timeout=300).returncode:
                    return
                out.seek(0)
                output = out.read()
            if b"Internal error" not in output:
                break
        raise RuntimeError(f"wine {' '.join(args)} failed: {output!r}")

    def start_server(self):
        # A server that is still on its way out would refuse the new one.
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=60)
        # The server's first process starts Wine's background services, which
        # keep the standard handles they inherit open for the server's life:
        # let them have a file, not a case's pipes.
        self.wine("cmd", "/c", "exit")

    def stop_server(self):
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, stderr=DEVNULL, timeout=60)

    # {(key, value name), lower-cased: data} for the values under `keys`, each
    # as `reg export` writes it: `@` or `"Name"`, and `"text"` or
    # `dword:0000002a`; a key that does not exist gives (key, None): "no key".
    def export(self, keys):
        entries = {}
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "export.reg")
            for key in keys:
                path, view = reg_key(key)
                try:
                    self.wine("reg", "export", path, dos_path(out), *view, "/y")
                except RuntimeError as error:
                    if NO_SUCH_KEY not in str(error):
                        raise
                    entries[(key.lower(), None)] = "no key"
                    continue
                # Joins wrapped hex data.
                text = re.sub(r"\\\n *", "", pathlib.Path(out).read_text(encoding="utf-16"))
                for line in text.splitlines():
                    if line.startswith("[") and line.endswith("]"):
                        section = (line[1:-1] + key[len(path):]).lower()
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
                path, view = reg_key(key)
                for name, data in values.items():
                    kind, data = data if isinstance(data, tuple) else ("REG_SZ", data)
                    name = ["/v", name] if name is not None else ["/ve"]
                    prefix.wine("reg", "add", path, *view, *name, "/t", kind, "/d", data, "/f")
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
