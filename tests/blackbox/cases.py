# The black-box case table: what only a whole process shows (exact bytes and
# statuses, the Windows command line and streams, the registry through Wine);
# the rules themselves are unit-tested. Every case runs against the POSIX
# binary and tandor.exe under Wine unless `only` names one build. Expected
# bytes have '\n' line ends; for the Windows build, and on a terminal, each
# '\n' is CR LF.
#
# `cwd` may start with "{scratch}", the run's private scratch folder (the
# default is {scratch}/dir1/dir2), or "{prefix}", its Wine prefix. In expected
# bytes "{scratch}" stands for the scratch folder's DOS path after the drive.

import pathlib
from dataclasses import dataclass, field

CLOSED_PIPE = "closed pipe"  # a stdout_path: a pipe whose reading end is closed


@dataclass
class Case:
    name: str
    args: list = None          # argument vector without the program name
    out: bytes = b""
    status: int = 0
    stdin: bytes = b""
    cwd: str = "{scratch}/dir1/dir2"
    env: dict = field(default_factory=dict)
    raw: str = None            # the command line after the program name; Windows only
    only: str = None           # "posix" or "wine"
    stdin_file: bool = False   # standard input is a file holding `stdin`, not a pipe
    stdout_path: str = None    # POSIX only: standard output on this file or CLOSED_PIPE
    # On a pseudo-terminal: (text awaited on it, line then typed) pairs.
    terminal: tuple = ()
    # (key, value name or None for the default value, data) the run leaves:
    # a string value, read back by Wine. Every other value under CHECKED_KEYS
    # must be unchanged.
    written: tuple = None


# The usage screen, byte for byte, shared with the unit tests.
USAGE = (pathlib.Path(__file__).resolve().parent.parent / "usage_screen.out").read_bytes()


HKLM = "HKEY_LOCAL_MACHINE\\Software\\Abc"
RW = "HKEY_LOCAL_MACHINE\\Software\\Tandor\\Rw"
WOW = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node"
CU = "HKEY_CURRENT_USER"
DEFAULT = "HKEY_USERS\\.Default\\Software\\Tandor"
TND = "HKEY_CLASSES_ROOT\\.tnd"
FONTS = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"

# Registry fixtures, made with Wine's own `reg add` before any case runs:
# {key: {value name (None: the default value): data, or (type, data)}}.
FIXTURES = {
    HKLM: {"Version": "1.5", None: r"C:\Program Files\Abc", "@": "named at",
           "Expand": ("REG_EXPAND_SZ", "%SystemRoot%\\x"), "Number": ("REG_DWORD", "42"),
           "Multi": ("REG_MULTI_SZ", "a\\0b"), "Binary": ("REG_BINARY", "616263"), "Empty": "",
           # Stored in 1,023 bytes with its zero: readable; in 1,024: refused.
           "Long1022": "L" * 1022, "Long1023": "M" * 1023},
    HKLM + "\\Directory": {None: r"C:\Abc\Dir"},
    f"{CU}\\Software\\Tandor": {"User": "ann"},
    CU: {"RootValue": "at the root"},
    TND: {None: "tndfile"},
    DEFAULT: {"Default": "from default"},
    RW: {"Settings": "pass XX", "Spaces": "a X b X c", "Special": 'x "q" \\ y', None: "default XX",
         "Grow": "G" * 1000},
    f"{CU}\\Software\\Tandor\\Rw": {"Percent": "50% XX"},
    # Below keys that Wine's prefix links to from Software\Wow6432Node.
    FONTS: {"Tandor": "t.ttf"},
    "HKEY_LOCAL_MACHINE\\Software\\Classes\\AppId\\{Tandor}": {"V": "app"},
}
# Keys whose whole content is compared before and after the run.
CHECKED_KEYS = [HKLM, "HKEY_LOCAL_MACHINE\\Software\\Tandor", f"{CU}\\Software\\Tandor", FONTS,
                DEFAULT, TND]


def expand(control, out, **kw):
    return Case(name="expand " + repr(control)[:70], args=[control], out=out, **kw)


def filt(search, replace, stdin, out, status=0, name=None, **kw):
    return Case(name=name or f"filter {search!r}->{replace!r} on {stdin[:20]!r}",
                args=["-r", search, replace], stdin=stdin, out=out, status=status, **kw)


# Megabytes of lines, more than the tool's output buffers hold together.
# Read from a file, where every read but the last is full, a large output is
# written by a second thread, and must come out whole and in order.
BIG_INPUT = b"".join(b"%d pass XX %s\n" % (i, b"pass X" * (i % 23)) for i in range(60000))


def big(name, status=0, stdin_file=True, **kw):
    out = b"" if status else BIG_INPUT.replace(b"pass XX", b"pass 1.1")
    return filt("pass XX", "pass 1.1", BIG_INPUT, out, status, name="megabytes " + name,
                stdin_file=stdin_file, **kw)


# A rewrite that leaves `written` (key, value name, data). Its failures are
# the unit tests' (modes_test.cc); the registry check after the run shows
# that nothing else changed.
def rewrite(path, search, replace, written, **kw):
    return Case(name=f"rewrite {path} {search!r}->{replace!r}", args=["-w", path, search, replace],
                out=b"\n\nSuccessfully modified registry key.\n\n", written=written, **kw)


TRICKY = "\u00e9a\U0001F600\t\x017"  # what Wine's loader must take escaped: its case is below

