# The Wine prefix of a black-box run: a copy of one that holds the registry
# fixtures, made once with Wine's own `reg add` and kept in a per-user cache,
# keyed by the fixtures and Wine's version; read back only through Wine's own
# `reg export`.

import contextlib, fcntl, hashlib, os, pathlib, pickle, re, shutil, subprocess, tempfile  # noqa
from subprocess import DEVNULL

BEFORE = "tandor-before.pickle"  # the export of the checked keys, beside the registry files
VALUE_LINE = re.compile(r'(@|"(?:[^"\\]|\\.)*")=(.*)')  # name (@: the default value) = data


# The path through Wine's Z: drive, which maps the Unix root.
def dos_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class WinePrefix:
    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all")

    # Copies the cache entry `entry` here and gives the export of its checked
    # keys. Wine's own files (hundreds of megabytes) are hard links: Wine
    # replaces them only when it updates a prefix, and a new Wine has a cache
    # entry of its own. Registry files are each run's own, so no run locks another's.
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
        # pipe open, so waiting for its end would hang.
        with tempfile.TemporaryFile() as out:
            if subprocess.run(["wine", *args], env=self.env, stdin=DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT, timeout=300).returncode:
                out.seek(0)
                raise RuntimeError(f"wine {' '.join(args)} failed: {out.read()!r}")

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
    # as `reg export` writes it: `@` or `"Name"`, and `"text"` or `dword:0000002a`.
    def export(self, keys):
        entries = {}
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "export.reg")
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
        if os.path.isdir(entry):
            return entry
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
        os.rename(prefix.path, entry)  # a whole prefix, or none
    return entry
