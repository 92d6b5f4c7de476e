# The black-box case table: what only a whole process shows (exact bytes and
# statuses, the Windows command line and streams, the registry through Wine);
# the rules themselves are unit-tested. Every case runs against the POSIX
# binary and tandor.exe under Wine unless `only` names one build. Expected
# bytes have '\n' line ends; for the Windows build each '\n' is CR LF. A
# case's name says what it shows, and no two are alike. "{scratch}" in a
# field stands for the run's private scratch folder, which holds its Wine
# prefix and is the TMPDIR of the tool and of Wine.

import pathlib
from dataclasses import dataclass, field

CWD = "/usr/bin"  # where every case runs: a folder of every system, on Z: for both builds


@dataclass
class Case:
    name: str
    args: list = None          # argument vector without the program name
    out: bytes = b""
    status: int = 0
    stdin: bytes = b""
    raw: str = None            # the command line after the program name (Windows)
    only: str = None           # "posix" or "wine"
    stdout_closed: bool = False  # POSIX: stdout is a pipe whose reading end is closed
    # (key, value name or None for the default value, data) the run leaves:
    # a string value, read back by Wine. Every other value under CHECKED_KEYS
    # must be unchanged.
    written: tuple = None
    # That many runs at once, run i with "{i}" in its arguments replaced by
    # i: each ends 0 with its change kept or, if `status` is 2, with 2 and
    # nothing written (its value changed since its read).
    race: int = 0
    # Windows: the runs start while a helper holds the write turn, so that
    # all read before any writes.
    turn_held: bool = False
    # What the POSIX build meets on a machine.
    limits: dict = field(default_factory=dict)  # resource limits: {"FSIZE": bytes}
    env: dict = field(default_factory=dict)  # environment variables set for the run
    # The run is held up halfway: it waits for the lock of system.reg, which
    # the runner holds as another rewrite would, and meanwhile a wineserver
    # starts with this TMPDIR.
    held_up: str = None
    server_lock: bool = False  # the runner holds the lock in the prefix's server folder
    # (name, folder) of a copy of /bin/sleep that runs beside the run, with no
    # environment; "{server}" is the name of the prefix's server folders.
    beside: tuple = None


# The usage screen, byte for byte, shared with the unit tests.
USAGE = (pathlib.Path(__file__).resolve().parent.parent / "usage_screen.out").read_bytes()
SUCCESS = b"\n\nSuccessfully modified registry key.\n\n"
NOT_FOUND = b"\n\nSearch string not found.  No registry writes performed.\n\n"
WRITE_FAILED = b"\n\nERROR: Failed Registry write.\n\n"
CONTROL_ERROR = b"\n\n\n %s \n\n\n"  # with each error of a control string


# Keys: ABC for reads; RW, whose values the rewrites change.
ABC = "HKEY_LOCAL_MACHINE\\Software\\Abc"
RW = "HKEY_LOCAL_MACHINE\\Software\\Tandor\\Rw"
WOW = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node"
HKCU = "HKEY_CURRENT_USER"
DEFAULT = "HKEY_USERS\\.Default\\Software\\Tandor"
TND = "HKEY_CLASSES_ROOT\\.tnd"  # a file type, as installers register one
FONTS = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"
# The plain path of a key that only the 32-bit view has, below Wow6432Node,
# where a 32-bit installer writes it: the 64-bit view has no such key.
VIEW = "HKEY_LOCAL_MACHINE\\Software\\TandorView"
# The key whose value V the writes that must fail try to rewrite; the Wine
# run makes it read-only (tandor_read_only_key.exe).
REFUSED = "HKEY_LOCAL_MACHINE\\Software\\Tandor\\Refused"

# Registry fixtures, made with Wine's own `reg add` before any case runs:
# {key: {value name (None: the default value): data, or (type, data)}}.
FIXTURES = {
    ABC: {"Version": "1.5", None: r"C:\Program Files\Abc", "@": "named at",
          "Expand": ("REG_EXPAND_SZ", "%SystemRoot%\\x"), "Number": ("REG_DWORD", "42"),
          "Multi": ("REG_MULTI_SZ", "a\\0b"), "Binary": ("REG_BINARY", "616263"), "Empty": "",
          # Stored in 1,023 bytes with its zero: readable; in 1,024: refused.
          "Long1022": "L" * 1022, "Long1023": "M" * 1023},
    f"{HKCU}\\Software\\Tandor": {"User": "ann"},
    HKCU: {"RootValue": "at the root"},
    TND: {None: "tndfile"},
    DEFAULT: {"Default": "from default"},
    RW: {"Special": 'x "q" \\ y', "Grow": "G" * 1000, "Beside": "pass XX", "HeldUp": "pass XX",
         # The race cases': one value rewritten token by token, and 20 values.
         "Race": " ".join(f"t{i:02}" for i in range(20)), **{f"C{i:02}": "old" for i in range(20)}},
    # Below keys that Wine's prefix links to from Software\Wow6432Node.
    FONTS: {"Tandor": "t.ttf"},
    f"{WOW}\\TandorView": {"V": "x"},
    REFUSED: {"V": "pass XX"},
}
# Keys whose whole content is compared before and after a run that rewrites.
CHECKED_KEYS = [ABC, "HKEY_LOCAL_MACHINE\\Software\\Tandor", f"{HKCU}\\Software\\Tandor", FONTS,
                DEFAULT, TND, f"{WOW}\\TandorView"]