CASES = [
    # Dispatch and usage (the rules: modes_test.cc).
    Case("no arguments", [], USAGE, 1),

    # Expansion (the rules: modes_test.cc): the current directory as each
    # build sees it, typed lines.
    expand("set currentDir=^p^nSET currentDrive=^d^n",
           b"set currentDir={scratch}\\dir1\\dir2\nSET currentDrive=Z:\n"),
    expand("^d^p", b"Z:\\", cwd="/"),
    expand("^d^p", b"C:\\users", cwd="{prefix}/drive_c/users"),
    expand("^d^p", b"C:\\", cwd="{prefix}/drive_c"),
    # Without a prefix: only Z:, and no registry.
    expand(f"^d^p[^r'{HKLM}\\Version']", b"Z:{scratch}\\dir1\\dir2[]",
           env={"WINEPREFIX": "/nonexistent/prefix"}, only="posix"),
    # Each prompt is on the terminal before the tool waits; the terminal echoes each line.
    expand("^i'Name: '^i'Town: '", b"Name: Ann\nTown: Paris\nAnnParis",
           terminal=((b"Name: ", b"Ann\r"), (b"Town: ", b"Paris\r"))),
    # No length limit: of the control string, a prompt, a typed line.
    expand("x" * 20000 + "^i'" + "p" * 400 + "'", b"p" * 400 + b"x" * 20000 + b"y" * 50000,
           stdin=b"y" * 50000 + b"\n"),

    # Registry reads through each build's registry.
    expand(f"v=^r'{HKLM}\\Version'[^r'{HKLM}\\'][^r'{HKLM}\\Directory\\'][^r'{HKLM}\\@']",
           b"v=1.5[C:\\Program Files\\Abc][C:\\Abc\\Dir][named at]"),
    expand(f"[^r'{HKLM}\\Expand'][^r'{HKLM}\\Number'][^r'{HKLM}\\Multi'][^r'{HKLM}\\Binary']"
           f"[^r'{HKLM}\\Empty'][^r'{HKLM}\\Long1023'][^r'{HKLM}\\Missing']", b"[][][][][][][]"),
    expand(f"[^r'{HKLM}\\Long1022'][^r'{CU}\\Software\\Tandor\\User'][^r'{CU}\\RootValue']"
           f"[^r'{TND}\\'][^r'{DEFAULT}\\Default']",
           b"[" + b"L" * 1022 + b"][ann][at the root][tndfile][from default]"),
    # Through Wine's link keys, one and two of them (Wow6432Node\Classes, then
    # Classes\Wow6432Node\AppId).
    expand(f"[^r'{WOW}\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Tandor']"
           f"[^r'{WOW}\\Classes\\AppId\\{{Tandor}}\\V'][^r'HKEY_CLASSES_ROOT\\Wow6432Node\\AppId"
           "\\{Tandor}\\V']", b"[t.ttf][app][app]"),

    # Filter: what only a whole stream shows.
    filt("q", "r", b"line one\nline two", b"line one\nline two\n", status=1),
    big("from a file, in order"),
    big("from a pipe, in order", stdin_file=False),
    big("to a full disk fail", 1, stdout_path="/dev/full", only="posix"),
    big("to a closed pipe fail, no signal", 1, stdout_path=CLOSED_PIPE, only="posix"),
    filt("b", "c", b"a\x00b\r\nb\x1ab\n", b"a\x00c\r\nc\x1ac\n", only="posix",
         name="NUL, CR LF and 0x1A pass unchanged"),

    # Rewrite, read back by Wine's own reg export.
    rewrite(f"{RW}\\Settings", "pass XX", "pass 1.1", (RW, "Settings", "pass 1.1")),
    rewrite(f"{RW}\\", "XX", "YY", (RW, None, "default YY")),
    rewrite(f"{RW}\\Grow", "G", "GG", (RW, "Grow", "G" * 2000)),  # the write sets no bound
    rewrite(f"{RW}\\Special", "q", '"\\', (RW, "Special", 'x ""\\" \\ y')),
    rewrite(f"{CU}\\Software\\Tandor\\Rw\\Percent", "XX", "%s",
            (f"{CU}\\Software\\Tandor\\Rw", "Percent", "50% %s")),
    rewrite(f"{WOW}\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Tandor", "t.", "new.",
            (FONTS, "Tandor", "new.ttf")),
    # Every root's file; Wine's HKEY_CLASSES_ROOT, unlike the others, takes a
    # leading backslash.
    rewrite("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Tandor\\User", "ann", "bob",
            (f"{CU}\\Software\\Tandor", "User", "bob")),
    rewrite(f"{DEFAULT}\\Default", "from", "to", (DEFAULT, "Default", "to default")),
    rewrite("HKEY_CLASSES_ROOT\\\\.tnd\\", "tnd", "x", (TND, None, "xfile")),
    # Escapes Wine's loader must take: \x padded before a hex digit, a
    # surrogate pair, a tab, octal before a digit (UTF-8: the POSIX build's).
    rewrite(f"{RW}\\Spaces", "X", TRICKY, (RW, "Spaces", f"a {TRICKY} b {TRICKY} c"), only="posix"),

    # Text-stream rules of the Windows build.
    expand("^i", b"> John", stdin=b"John\r\n", only="wine"),
    filt("b", "c", b"b\n\x1ab\n", b"c\n", only="wine", name="0x1A ends piped input"),

    # Command lines as the Windows build splits them (the rules: console_test.cc).
    Case("doubled quote inside quotes ends quoting", raw='"a""b c"', out=USAGE, status=1),
]
