# The Wine prefix of a black-box run: a copy of one that holds the registry
# fixtures, made once with Wine's own `reg add` and kept in a per-user cache,
# keyed by the fixtures and Wine's version; read back only through Wine's own
# `reg export`.

import fcntl, hashlib, os, pickle, re, shutil, subprocess, tempfile  # noqa: E401
from subprocess import DEVNULL

SHORT_ROOTS = {"HKEY_LOCAL_MACHINE": "HKLM", "HKEY_CURRENT_USER": "HKCU",
               "HKEY_CLASSES_ROOT": "HKCR", "HKEY_USERS": "HKU"}
EXPORT = "tandor-export.pickle"  # Wine's export of the checked keys, beside the registry files
VALUE_LINE = re.compile(r'(@|"((?:[^"\\]|\\.)*)")=(.*)')


def cached_prefix(fixtures, keys):
    """The cached prefix for `fixtures`, made now if there is none yet."""
    version = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout
    root = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                        "tandor-blackbox")
    entry = os.path.join(root, hashlib.sha256(repr((fixtures, keys, version)).encode()).hexdigest())
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # parallel runs wait for the one that makes it
        if not os.path.isdir(entry):
            shutil.rmtree(entry + ".new", ignore_errors=True)  # left by a run that was killed
            prefix = WinePrefix(entry + ".new")
            prefix.create(fixtures)
            with open(os.path.join(prefix.path, EXPORT), "wb") as f:
                pickle.dump(prefix.export(keys), f)
            prefix.stop_server()  # the files on disk are what the POSIX build reads
            os.rename(prefix.path, entry)  # a whole prefix, or none
    return entry


def link_or_copy(source, target):
    # Wine's own files (hundreds of megabytes) are shared: Wine replaces them
    # only when it updates a prefix, and a new Wine has a cache entry of its
    # own. Registry files are each run's own, so no run locks another's.
    if source.endswith(".reg"):
        return shutil.copy2(source, target)
    try:
        os.link(source, target)
    except OSError:  # another file system
        shutil.copy2(source, target)


class WinePrefix:
    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all")

    def copy_from(self, entry):
        shutil.copytree(entry, self.path, symlinks=True, copy_function=link_or_copy)
        with open(os.path.join(entry, EXPORT), "rb") as f:
            self.exported = pickle.load(f)  # the checked keys before the run

    def wine(self, *args):
        # Output goes to a file, not a pipe: Wine's helper processes
        # (services.exe and friends) outlive the command and would hold a
        # pipe open, so waiting for its end would hang.
        with tempfile.TemporaryFile() as out:
            if subprocess.run(["wine", *args], env=self.env, stdin=DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT, timeout=300).returncode:
                out.seek(0)
                raise RuntimeError(f"wine {' '.join(args)} failed: {out.read()!r}")

    def create(self, fixtures):
        subprocess.run(["wineboot", "-i"], env=self.env, stdin=DEVNULL, stdout=DEVNULL,
                       stderr=DEVNULL, check=True, timeout=300)
        self.start_server()
        for key, value, kind, data in fixtures:
            name = ["/v", value] if value is not None else ["/ve"]  # the default value
            self.wine("reg", "add", key, *name, "/t", kind, "/d", data, "/f")

    def start_server(self):
        # A server that is still on its way out would refuse the new one.
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=60)

    def stop_server(self):
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, stderr=DEVNULL, timeout=60)

    def export(self, keys):
        """{(key, value name), lower-cased: (type, data)} for the values under
        `keys` as Wine reads them: ("REG_SZ", text), else ("raw", export text)."""
        entries = {}
        with tempfile.TemporaryDirectory() as folder:
            out = os.path.join(folder, "export.reg")
            for key in keys:
                self.wine("reg", "export", key, "Z:" + out.replace("/", "\\"), "/y")
                with open(out, "rb") as f:
                    entries.update(parse_export(f.read().decode("utf-16")))
        return entries


def parse_export(text):
    entries, section = {}, None
    for line in re.sub(r"\\\r?\n *", "", text).splitlines():  # joins wrapped hex data
        value = VALUE_LINE.fullmatch(line)
        if line.startswith("[") and line.endswith("]"):
            root, separator, rest = line[1:-1].partition("\\")
            section = (SHORT_ROOTS.get(root, root) + separator + rest).lower()
        elif section and value:
            data = value[3]
            kind = ("REG_SZ", unescape(data[1:-1])) if data.startswith('"') else ("raw", data)
            entries[(section, unescape(value[2] or "").lower())] = kind
    return entries


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)
