"""The black-box case table: command line, standard input, working directory
and environment in; exact standard output bytes and exit status out.

Every case runs against the POSIX binary and against tandor.exe under Wine,
unless `only` names one build. Expected bytes are written with '\n' line
ends; for the Windows build the runner expects each '\n' as CR LF.

`cwd` may start with "{scratch}", the run's private scratch folder (the
default is {scratch}/dir1/dir2), or "{prefix}", its Wine prefix. In expected
bytes "{scratch}" stands for the scratch folder's DOS path after the drive,
so ^d^p expands to Z:{scratch}\\dir1\\dir2 on both builds.
"""

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


USAGE = (
    b"\n Quorvel v1.5\n\n"
    b"  Usage: \n\n"
    b"     Tandor \"ControlString\"\n\n"
    b"             or\n\n"
    b"     Tandor -r \"SearchString\" \"ReplaceString\"\n\n"
    b"  where ControlString may contain the following tags to expand:\n"
    b"    ^d       - The current drive ('c:')\n"
    b"    ^p       - The current path  ('\\orbin\\tarvel')\n"
    b"    ^i       - typed input - will prompt for string on STDIN.\n"
    b"               Optionally can include prompt string in single-quotes.\n\n"
    b"                   Example: ^i'Enter  name:'\n\n"
    b"    ^r'key'  - The value of the text registry key named 'key'.\n"
    b"               To retrieve the '(default)' key value, end the name\n"
    b"               in a backslash.\n\n"
    b"                   Example: ^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\Directory\\'\n\n"
    b"    ^n       - newline ('\\n')\n\n"
    b"  Note: This program does NOT automatically add a newline\n"
    b"  at the end of the line.  This allows you to run the program\n"
    b"  several times, appending the output to a file, and place\n"
    b"  output on the same line in the file.  Use ^n where you want\n"
    b"  a newline.\n\n"
    b"  Examples:\n\n"
    b"    Tandor \"set currentDir=^p^nSET currentDrive=^d^n\" >temp.bat\n\n"
    b"      This will place the following in 'temp.bat':\n\n"
    b"         set currentDir=\\dir1\\dir2\n"
    b"         set currentDrive=c:\n\n\n"
    b"    Tandor -r \"pass XX\" \"pass 1.1\"  <globalsettings.props >temp\n\n"
    b"      This will replace \"pass XX\" with \"pass 1.1\" from\n"
    b"      STDIN (which will contain 'globalsettings.props') and\n"
    b"      output the results to STDOUT (which is sent to 'temp').\n"
    b"      EXITCODE will be set to 1 if \"pass XX\" is not present in STDIN.\n\n"
    b"    Tandor -w \"regkey\" \"pass XX\" \"pass 1.1\"\n\n"
    b"      This will replace \"pass XX\" with \"pass 1.1\" in the\n"
    b"      registry key \"regkey\".  The EXITCODE will be set to 1\n"
    b"      if \"pass XX\" is not present in the registry key.  The EXITCODE\n"
    b"      will be set to 2 if the registry key does not exist.\n\n"
)

