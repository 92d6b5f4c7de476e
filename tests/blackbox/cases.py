# The black-box case table: what only a whole process shows (exact bytes and
# statuses, the Windows command line and streams, the registry through Wine);
# the rules themselves are unit-tested. Every case runs against the POSIX
# binary and tandor.exe under Wine unless `only` names one build. Expected
# bytes have '\n' line ends; for the Windows build each '\n' is CR LF.
#
# `cwd` may start with "{scratch}", the run's private scratch folder (the
# default is {scratch}/dir1/dir2), or "{prefix}", its Wine prefix. In expected
# bytes "{scratch}" stands for the scratch folder's DOS path after the drive.

import os
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
    raw: str = None            # Windows only: the command line after the program name
    only: str = None           # "posix" or "wine"
    stdin_file: bool = False   # standard input is a file holding `stdin`, not a pipe
    stdout_path: str = None    # POSIX only: standard output on this file or CLOSED_PIPE
    # On a pseudo-terminal: (text awaited on it, line then typed) pairs.
    terminal: tuple = ()
    # Registry values expected after the run: {"HKLM\\Key": {"Value": "data"}};
    # every other value under the checked roots must be unchanged.
    registry_after: dict = field(default_factory=dict)


# The usage screen, byte for byte, shared with the unit tests.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "usage_screen.out"),
          "rb") as usage_file:
    USAGE = usage_file.read()

PROMPT_ERROR = b"\n\n\n !!! Error in prompt string!!! \n\n\n"
NO_KEY_ERROR = b"\n\n\n !!! Error: No Registry key specified !!! \n\n\n"
REWRITE_OK = b"\n\nSuccessfully modified registry key.\n\n"
REWRITE_NOT_FOUND = b"\n\nSearch string not found.  No registry writes performed.\n\n"


def not_found(path):
    return b"\nERROR: Registry key not found: " + path.encode() + b"\n\n"


HKLM = "HKEY_LOCAL_MACHINE\\Software\\Abc"
RW = "HKEY_LOCAL_MACHINE\\Software\\Tandor\\Rw"
LONG_1022 = "L" * 1022   # stored in 1,023 bytes with its zero: readable
LONG_1023 = "M" * 1023   # 1,024 bytes: refused

