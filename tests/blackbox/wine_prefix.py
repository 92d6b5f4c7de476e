"""A throwaway Wine prefix for the black-box suites, filled and read back
only through Wine's own registry tool."""

import os
import subprocess
import tempfile

ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER",
         "HKCR": "HKEY_CLASSES_ROOT", "HKU": "HKEY_USERS"}


class WinePrefix:
    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all")

    def wine(self, *args):
        # Output goes to a file, not a pipe: Wine's helper processes
        # (services.exe and friends) outlive the command and would hold a
        # pipe open, so waiting for its end would hang.
        with tempfile.TemporaryFile() as out:
            proc = subprocess.run(["wine"] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.STDOUT, timeout=300)
            out.seek(0)
            if proc.returncode != 0:
                raise RuntimeError(f"wine {' '.join(args)} failed: {out.read()!r}")

    def create(self, fixtures):
        subprocess.run(["wineboot", "-i"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                       timeout=300)
        self.start_server()
        for key, value, kind, data in fixtures:
            name = ["/ve"] if value is None else ["/v", value]
            self.wine("reg", "add", key, *name, "/t", kind, "/d", data, "/f")
        # The files on disk are what the POSIX build reads: let the server
        # save them and go.
        self.stop_server()

    def start_server(self):
        # A server that is still on its way out would refuse the new one.
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=60)

    def stop_server(self):
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)

    def export(self, keys):
        """{(key, value name), lower-cased: (type, data)} for string values
        under `keys`, as Wine itself reads them; other types by their raw
        export text."""
        entries = {}
        with tempfile.TemporaryDirectory() as folder:
            for key in keys:
                out = os.path.join(folder, "export.reg")
                self.wine("reg", "export", key, "Z:" + out.replace("/", "\\"), "/y")
                with open(out, "rb") as f:
                    text = f.read().decode("utf-16")
                entries.update(parse_export(text))
        return entries


def parse_export(text):
    entries = {}
    section = None
    lines = text.replace("\r\n", "\n").split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        while line.endswith("\\") and i + 1 < len(lines):  # hex continuation
            i += 1
            line = line[:-1] + lines[i].strip()
        i += 1
        if line.startswith("[") and line.endswith("]"):
            section = short_key(line[1:-1])
        elif section and (line.startswith('"') or line.startswith("@=")):
            name, data = split_value_line(line)
            entries[(section.lower(), name.lower())] = data
    return entries


def short_key(path):
    root, _, rest = path.partition("\\")
    for short, long in ROOTS.items():
        if root == long:
            root = short
    return root + ("\\" + rest if rest else "")


def split_value_line(line):
    if line.startswith("@="):
        return "", decode_data(line[2:])
    i, name = 1, []
    while line[i] != '"':
        if line[i] == "\\":
            i += 1
        name.append(line[i])
        i += 1
    return "".join(name), decode_data(line[i + 2:])


def decode_data(data):
    if data.startswith('"') and data.endswith('"'):
        body, out, i = data[1:-1], [], 0
        while i < len(body):
            if body[i] == "\\":
                i += 1
            out.append(body[i])
            i += 1
        return ("REG_SZ", "".join(out))
    return ("raw", data)