PROMPT_ERROR = b"\n\n\n !!! Error in prompt string!!! \n\n\n"
NO_KEY_ERROR = b"\n\n\n !!! Error: No Registry key specified !!! \n\n\n"
KEY_QUOTE_ERROR = b"\n\n\n !!! Error in specifying Registry key !!! \n\n\n"
REWRITE_OK = b"\n\nSuccessfully modified registry key.\n\n"
REWRITE_NOT_FOUND = b"\n\nSearch string not found.  No registry writes performed.\n\n"
REWRITE_FAILED = b"\n\nERROR: Failed Registry write.\n\n"


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
]
# Roots whose whole content is compared before and after the run.
CHECKED_KEYS = [r"HKLM\Software\Abc", r"HKLM\Software\Tandor", r"HKCU\Software\Tandor"]


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
    Case("-r with one text", ["-r", "a"], USAGE, 1),
    Case("unknown option", ["-x", "a", "b"], USAGE, 1),
    Case("-w with two texts", ["-w", "a", "b"], USAGE, 1),
    Case("-r with three texts", ["-r", "a", "b", "c"], USAGE, 1),
    Case("five arguments", ["a", "b", "c", "d", "e"], USAGE, 1),
    Case("dash alone selects nothing", ["-", "a", "b"], USAGE, 1),
    Case("two plain arguments", ["a", "b"], USAGE, 1),
    Case("-r alone is expanded", ["-r"], b"-r"),
    Case("-? alone is expanded", ["-?"], b"-?"),
    Case("empty control string", [""], b""),
    Case("-R selects the filter", ["-R", "a", "b"], b"b\n", stdin=b"a\n"),
    Case("-rfoo selects the filter", ["-rfoo", "a", "b"], b"xb\n", stdin=b"xa"),
    Case("-W with three texts shows usage", ["-W", "a", "b"], USAGE, 1),

    # Expansion.
    expand("plain text, no newline added", b"plain text, no newline added"),
    expand("set currentDir=^p^nSET currentDrive=^d^n",
           b"set currentDir={scratch}\\dir1\\dir2\nSET currentDrive=Z:\n"),
    expand("^D|^P|^N", b"Z:|{scratch}\\dir1\\dir2|\n"),
    expand("^d^p", b"Z:\\", cwd="/"),
    expand("^d^p", b"Z:\\tmp", cwd="/tmp"),
    expand("^d^p", b"C:\\users", cwd="{prefix}/drive_c/users"),
    expand("^d^p", b"C:\\", cwd="{prefix}/drive_c"),
    expand("a^xb", b"ab"),
    expand("a^^b", b"ab"),
    expand("a^", b"a"),
    expand("^", b""),
    expand("^^^d", b"Z:"),
    expand("100% %s %d %n", b"100% %s %d %n"),
    expand("^i", b"> John", stdin=b"John\n"),
    expand("^I", b"> John", stdin=b"John"),
    expand("^iX", b"> JohnX", stdin=b"John\n"),
    expand("^i'Enter  name:'", b"Enter  name:John", stdin=b"John\n"),
    expand("^i''[^i'']", b"a[b]", stdin=b"a\nb\n"),
    expand("^i'a^db'", b"a^dbv", stdin=b"v\n"),
    expand("1=^i 2=^i'?'", b"> ?1=one 2=two", stdin=b"one\ntwo\nthree\n"),
    expand("^i", b"> ", status=1),
    expand("first=^i second=^i", b"> > ", status=1, stdin=b"only\n"),
    expand("^i", b"> ", stdin=b"\n"),
    expand("^i'Name", PROMPT_ERROR, status=1, stdin=b"x\n"),
    expand("ok ^i then ^i'bad", b"> " + PROMPT_ERROR, status=1, stdin=b"x\n"),
    expand("^i", b"> ^d^p", stdin=b"^d^p\n"),
    # Each prompt is on the terminal before the tool waits; Wine's console echoes the line.
    expand("^i'Name: '^i'Town: '", b"Name: Town: AnnParis", only="posix",
           terminal=((b"Name: ", b"Ann\n"), (b"Town: ", b"Paris\n"))),
    expand("^i'Name: '^i'Town: '", b"Name: Ann\nTown: Paris\nAnnParis", only="wine",
           terminal=((b"Name: ", b"Ann\r"), (b"Town: ", b"Paris\r"))),
    expand("^rabc", NO_KEY_ERROR, status=1),
    expand("^r", NO_KEY_ERROR, status=1),
    expand("^r'abc", KEY_QUOTE_ERROR, status=1),
    expand("text ^R'x", KEY_QUOTE_ERROR, status=1),
    expand("[^r'']", b"[]"),
    expand("[^r'NoSuchRoot\\x']", b"[]"),
    expand(f"v=^r'{HKLM}\\Version'", b"v=1.5"),
    expand(f"^R'{HKLM}\\Version'^n", b"1.5\n"),
    expand(f"[^r'{HKLM}\\']", b"[C:\\Program Files\\Abc]"),
    expand(f"[^r'{HKLM}\\Directory\\']", b"[C:\\Abc\\Dir]"),
    expand(f"[^r'{HKLM}\\Quoted']", b'[say "hi" \\ back\\\\slash]'),
    expand(f"[^r'{HKLM}\\Percent']", b"[100%s %d %PATH%]"),
    expand(f"[^r'{HKLM}\\Tags']", b"[^d^p^n]"),
    expand(f"[^r'{HKLM}\\Expand']", b"[]"),
    expand(f"[^r'{HKLM}\\Number']", b"[]"),
    expand(f"[^r'{HKLM}\\Multi']", b"[]"),
    expand(f"[^r'{HKLM}\\Binary']", b"[]"),
    expand(f"[^r'{HKLM}\\Empty']", b"[]"),
    expand(f"[^r'{HKLM}\\Long1022']", b"[" + LONG_1022.encode() + b"]"),
    expand(f"[^r'{HKLM}\\Long1023']", b"[]"),
    expand(f"[^r'{HKLM}\\@']", b"[named at]"),
    expand(f"[^r'{HKLM}\\Missing']", b"[]"),
    expand(f"[^r'{HKLM}\\Br[ck]ets\\v']", b"[brackets]"),
    expand("[^r'HKEY_LOCAL_MACHINE\\SOFTWARE\\ABC\\VERSION']", b"[1.5]"),
    expand("[^r'hkey_local_machine\\Software\\Abc\\Version']", b"[]"),
    expand("[^r'HKLM\\Software\\Abc\\Version']", b"[]"),
    expand("[^r'HKEY_CURRENT_USER\\Software\\Tandor\\User']", b"[ann]"),
    expand("[^r'HKEY_CURRENT_USER\\RootValue']", b"[at the root]"),
    expand("[^r'HKEY_CURRENT_USER\\\\RootValue']", b"[at the root]"),
    expand("[^r'HKEY_CLASSES_ROOT\\.tnd\\']", b"[tndfile]"),
    expand("[^r'HKEY_USERS\\.Default\\Software\\Tandor\\Default']", b"[from default]"),
    # The sub-key keeps its trailing backslash; the registry ignores it.
    expand("[^r'HKEY_LOCAL_MACHINE\\Software\\Abc\\\\Version']", b"[1.5]"),
    expand("[^r'HKEY_LOCAL_MACHINE" + "\\x" * 600 + "']", b"[]"),
    expand(f"^r'{HKLM}\\Version'^r'{HKLM}\\Settings'", b"1.5pass XX"),
    expand(f"[^r'{HKLM}\\Version']", b"[]", env={"WINEPREFIX": "/nonexistent/prefix"}, only="posix"),
    expand("^d^p", b"Z:{scratch}\\dir1\\dir2", env={"WINEPREFIX": "/nonexistent/prefix"},
           only="posix"),
    expand("x" * 20000, b"x" * 20000),
    expand("^i", b"> " + b"y" * 50000, stdin=b"y" * 50000 + b"\n"),
    expand("^i'" + "p" * 400 + "'", b"p" * 400 + b"z", stdin=b"z\n"),

    # Filter.
    filt("pass XX", "pass 1.1", b"pass XX\n", b"pass 1.1\n"),
    filt("X", "Y", b"a X b X c\n", b"a Y b Y c\n"),
    filt("aa", "b", b"aaaa\n", b"bb\n"),
    filt("aa", "b", b"aaa\n", b"ba\n"),
    filt("pass XX", "y", b"Pass XX\n", b"Pass XX\n", status=1),
    filt("c", "Z", b"abc\n\nabc", b"abZ\n\nabZ\n"),
    filt("q", "r", b"line one\nline two", b"line one\nline two\n", status=1),
    filt("q", "r", b"", b"", status=1),
    filt("q", "r", b"\n\n", b"\n\n", status=1),
    filt("%s", "%d", b"100% %s %n\n", b"100% %d %n\n"),
    filt("", "x", b"abc\n", b"abc\n", status=1, name="empty search text"),
    filt("a\nb", "x", b"a\nb\n", b"a\nb\n", status=1, name="search text with a newline"),
    filt("a", "aa", b"aaa", b"aaaaaa\n"),
    filt("XX", "", b"aXXbXX\n", b"ab\n"),
    filt("ab", "Z", b"a" * 70000 + b"b", b"a" * 69999 + b"Z\n", name="occurrence after a long run"),
    filt("pass XX", "pass 1.1", BIG_INPUT, BIG_INPUT.replace(b"pass XX", b"pass 1.1"),
         stdin_file=True, name="megabytes from a file, in order"),
    filt("pass XX", "pass 1.1", BIG_INPUT, BIG_INPUT.replace(b"pass XX", b"pass 1.1"),
         name="megabytes from a pipe, in order"),
    filt("pass XX", "pass 1.1", BIG_INPUT, b"", status=1, stdin_file=True, stdout_path="/dev/full",
         only="posix", name="megabytes to a full disk fail"),
    filt("pass XX", "pass 1.1", BIG_INPUT, b"", status=1, stdin_file=True, stdout_path=CLOSED_PIPE,
         only="posix", name="megabytes to a closed pipe fail, no signal"),
    filt("b", "c", b"a\x00b\n", b"a\x00c\n", only="posix", name="NUL kept"),
    filt("b", "c", b"a\r\nb\r\n", b"a\r\nc\r\n", only="posix", name="CR LF passes unchanged"),
    filt("b", "c", b"b\x1ab\n", b"c\x1ac\n", only="posix", name="0x1A is an ordinary byte"),

    # Rewrite.
    rewrite(f"{RW}\\Settings", "pass XX", "pass 1.1", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Settings": "pass 1.1"}}),
    rewrite(f"{RW}\\Spaces", "X", "Y", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Spaces": "a Y b Y c"}}),
    rewrite(f"{RW}\\AtEnd", "c", "end", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"AtEnd": "abend"}}),
    rewrite(f"{RW}\\", "XX", "YY", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {None: "default YY"}}),
    rewrite(f"{RW}\\Special", "q", '"\\', REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Special": 'x ""\\" \\ y'}}),
    rewrite(f"{RW}\\Untouched", "pass XX", "y", REWRITE_NOT_FOUND, 1),
    rewrite(f"{RW}\\Untouched", "", "y", REWRITE_NOT_FOUND, 1),
    rewrite(f"{RW}\\Missing", "a", "b", not_found(f"{RW}\\Missing"), 3),
    rewrite(f"{RW}\\Empty", "a", "b", not_found(f"{RW}\\Empty"), 3),
    rewrite(f"{RW}\\Expand", "pass XX", "y", not_found(f"{RW}\\Expand"), 3),
    rewrite(f"{RW}\\Number", "7", "8", not_found(f"{RW}\\Number"), 3),
    rewrite("HKEY_LOCAL_MACHINE\\Software\\NoSuchKey\\V", "a", "b",
            not_found("HKEY_LOCAL_MACHINE\\Software\\NoSuchKey\\V"), 3),
    rewrite("hkey_local_machine\\Software\\Tandor\\Rw\\Settings", "a", "b",
            not_found("hkey_local_machine\\Software\\Tandor\\Rw\\Settings"), 3),
    rewrite("HKEY_CURRENT_USER\\Software\\Tandor\\Rw\\%s%n%d", "a", "b",
            not_found("HKEY_CURRENT_USER\\Software\\Tandor\\Rw\\%s%n%d"), 3),
    rewrite("HKEY_CURRENT_USER\\Software\\Tandor\\Rw\\Percent", "XX", "%s", REWRITE_OK, 0,
            {r"HKCU\Software\Tandor\Rw": {"Percent": "50% %s"}}),
    # The write sets no bound of its own; the value it leaves is too long to read.
    rewrite(f"{RW}\\Grow", "G", "GG", REWRITE_OK, 0,
            {r"HKLM\Software\Tandor\Rw": {"Grow": "G" * 2000}}),
    expand(f"[^r'{RW}\\Grow']", b"[]"),
    rewrite(f"{RW}\\Grow", "G", "H", not_found(f"{RW}\\Grow"), 3),

    # Text-stream rules of the Windows build.
    expand("^i^n", b"> x\r\n", stdin=b"x\r"),
    expand("^i", b"> John", stdin=b"John\r\n", only="wine"),
    expand("^i", b"> John\r", stdin=b"John\r\n", only="posix"),
    filt("b", "c", b"a\r\nb\r\n", b"a\nc\n", only="wine", name="CR LF is one line end"),
    filt("b", "c", b"a\rb", b"a\rc\n", only="wine", name="a lone CR stays"),
    filt("b", "c", b"b\n\x1ab\n", b"c\n", only="wine", name="0x1A ends piped input"),
    filt("b", "c", b"\x1ab\n", b"", status=1, only="wine", name="0x1A first: empty input"),

    # Command lines as the Windows build splits them.
    Case("quoted spaces make one argument", raw='"a b" c', out=USAGE, status=1, only="wine"),
    Case("escaped quote", raw='"a\\"b"', out=b'a"b', only="wine"),
    Case("2N backslashes before a quote", raw='a\\\\"b c"', out=b"a\\b c", only="wine"),
    Case("2N+1 backslashes before a quote", raw='a\\\\\\"b', out=b'a\\"b', only="wine"),
    Case("backslashes elsewhere are literal", raw='a\\\\b', out=b"a\\\\b", only="wine"),
    Case("doubled quote inside quotes ends quoting", raw='"a""b c"', out=USAGE, status=1,
         only="wine"),
    Case("doubled quote inside quotes is a quote", raw='"a""b"', out=b'a"b', only="wine"),
    Case("empty argument", raw='""', out=b"", only="wine"),
    Case("two empty arguments", raw='"" ""', out=USAGE, status=1, only="wine"),
    Case("no wildcard expansion", raw="*.*", out=b"*.*", only="wine"),
    Case("single quotes are ordinary", raw="'a b'", out=USAGE, status=1, only="wine"),
    Case("tabs separate", raw='-r\tb\t"c d"', stdin=b"abc\n", out=b"ac dc\n", only="wine"),
    Case("prompt tag survives the command line", raw="\"^i'Enter  name:'\"", stdin=b"Ann\n",
         out=b"Enter  name:Ann", only="wine"),
]
