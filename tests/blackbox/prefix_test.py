#!/usr/bin/env python3
# The built POSIX tool rewriting a real Wine prefix under races, limits and
# running servers, where a rewrite must either keep its change or fail
# without changing anything. Each test starts from the registry files Wine
# saved. Usage: prefix_test.py TANDOR [--sanitized] [unittest options];
# exits with 77 (skipped) without Wine. What each read and rewrite gives is
# the case table's (cases.py).
import fcntl, os, pathlib, re, resource, shutil, signal, subprocess, sys, tempfile, time, unittest  # noqa
from subprocess import DEVNULL, PIPE

import cases as table
from wine_prefix import WinePrefix, cached_prefix, dos_path

TANDOR = None
SANITIZED = False  # AddressSanitizer reserves far more address space than a memory limit allows
FIXTURE = pathlib.Path(__file__).resolve().parent.parent / "data" / "wine_fixture.reg"
PLAIN = r"HKEY_LOCAL_MACHINE\Software\TandorTest\Settings\Plain"
CONC = r"HKEY_LOCAL_MACHINE\Software\TandorTest\Conc"
OK = b"\n\nSuccessfully modified registry key.\n\n"
FAILED = b"\n\nERROR: Failed Registry write.\n\n"


def limited(**limits):
    """A preexec_fn that sets resource limits (RLIMIT_<NAME>=bytes) in the child."""
    return lambda: [resource.setrlimit(getattr(resource, "RLIMIT_" + name), (size, size))
                    for name, size in limits.items()]