# Registry fixtures, made with Wine's own `reg add` before any case runs:
# (key, value name or None for the default value, type, data).
FIXTURES = [
    (r"HKLM\Software\Abc", "Version", "REG_SZ", "1.5"),
    (r"HKLM\Software\Abc", None, "REG_SZ", r"C:\Program Files\Abc"),
    (r"HKLM\Software\Abc\Directory", None, "REG_SZ", r"C:\Abc\Dir"),
    (r"HKLM\Software\Abc", "Settings", "REG_SZ", "pass XX"),
    (r"HKLM\Software\Abc", "Quoted", "REG_SZ", r'say "hi" \ back\\slash'),
    (r"HKLM\Software\Abc", "Percent", "REG_SZ", "100%s %d %PATH%"),
    (r"HKLM\Software\Abc", "Tags", "REG_SZ", "^d^p^n"),
    (r"HKLM\Software\Abc", "Expand", "REG_EXPAND_SZ", "%SystemRoot%\\x"),
    (r"HKLM\Software\Abc", "Number", "REG_DWORD", "42"),
    (r"HKLM\Software\Abc", "Multi", "REG_MULTI_SZ", "a\\0b"),
    (r"HKLM\Software\Abc", "Binary", "REG_BINARY", "616263"),
    (r"HKLM\Software\Abc", "Empty", "REG_SZ", ""),
    (r"HKLM\Software\Abc", "Long1022", "REG_SZ", LONG_1022),
    (r"HKLM\Software\Abc", "Long1023", "REG_SZ", LONG_1023),
    (r"HKLM\Software\Abc", "@", "REG_SZ", "named at"),
    (r"HKLM\Software\Abc\Br[ck]ets", "v", "REG_SZ", "brackets"),
    (r"HKCU\Software\Tandor", "User", "REG_SZ", "ann"),
    (r"HKCU", "RootValue", "REG_SZ", "at the root"),
    (r"HKCR\.tnd", None, "REG_SZ", "tndfile"),
    (r"HKU\.Default\Software\Tandor", "Default", "REG_SZ", "from default"),
    (r"HKLM\Software\Tandor\Rw", "Settings", "REG_SZ", "pass XX"),
    (r"HKLM\Software\Tandor\Rw", "Spaces", "REG_SZ", "a X b X c"),
    (r"HKLM\Software\Tandor\Rw", "AtEnd", "REG_SZ", "abc"),
    (r"HKLM\Software\Tandor\Rw", "Untouched", "REG_SZ", "no match here"),
    (r"HKLM\Software\Tandor\Rw", "Grow", "REG_SZ", "G" * 1000),
    (r"HKLM\Software\Tandor\Rw", "Special", "REG_SZ", 'x "q" \\ y'),
    (r"HKLM\Software\Tandor\Rw", "Expand", "REG_EXPAND_SZ", "pass XX"),
    (r"HKLM\Software\Tandor\Rw", "Number", "REG_DWORD", "7"),
    (r"HKLM\Software\Tandor\Rw", "Empty", "REG_SZ", ""),
    (r"HKLM\Software\Tandor\Rw", None, "REG_SZ", "default XX"),
    (r"HKCU\Software\Tandor\Rw", "Percent", "REG_SZ", "50% XX"),
    # Below keys that Wine's prefix links to from Software\Wow6432Node.
    (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts", "Tandor", "REG_SZ", "t.ttf"),
    (r"HKLM\Software\Classes\AppId\{Tandor}", "V", "REG_SZ", "app"),
]
# Roots whose whole content is compared before and after the run.
FONTS = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts"
CHECKED_KEYS = [r"HKLM\Software\Abc", r"HKLM\Software\Tandor", r"HKCU\Software\Tandor", FONTS,
                r"HKU\.Default\Software\Tandor", r"HKCR\.tnd"]
WOW = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node"


def expand(control, out, status=0, **kw):
    return Case(name="expand " + repr(control), args=[control], out=out, status=status, **kw)


def filt(search, replace, stdin, out, status=0, name=None, **kw):
    return Case(name=name or f"filter {search!r}->{replace!r} on {stdin[:20]!r}",
                args=["-r", search, replace], stdin=stdin, out=out, status=status, **kw)


# Megabytes of lines, more than the tool's output buffers hold together.
# Read from a file, where every read but the last is full, a large output is
# written by a second thread, and must come out whole and in order.
BIG_INPUT = b"".join(b"%d pass XX %s\n" % (i, b"pass X" * (i % 23)) for i in range(60000))


def rewrite(path, search, replace, out, status, after=None, **kw):
    return Case(name=f"rewrite {path} {search!r}->{replace!r}", args=["-w", path, search, replace],
                out=out, status=status, registry_after=after or {}, **kw)


CASES = [
    # Dispatch and usage.
    Case("no arguments", [], USAGE, 1),
    Case("unknown option", ["-x", "a", "b"], USAGE, 1),
    Case("-w with two texts", ["-w", "a", "b"], USAGE, 1),
    Case("-r alone is expanded", ["-r"], b"-r"),
    Case("-rfoo selects the filter", ["-rfoo", "a", "b"], b"xb\n", stdin=b"xa"),

    # Expansion: the current directory as each build sees it, typed lines.
    expand("set currentDir=^p^nSET currentDrive=^d^n",
           b"set currentDir={scratch}\\dir1\\dir2\nSET currentDrive=Z:\n"),
    expand("^d^p", b"Z:\\", cwd="/"),
    expand("^d^p", b"C:\\users", cwd="{prefix}/drive_c/users"),
    expand("^d^p", b"C:\\", cwd="{prefix}/drive_c"),
    expand("^d^p", b"Z:{scratch}\\dir1\\dir2", env={"WINEPREFIX": "/nonexistent/prefix"},
           only="posix"),
    expand("1=^i 2=^i'?'", b"> ?1=one 2=two", stdin=b"one\ntwo\nthree\n"),
    expand("first=^i second=^i", b"> > ", status=1, stdin=b"only\n"),
    expand("ok ^i then ^i'bad", b"> " + PROMPT_ERROR, status=1, stdin=b"x\n"),
    # Each prompt is on the terminal before the tool waits; Wine's console echoes the line.
    expand("^i'Name: '^i'Town: '", b"Name: Town: AnnParis", only="posix",
           terminal=((b"Name: ", b"Ann\n"), (b"Town: ", b"Paris\n"))),
    expand("^i'Name: '^i'Town: '", b"Name: Ann\nTown: Paris\nAnnParis", only="wine",
           terminal=((b"Name: ", b"Ann\r"), (b"Town: ", b"Paris\r"))),
    expand("^rabc", NO_KEY_ERROR, status=1),
    expand("x" * 20000, b"x" * 20000),
    expand("^i", b"> " + b"y" * 50000, stdin=b"y" * 50000 + b"\n"),
    expand("^i'" + "p" * 400 + "'", b"p" * 400 + b"z", stdin=b"z\n"),

    # Registry reads through each build's registry.
    expand(f"v=^r'{HKLM}\\Version'^r'{HKLM}\\Settings'", b"v=1.5pass XX"),
    expand(f"[^r'{HKLM}\\'][^r'{HKLM}\\Directory\\']", b"[C:\\Program Files\\Abc][C:\\Abc\\Dir]"),
    expand(f"[^r'{HKLM}\\Quoted'][^r'{HKLM}\\Percent'][^r'{HKLM}\\Tags']",
           b'[say "hi" \\ back\\\\slash][100%s %d %PATH%][^d^p^n]'),
    expand(f"[^r'{HKLM}\\Expand'][^r'{HKLM}\\Number'][^r'{HKLM}\\Multi'][^r'{HKLM}\\Binary']"
           f"[^r'{HKLM}\\Empty'][^r'{HKLM}\\Long1023'][^r'{HKLM}\\Missing']", b"[][][][][][][]"),
    expand(f"[^r'{HKLM}\\Long1022']", b"[" + LONG_1022.encode() + b"]"),
    expand(f"[^r'{HKLM}\\@'][^r'{HKLM}\\Br[ck]ets\\v']", b"[named at][brackets]"),
    expand("[^r'HKEY_LOCAL_MACHINE\\SOFTWARE\\ABC\\VERSION'][^r'hkey_local_machine\\Software"
           "\\Abc\\Version'][^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\\\Version']", b"[1.5][][1.5]"),
    expand("[^r'HKEY_CURRENT_USER\\Software\\Tandor\\User'][^r'HKEY_CURRENT_USER\\RootValue']"
           "[^r'HKEY_CURRENT_USER\\\\RootValue']", b"[ann][at the root][at the root]"),
    expand("[^r'HKEY_CLASSES_ROOT\\.tnd\\'][^r'HKEY_USERS\\.Default\\Software\\Tandor\\Default']",
           b"[tndfile][from default]"),
    expand("[^r'HKEY_LOCAL_MACHINE" + "\\x" * 600 + "']", b"[]"),
    expand(f"[^r'{HKLM}\\Version']", b"[]", env={"WINEPREFIX": "/nonexistent/prefix"}, only="posix"),
    # Through Wine's link keys, one and two of them (Wow6432Node\Classes, then
    # Classes\Wow6432Node\AppId).
    expand(f"[^r'{WOW}\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Tandor']"
           f"[^r'{WOW}\\Classes\\AppId\\{{Tandor}}\\V'][^r'HKEY_CLASSES_ROOT\\Wow6432Node\\AppId"
           "\\{Tandor}\\V']", b"[t.ttf][app][app]"),

    # Filter: what only a whole stream shows.
    filt("pass XX", "pass 1.1", b"pass XX\n", b"pass 1.1\n"),
    filt("q", "r", b"line one\nline two", b"line one\nline two\n", status=1),
    filt("q", "r", b"", b"", status=1),
    filt("ab", "Z", b"a" * 70000 + b"b", b"a" * 69999 + b"Z\n", name="occurrence after a long run"),
    filt("pass XX", "pass 1.1", BIG_INPUT, BIG_INPUT.replace(b"pass XX", b"pass 1.1"),
         stdin_file=True, name="megabytes from a file, in order"),
    filt("pass XX", "pass 1.1", BIG_INPUT, BIG_INPUT.replace(b"pass XX", b"pass 1.1"),
         name="megabytes from a pipe, in order"),
    filt("pass XX", "pass 1.1", BIG_INPUT, b"", status=1, stdin_file=True, stdout_path="/dev/full",
         only="posix", name="megabytes to a full disk fail"),
    filt("pass XX", "pass 1.1", BIG_INPUT, b"", status=1, stdin_file=True, stdout_path=CLOSED_PIPE,
         only="posix", name="megabytes to a closed pipe fail, no signal"),
    filt("b", "c", b"a\x00b\r\nb\x1ab\n", b"a\x00c\r\nc\x1ac\n", only="posix",
         name="NUL, CR LF and 0x1A pass unchanged"),

    # Rewrite, read back by Wine's own reg export.
    rewrite(f"{RW}\\Settings", "pass XX", "pass 1.1", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Settings": "pass 1.1"}}),
    rewrite(f"{RW}\\", "XX", "YY", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {None: "default YY"}}),
    rewrite(f"{RW}\\Special", "q", '"\\', REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Special": 'x ""\\" \\ y'}}),
    rewrite("HKEY_CURRENT_USER\\Software\\Tandor\\Rw\\Percent", "XX", "%s", REWRITE_OK, 0,
            {r"HKCU\Software\Tandor\Rw": {"Percent": "50% %s"}}),
    rewrite(f"{WOW}\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Tandor", "t.", "new.",
            REWRITE_OK, 0, {FONTS: {"Tandor": "new.ttf"}}),
    # Every root's file; Wine's HKEY_CLASSES_ROOT, unlike the others, takes a
    # leading backslash.
    rewrite("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\Tandor\\User", "ann", "bob", REWRITE_OK, 0,
            {r"HKCU\Software\Tandor": {"User": "bob"}}),
    rewrite("HKEY_USERS\\.Default\\Software\\Tandor\\Default", "from", "to", REWRITE_OK, 0,
            {r"HKU\.Default\Software\Tandor": {"Default": "to default"}}),
    rewrite("HKEY_CLASSES_ROOT\\\\.tnd\\", "tnd", "x", REWRITE_OK, 0, {r"HKCR\.tnd": {None: "xfile"}}),
    # Escapes Wine's loader must take: \x padded before a hex digit, a
    # surrogate pair, a tab, octal before a digit (UTF-8: the POSIX build's).
    rewrite(f"{RW}\\Spaces", "X", "\u00e9a\U0001F600\t\x017", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Spaces": "a \u00e9a\U0001F600\t\x017 b \u00e9a\U0001F600\t\x017 c"}},
            only="posix"),
    rewrite(f"{RW}\\Untouched", "pass XX", "y", REWRITE_NOT_FOUND, 1),
    rewrite(f"{RW}\\Expand", "pass XX", "y", not_found(f"{RW}\\Expand"), 3),
    rewrite(f"{RW}\\Number", "7", "8", not_found(f"{RW}\\Number"), 3),
    rewrite("HKEY_LOCAL_MACHINE\\Software\\NoSuchKey\\V", "a", "b",
            not_found("HKEY_LOCAL_MACHINE\\Software\\NoSuchKey\\V"), 3),
    # The write sets no bound of its own; the value it leaves is too long to read.
    rewrite(f"{RW}\\Grow", "G", "GG", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Grow": "G" * 2000}}),
    rewrite(f"{RW}\\Grow", "G", "H", not_found(f"{RW}\\Grow"), 3),

    # Text-stream rules of the Windows build.
    expand("^i^n", b"> x\r\n", stdin=b"x\r"),
    expand("^i", b"> John", stdin=b"John\r\n", only="wine"),
    filt("b", "c", b"a\r\nb\rb", b"a\nc\rc\n", only="wine", name="CR LF is one line end, CR stays"),
    filt("b", "c", b"b\n\x1ab\n", b"c\n", only="wine", name="0x1A ends piped input"),

    # Command lines as the Windows build splits them (the rules: command_line_test.cc).
    Case("quoted spaces make one argument", raw='"a b" c', out=USAGE, status=1, only="wine"),
    Case("doubled quote inside quotes ends quoting", raw='"a""b c"', out=USAGE, status=1,
         only="wine"),
    Case("2N+1 backslashes before a quote", raw='a\\\\\\"b', out=b'a\\"b', only="wine"),
    Case("no wildcard expansion", raw="*.*", out=b"*.*", only="wine"),
    Case("prompt tag survives the command line", raw="\"^i'Enter  name:'\"", stdin=b"Ann\n",
         out=b"Enter  name:Ann", only="wine"),
]
