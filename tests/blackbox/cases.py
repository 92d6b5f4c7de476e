# The black-box case table: what only a whole process shows (exact bytes and
# statuses, the Windows command line and streams, the registry through Wine);
# the rules themselves are unit-tested. Every case runs against the POSIX
# binary and tandor.exe under Wine unless `only` names one build. Expected
# bytes have '\n' line ends; for the Windows build, and on a terminal, each
# '\n' is CR LF. A case's name says what it shows, and no two are alike.
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
    server: bool = False       # POSIX only: a wineserver serves the prefix during the run
    # That many runs at once, each with "{i}" in its arguments replaced by its
    # number; `written` then holds the data before them (run_cases.py: race).
    race: int = 0


# The usage screen, byte for byte, shared with the unit tests.
USAGE = (pathlib.Path(__file__).resolve().parent.parent / "usage_screen.out").read_bytes()
SUCCESS = b"\n\nSuccessfully modified registry key.\n\n"
NOT_FOUND = b"\n\nSearch string not found.  No registry writes performed.\n\n"
WRITE_FAILED = b"\n\nERROR: Failed Registry write.\n\n"
CONTROL_ERROR = b"\n\n\n %s \n\n\n"  # with each error of a control string


HKLM = "HKEY_LOCAL_MACHINE\\Software\\Abc"
RW = "HKEY_LOCAL_MACHINE\\Software\\Tandor\\Rw"
WOW = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node"
CU = "HKEY_CURRENT_USER"
DEFAULT = "HKEY_USERS\\.Default\\Software\\Tandor"
TND = "HKEY_CLASSES_ROOT\\.tnd"
FONTS = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
# Written as a 32-bit installer writes it (reg's /reg:32): the 64-bit view
# has no such key.
VIEW = "HKEY_LOCAL_MACHINE\\Software\\TandorView"
# The key whose value V the writes that must fail try to rewrite; the Wine
# run makes it read-only (tandor_read_only_key.exe).
REFUSED = "HKEY_LOCAL_MACHINE\\Software\\Tandor\\Refused"
# The value that the race cases rewrite, token by token.
TOKENS = " ".join(f"t{i:02}" for i in range(20))

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
    RW: {"Settings": "pass XX", "Special": 'x "q" \\ y', None: "default XX",
         "Grow": "G" * 1000, "Race": TOKENS},
    # Below keys that Wine's prefix links to from Software\Wow6432Node.
    FONTS: {"Tandor": "t.ttf"},
    "HKEY_LOCAL_MACHINE\\Software\\Classes\\AppId\\{Tandor}": {"V": "app"},
    VIEW + " /reg:32": {"V": "x"},
    REFUSED: {"V": "pass XX"},
}
# Keys whose whole content is compared before and after a run that rewrites.
CHECKED_KEYS = [HKLM, "HKEY_LOCAL_MACHINE\\Software\\Tandor", f"{CU}\\Software\\Tandor", FONTS,
                DEFAULT, TND, VIEW + " /reg:32", VIEW + " /reg:64"]


def expand(name, control, out, status=0, **kw):
    return Case(name, [control], out, status, **kw)


def filt(name, search, replace, stdin, out, status=0, **kw):
    return Case(name, args=["-r", search, replace], stdin=stdin, out=out, status=status, **kw)


# Megabytes of lines, more than the tool's output buffers hold together.
# Read from a file, where every read but the last is full, a large output is
# written by a second thread, and must come out whole and in order.
BIG_INPUT = b"".join(b"%d pass XX %s\n" % (i, b"pass X" * (i % 23)) for i in range(60000))


def big(name, status=0, stdin_file=True, **kw):
    out = b"" if status else BIG_INPUT.replace(b"pass XX", b"pass 1.1")
    return filt(name, "pass XX", "pass 1.1", BIG_INPUT, out, status, stdin_file=stdin_file, **kw)


# A rewrite that leaves `written` (key, value name, data); the registry
# check after the run shows that nothing else changed.
def rewrite(name, path, search, replace, written, **kw):
    return Case(name, ["-w", path, search, replace], SUCCESS, written=written, **kw)


# A write that fails after a good read. The POSIX build refuses any write
# while a wineserver serves the prefix (and a replacement that is not UTF-8:
# winereg_test.cc).
# Wine runs every program as an administrator and takes values of any size
# (32 MB tried) and at a root key, but it refuses a write into a key whose
# security lets everyone only read, which its server keeps while it runs.
def refused(name, replace="YY", **kw):
    return Case(name, ["-w", f"{REFUSED}\\V", "XX", replace], WRITE_FAILED, 2, **kw)


# Rewrites of one value at once, run i replacing its own token "ti" by "Ti":
# each ends 0 with its change kept, or 2 (the value changed since its read)
# with nothing written; none may lose another's change.
def race(name, runs, only):
    return Case(name, ["-w", f"{RW}\\Race", "t{i:02}", "T{i:02}"], race=runs,
                written=(RW, "Race", TOKENS), only=only)