class RewritesOnAWinePrefix(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="tandor-prefix-"))
        cls.prefix = WinePrefix(str(cls.scratch / "pfx"))
        # Servers put their folders in TMPDIR: here they go with the scratch folder.
        cls.prefix.env["TMPDIR"] = str(cls.scratch)
        cls.prefix.copy_from(cached_prefix(table.FIXTURES, table.CHECKED_KEYS))
        cls.prefix.wine("reg", "import", dos_path(FIXTURE))
        cls.prefix.stop_server()  # it saves the files the POSIX build reads
        cls.saved = {name: cls.file(name) for name in ("system.reg", "user.reg", "userdef.reg")}
        text = cls.saved["system.reg"]
        cls.server_dir = cls.scratch / pathlib.Path(cls.prefix.path, "wineserver").read_text() / (
            "server-%x-%x" % (os.stat(cls.prefix.path).st_dev, os.stat(cls.prefix.path).st_ino))
        assert b'"V119"="old"' in text, "the fixture did not reach system.reg"

    @classmethod
    def tearDownClass(cls):
        cls.prefix.stop_server()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def file(cls, name):
        return pathlib.Path(cls.prefix.path, name).read_bytes()

    def setUp(self):
        for name, text in self.saved.items():
            pathlib.Path(self.prefix.path, name).write_bytes(text)
        self.listing = sorted(os.listdir(self.prefix.path))

    def tearDown(self):
        self.assertEqual(sorted(os.listdir(self.prefix.path)), self.listing, "files left behind")

    def tandor(self, *args, stdin=DEVNULL, env=None, **options):
        return subprocess.run([TANDOR, *args], stdin=stdin, stdout=PIPE, stderr=PIPE,
                              env=env or self.prefix.env, timeout=120, **options)

    def start(self, *args, env=None, **options):
        return subprocess.Popen([TANDOR, *args], stdout=PIPE, stderr=PIPE,
                                env=env or self.prefix.env, **options)

    def rewrite_plain(self, env=None):
        return self.tandor("-w", PLAIN, "pass XX", "new", env=env)

    def assertUnchanged(self):
        for name, text in self.saved.items():
            self.assertEqual(self.file(name), text, name)

    def server(self, *flags, tmpdir=None):
        env = dict(self.prefix.env, TMPDIR=str(tmpdir or self.scratch))
        return subprocess.run(["wineserver", *flags], env=env, stderr=DEVNULL, timeout=60)

    def test_concurrent_rewrites_of_different_values_all_keep_their_change(self):
        runs = [self.start("-w", rf"{CONC}\V{i}", "old", f"new{i}") for i in range(100, 120)]
        self.assertEqual([(run.communicate(timeout=120)[0], run.returncode) for run in runs],
                         [(OK, 0)] * 20)
        # The saved file with exactly these twenty changes, but for the key's time.
        untimed = lambda text: re.sub(rb"(?m)^#time=.*\n|(?<=\]) \d+$", b"", text)  # noqa: E731
        want = re.sub(rb'(?m)^"V(1[01]\d)"="old"$', rb'"V\1"="new\1"', self.saved["system.reg"])
        self.assertEqual(untimed(self.file("system.reg")), untimed(want))

    def test_limits_fail_a_run_plainly_never_by_a_signal(self):
        # A file size limit below system.reg's size stops the temporary file:
        # the write fails whole (2); reads still work; and the filter's output
        # past the limit is a failed write (1), as on a full disk.
        small_files = limited(FSIZE=64 * 1024)
        read = self.tandor(f"^r'{PLAIN}'", preexec_fn=small_files)
        self.assertEqual((read.returncode, read.stdout, read.stderr), (0, b"pass XX", b""))
        write = self.tandor("-w", PLAIN, "pass XX", "new", preexec_fn=small_files)
        self.assertEqual((write.returncode, write.stdout, write.stderr), (2, FAILED, b""))
        self.assertUnchanged()
        with tempfile.TemporaryFile() as big, open(self.scratch / "out", "wb") as out:
            big.write(b"pass XX\n" * 50000)
            big.seek(0)
            filtered = subprocess.run([TANDOR, "-r", "XX", "YY"], stdin=big, stdout=out,
                                      stderr=PIPE, preexec_fn=small_files)
        self.assertEqual((filtered.returncode, filtered.stderr), (1, b""))
        if not SANITIZED:  # A typed line without end, out of memory: a plain failure.
            with open("/dev/zero", "rb") as zeros:
                typed = self.tandor("^i", stdin=zeros, preexec_fn=limited(AS=300 << 20))
            self.assertEqual((typed.returncode, typed.stderr), (1, b""))

    def test_no_write_while_a_server_may_serve_the_prefix(self):
        # The lock file and folders stay after a server ends: only the lock and
        # the process count. A server may sit under a TMPDIR the tool cannot
        # know, and a stand-in of any name may work in its folder.
        hidden = self.scratch / "hidden" / self.server_dir.parent.name / self.server_dir.name
        hidden.mkdir(parents=True)
        for folder in (hidden, hidden.parent):
            folder.chmod(0o700)  # as Wine wants its folders, or the server refuses them
        home = self.scratch / "home"
        home.mkdir()
        (home / ".wine").symlink_to(self.prefix.path)
        shutil.copy("/bin/sleep", self.scratch / "wineserver")
        shutil.copy("/bin/sleep", self.scratch / "renamed")
        sleep = lambda name, **options: subprocess.Popen(  # noqa: E731
            [self.scratch / name, "600"], **options)
        cases = [  # (what runs, how it starts, whether a write must fail while it does)
            ("a server", lambda: self.server("-p"), True),
            ("a server under another TMPDIR", lambda: self.server("-p", tmpdir=hidden.parent.parent),
             True),
            ("a process of another name in the server folder", lambda: sleep("renamed", cwd=hidden),
             True),
            ("one named wineserver whose HOME holds the prefix",
             lambda: sleep("wineserver", env={"HOME": str(home)}), True),
            ("one named wineserver with no environment, of no prefix",
             lambda: sleep("wineserver", env={}), False),
        ]
        for name, start, blocks in cases:
            with self.subTest(name):
                self.setUp()
                started = start()
                if isinstance(started, subprocess.Popen):
                    time.sleep(0.2)  # it has moved to its folder by then
                else:
                    self.assertEqual(started.returncode, 0, "the server did not start")
                write = self.rewrite_plain()
                self.assertEqual((write.returncode, write.stdout), (2, FAILED) if blocks else (0, OK))
                if blocks:
                    self.assertUnchanged()
                if isinstance(started, subprocess.Popen):
                    started.kill()
                    started.wait()
                for tmpdir in (None, hidden.parent.parent):
                    self.server("-k", tmpdir=tmpdir)
                    self.server("-w", tmpdir=tmpdir)
                self.setUp()  # a server saves the files as it ends
                self.assertEqual(self.rewrite_plain().returncode, 0, "still blocked once it ended")
        # An upstream server's lock, held here: only the lock tells.
        upstream = pathlib.Path(f"/tmp/.wine-{os.getuid()}", self.server_dir.name)
        upstream.mkdir(parents=True, exist_ok=True)
        try:
            self.setUp()
            with open(upstream / "lock", "w") as lock:
                fcntl.lockf(lock, fcntl.LOCK_EX, 1, 0)
                self.assertEqual(self.rewrite_plain().returncode, 2)
            self.assertUnchanged()
        finally:
            shutil.rmtree(upstream)
            if not os.listdir(upstream.parent):
                upstream.parent.rmdir()

    def test_no_server_starts_while_a_write_is_stopped_halfway(self):
        # A write held up (stopped, or stalled at its fsync) keeps the prefix's
        # server locks from before it reads the file until after it replaces it:
        # a server starting then backs off. One started where no lock could be
        # taken, under a TMPDIR unknown when the write began, fails the write.
        padded = self.saved["system.reg"] + b";; padding\n" * 3000000
        for other_tmpdir in (None, self.scratch / "elsewhere"):
            with self.subTest(other_tmpdir=other_tmpdir):
                pathlib.Path(self.prefix.path, "system.reg").write_bytes(padded)
                write = self.start("-w", PLAIN, "pass XX", "new")
                self.wait_until_it_holds_a_server_lock(write.pid)
                os.kill(write.pid, signal.SIGSTOP)
                if other_tmpdir:
                    other_tmpdir.mkdir()
                    self.assertEqual(self.server("-p", tmpdir=other_tmpdir).returncode, 0)
                    time.sleep(0.5)
                else:
                    self.assertEqual(self.server("-p").returncode, 2)  # backed off
                os.kill(write.pid, signal.SIGCONT)
                out, _ = write.communicate(timeout=120)
                self.assertEqual((write.returncode, out), (2, FAILED) if other_tmpdir else (0, OK))
                self.assertEqual(self.file("system.reg") == padded, bool(other_tmpdir))
                self.server("-k", tmpdir=other_tmpdir)
                self.server("-w")

    def wait_until_it_holds_a_server_lock(self, pid):
        deadline = time.monotonic() + 30
        while f"POSIX  ADVISORY  WRITE {pid} " not in pathlib.Path("/proc/locks").read_text():
            self.assertLess(time.monotonic(), deadline, "the write never took a server lock")
            time.sleep(0.002)


def main():
    global TANDOR, SANITIZED
    if len(sys.argv) < 2:
        sys.exit("usage: prefix_test.py TANDOR [--sanitized] [unittest options]")
    TANDOR = os.path.abspath(sys.argv.pop(1))
    if "--sanitized" in sys.argv:
        sys.argv.remove("--sanitized")
        SANITIZED = True
    if not (shutil.which("wine") and shutil.which("wineserver")):
        print("skipped: the prefix tests need Wine (apt-get install wine wine64)")
        sys.exit(77)
    unittest.main(verbosity=2)


if __name__ == "__main__":
    main()