def expand(name, control, out, status=0, **kw):
    return Case(name, [control], out, status, **kw)


def filt(name, search, replace, stdin, out, status=0, **kw):
    return Case(name, args=["-r", search, replace], stdin=stdin, out=out, status=status, **kw)


# Megabytes of lines, more than the tool's output buffers hold together: a
# large output, written by a second thread, must come out whole and in order.
BIG_INPUT = b"".join(b"%d pass XX %s\n" % (i, b"pass X" * (i % 23)) for i in range(60000))


# A rewrite that leaves `written` (key, value name, data); the registry
# check after the run shows that nothing else changed.
def rewrite(name, path, search, replace, written, **kw):
    return Case(name, ["-w", path, search, replace], SUCCESS, written=written, **kw)


# A write that fails after a good read. The POSIX build refuses any write
# while a wineserver may serve the prefix (and a replacement that is not
# UTF-8: winereg_test.cc's edit table). Wine runs every program as an
# administrator and takes values of any size (32 MB tried) and at a root key,
# but it refuses a write into a key whose security lets everyone only read,
# which its server keeps while it runs.
def refused(name, **kw):
    return Case(name, ["-w", f"{REFUSED}\\V", "XX", "YY"], WRITE_FAILED, 2, **kw)


# The arguments of a race on one value, run i replacing its own token "ti"
# by "Ti": each ends 0 with its change kept, or 2 (the value changed since
# its read) with nothing written; none may lose another's change. In a race,
# `status` is the highest status a run may end with.
ONE_VALUE_RACE = ["-w", f"{RW}\\Race", "t{i:02}", "T{i:02}"]