CASES = [
    # Dispatch and usage (the rules: modes_test.cc).
    Case("no arguments: the usage screen", [], USAGE, 1),

    # Expansion (the rules: modes_test.cc): the current directory as each
    # build sees it, each error and the end of input.
    expand("^p and ^d in a folder on Z:", "set currentDir=^p^nSET currentDrive=^d^n",
           b"set currentDir={scratch}\\dir1\\dir2\nSET currentDrive=Z:\n"),
    expand("a prompt not closed", "^i'Name", CONTROL_ERROR % b"!!! Error in prompt string!!!", 1),
    expand("^r without a quote", "^rabc",
           CONTROL_ERROR % b"!!! Error: No Registry key specified !!!", 1),
    expand("a registry path not closed", "^r'abc",
           CONTROL_ERROR % b"!!! Error in specifying Registry key !!!", 1),
    expand("input ends at ^i: the prompt stays, the rest is dropped", "dropped^i", b"> ", 1),

    # Registry reads through each build's registry.
    expand("^r: a value, the default value of two keys, a value named @",
           f"v=^r'{HKLM}\\Version'[^r'{HKLM}\\'][^r'{HKLM}\\Directory\\'][^r'{HKLM}\\@']",
           b"v=1.5[C:\\Program Files\\Abc][C:\\Abc\\Dir][named at]"),
    expand("^r: nothing for other types, an empty value, 1,023 bytes and a missing value",
           f"[^r'{HKLM}\\Expand'][^r'{HKLM}\\Number'][^r'{HKLM}\\Multi'][^r'{HKLM}\\Binary']"
           f"[^r'{HKLM}\\Empty'][^r'{HKLM}\\Long1023'][^r'{HKLM}\\Missing']", b"[][][][][][][]"),
    expand("^r: 1,022 bytes, and every root's file",
           f"[^r'{HKLM}\\Long1022'][^r'{CU}\\Software\\Tandor\\User'][^r'{CU}\\RootValue']"
           f"[^r'{TND}\\'][^r'{DEFAULT}\\Default']",
           b"[" + b"L" * 1022 + b"][ann][at the root][tndfile][from default]"),
    # Wow6432Node\Classes, then Classes\Wow6432Node\AppId.
    expand("^r through one and two of Wine's link keys",
           f"[^r'{WOW}\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Tandor']"
           f"[^r'{WOW}\\Classes\\AppId\\{{Tandor}}\\V'][^r'HKEY_CLASSES_ROOT\\Wow6432Node\\AppId"
           "\\{Tandor}\\V']", b"[t.ttf][app][app]"),
    expand("^r: the 32-bit view is below Wow6432Node, not at the plain path",
           f"[^r'{WOW}\\TandorView\\V'][^r'{VIEW}\\V']", b"[x][]"),

    # Filter: what only a whole stream shows.
    filt("filter with nothing to replace ends the last line", "q", "r", b"line one\nline two",
         b"line one\nline two\n", status=1),
    big("filter: megabytes, whole and in order", stdin_file=False),
    big("filter to a closed pipe fails, with no signal", 1, stdout_path=CLOSED_PIPE, only="posix"),
    filt("filter: NUL, CR LF and 0x1A pass unchanged", "b", "c", b"a\x00b\r\nb\x1ab\n",
         b"a\x00c\r\nc\x1ac\n", only="posix"),

    # Rewrite, read back by Wine's own reg export.
    rewrite("rewrite a value", f"{RW}\\Settings", "pass XX", "pass 1.1",
            (RW, "Settings", "pass 1.1")),
    rewrite("rewrite a key's default value", f"{RW}\\", "XX", "YY", (RW, None, "default YY")),
    rewrite("rewrite with no bound on the new data", f"{RW}\\Grow", "G", "GG",
            (RW, "Grow", "G" * 2000)),
    rewrite("rewrite: quotes and backslashes in both texts", f"{RW}\\Special", "q", '"\\',
            (RW, "Special", 'x ""\\" \\ y')),
    rewrite("rewrite through a link key changes its target",
            f"{WOW}\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Tandor", "t.", "new.",
            (FONTS, "Tandor", "new.ttf")),
    rewrite("rewrite through Wow6432Node changes the 32-bit view only", f"{WOW}\\TandorView\\V",
            "x", "y", (VIEW + " /reg:32", "V", "y")),
    # The other roots' files; Wine's HKEY_CLASSES_ROOT, unlike the others,
    # takes a leading backslash.
    rewrite("rewrite through HKEY_USERS and the user's SID",
            "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Tandor\\User", "ann", "bob",
            (f"{CU}\\Software\\Tandor", "User", "bob")),
    rewrite("rewrite through HKEY_CLASSES_ROOT, a leading backslash",
            "HKEY_CLASSES_ROOT\\\\.tnd\\", "tnd", "x", (TND, None, "xfile")),
    # The other statuses, and nothing written (the registry check).
    Case("rewrite with nothing to replace", ["-w", f"{RW}\\Settings", "YY", "x"], NOT_FOUND, 1),
    Case("rewrite: a missing value", ["-w", f"{HKLM}\\Missing", "a", "b"],
         b"\nERROR: Registry key not found: HKEY_LOCAL_MACHINE\\Software\\Abc\\Missing\n\n", 3),
    refused("rewrite while a wineserver serves the prefix", server=True, only="posix"),
    refused("rewrite into a key that everyone may only read", only="wine"),
    race("rewrite: 20 runs at once on one value lose no change", 20, only="posix"),
    race("rewrite: 8 runs at once on one value lose no change", 8, only="wine"),

    # Text-stream rules of the Windows build.
    expand("^i: CR LF ends a typed line", "^i", b"> John", stdin=b"John\r\n", only="wine"),
    filt("filter: 0x1A ends piped input", "b", "c", b"b\n\x1ab\n", b"c\n", only="wine"),

    # Command lines as the Windows build splits them (the rules: console_test.cc).
    Case("a doubled quote inside quotes ends quoting", raw='"a""b c"', out=USAGE, status=1),
]