CASES = [
    # Dispatch and usage (the rules: modes_test.cc).
    Case("no arguments: the usage screen", [], USAGE, 1),

    # Expansion (the rules: modes_test.cc): the current directory as each
    # build sees it, each error and the end of input.
    expand("^p and ^d in a folder on Z:", "set currentDir=^p^nSET currentDrive=^d^n",
           b"set currentDir=\\usr\\bin\nSET currentDrive=Z:\n"),
    expand("a prompt not closed", "^i'Name", CONTROL_ERROR % b"!!! Error in prompt string!!!", 1),
    expand("^r without a quote", "^rabc",
           CONTROL_ERROR % b"!!! Error: No Registry key specified !!!", 1),
    expand("a registry path not closed", "^r'abc",
           CONTROL_ERROR % b"!!! Error in specifying Registry key !!!", 1),
    expand("input ends at ^i: the prompt stays, the rest is dropped", "dropped^i", b"> ", 1),

    # Registry reads through each build's registry.
    expand("^r: a value, a key's default value, a value named @",
           f"v=^r'{ABC}\\Version'[^r'{ABC}\\'][^r'{ABC}\\@']",
           b"v=1.5[C:\\Program Files\\Abc][named at]"),
    expand("^r: nothing for other types, an empty value, 1,023 bytes and a missing value",
           f"[^r'{ABC}\\Expand'][^r'{ABC}\\Number'][^r'{ABC}\\Multi'][^r'{ABC}\\Binary']"
           f"[^r'{ABC}\\Empty'][^r'{ABC}\\Long1023'][^r'{ABC}\\Missing']", b"[][][][][][][]"),
    expand("^r: 1,022 bytes, and every root's file",
           f"[^r'{ABC}\\Long1022'][^r'{HKCU}\\Software\\Tandor\\User'][^r'{HKCU}\\RootValue']"
           f"[^r'{TND}\\'][^r'{DEFAULT}\\Default']",
           b"[" + b"L" * 1022 + b"][ann][at the root][tndfile][from default]"),
    expand("no prefix: drive Z:, and no value", f"^d^p[^r'{ABC}\\Version']", b"Z:\\usr\\bin[]",
           env={"WINEPREFIX": "/nonexistent"}, only="posix"),
    expand("^r: the 32-bit view is below Wow6432Node, not at the plain path",
           f"[^r'{WOW}\\TandorView\\V'][^r'{VIEW}\\V']", b"[x][]"),

    # Filter: what only a whole stream shows.
    filt("filter with nothing to replace ends the last line", "q", "r", b"line one\nline two",
         b"line one\nline two\n", status=1),
    filt("filter: megabytes, whole and in order", "pass XX", "pass 1.1", BIG_INPUT,
         BIG_INPUT.replace(b"pass XX", b"pass 1.1")),
    filt("filter to a closed pipe fails, with no signal", "a", "b", b"a\n", b"", 1,
         stdout_closed=True, only="posix"),
    filt("filter: NUL, CR LF and 0x1A pass unchanged", "b", "c", b"a\x00b\r\nb\x1ab\n",
         b"a\x00c\r\nc\x1ac\n", only="posix"),

    # Rewrite, read back by Wine's own reg export.
    rewrite("rewrite with no bound on the new data", f"{RW}\\Grow", "G", "GG",
            (RW, "Grow", "G" * 2000)),
    rewrite("rewrite: quotes and backslashes in both texts", f"{RW}\\Special", "q", '"\\',
            (RW, "Special", 'x ""\\" \\ y')),
    rewrite("rewrite through a link key changes its target",
            f"{WOW}\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Tandor", "t.", "new.",
            (FONTS, "Tandor", "new.ttf")),
    rewrite("rewrite through Wow6432Node changes the 32-bit view only", f"{WOW}\\TandorView\\V",
            "x", "y", (f"{WOW}\\TandorView", "V", "y")),
    # The other roots' files (S-1-5-21-0-0-0-1000 is the SID Wine gives its
    # user); Wine's HKEY_CLASSES_ROOT, unlike the others, takes a leading
    # backslash.
    rewrite("rewrite through HKEY_USERS and the user's SID",
            "HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Tandor\\User", "ann", "bob",
            (f"{HKCU}\\Software\\Tandor", "User", "bob")),
    rewrite("rewrite through HKEY_CLASSES_ROOT, a leading backslash",
            "HKEY_CLASSES_ROOT\\\\.tnd\\", "tnd", "x", (TND, None, "xfile")),
    # The other statuses, and nothing written (the registry check).
    Case("rewrite with nothing to replace", ["-w", f"{RW}\\Beside", "ZZ", "x"], NOT_FOUND, 1),
    Case("rewrite: a missing value", ["-w", f"{ABC}\\Missing", "a", "b"],
         b"\nERROR: Registry key not found: HKEY_LOCAL_MACHINE\\Software\\Abc\\Missing\n\n", 3),
    refused("rewrite into a key that everyone may only read", only="wine"),
    Case("rewrite: 20 runs at once on one value lose no change", ONE_VALUE_RACE, status=2,
         race=20, only="posix"),
    Case("rewrite: 8 runs that all read before any writes lose no change", ONE_VALUE_RACE,
         status=2, race=8, turn_held=True, only="wine"),
    # Each run's own value: all end 0, each with its change.
    Case("rewrite: 20 runs at once on different values of one file keep every change",
         ["-w", f"{RW}\\C{{i:02}}", "old", "new{i}"], race=20, only="posix"),

    # Limits end a POSIX run with a failure status, never by a signal.
    refused("rewrite under a file size limit below the registry file's size",
            limits={"FSIZE": 64 << 10}, only="posix"),
    expand("^i: a line that memory cannot hold fails, with no abort", "^i", b"> ", 1,
           stdin=bytes(64 << 20), limits={"AS": 16 << 20}, only="posix"),
    # What may serve the prefix: a server's lock, a program in a server's
    # folder, a program named as a server. A rewrite held up halfway holds the
    # server locks: a server that starts where the tool holds its lock backs
    # off; one under a TMPDIR the tool could not know fails the rewrite.
    refused("rewrite while another program holds the lock of the prefix's server",
            server_lock=True, only="posix"),
    refused("rewrite while a program of another name works in a server folder of the prefix",
            beside=("renamed", "{scratch}/{server}"), only="posix"),
    rewrite("rewrite while a program named wineserver has no environment, so no prefix",
            f"{RW}\\Beside", "XX", "YY", (RW, "Beside", "pass YY"),
            beside=("wineserver", "{scratch}"), only="posix"),
    rewrite("a wineserver backs off from a rewrite held up halfway", f"{RW}\\HeldUp", "XX",
            "YY", (RW, "HeldUp", "pass YY"), held_up="{scratch}", only="posix"),
    refused("a wineserver under another TMPDIR fails a rewrite held up halfway",
            held_up="{scratch}/elsewhere", only="posix"),

    # Text-stream rules of the Windows build.
    expand("^i: CR LF ends a typed line", "^i", b"> John", stdin=b"John\r\n", only="wine"),
    filt("filter: 0x1A ends piped input", "b", "c", b"b\n\x1ab\n", b"c\n", only="wine"),

    # Command lines as the Windows build splits them (the rules: console_test.cc).
    Case("a doubled quote inside quotes ends quoting", raw='"a""b c"', out=USAGE, status=1,
         only="wine"),
]
