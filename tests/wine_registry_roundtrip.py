#!/usr/bin/env python3
"""Real-Wine round trip of the POSIX registry service: values that Wine
itself stored are read by tandor as Wine reads them, and what tandor writes
is what Wine then reads. Usage: wine_registry_roundtrip.py TANDOR
(exit 77 when Wine is not installed; about 45 s, most of it wineboot)"""
import os, shutil, subprocess, sys, tempfile, hashlib

tandor = os.path.abspath(sys.argv[1])
if not shutil.which("wine"):
    print("wine not installed: skipped"); sys.exit(77)
work = tempfile.mkdtemp(prefix="tandor-wine-")
prefix = os.path.join(work, "pfx")
env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
def run(args, **kw):
    return subprocess.run(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=300, **kw)
run(["wineboot", "-i"]); run(["wineserver", "-w"])

HKLM = "HKEY_LOCAL_MACHINE\\Software\\TandorTest"
values = {  # name: text, stored through Wine's own reg import
    "Plain": "pass XX",
    "Unicode": "Br\u00e4[ck]ets \u20ac 1 \U0001F600",
    "Quotes": 'a "quoted" \\back\\slash\\',
    "Controls": "tab\there",
    "@": "at sign",
}
def reg_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'
lines = ["Windows Registry Editor Version 5.00", "", f"[{HKLM}]", "@=\"default\""]
lines += [f"{reg_string(k)}={reg_string(v)}" for k, v in values.items()]
lines += ['"Expand"=hex(2):25,00,50,00,00,00', "", f"[{HKLM}\\Implied\\Child]", '"c"="child"', "",
          "[HKEY_CURRENT_USER\\Software\\TandorTest]", '"Who"="current user"', "",
          "[HKEY_USERS\\.Default\\Software\\TandorTest]", '"Who"="default user"', "",
          "[HKEY_CLASSES_ROOT\\.tandortest]", '@="tandorfile"', ""]
regfile = os.path.join(work, "fixtures.reg")
with open(regfile, "wb") as f:
    f.write("\r\n".join(lines).encode("utf-16"))
run(["wine", "regedit", "/s", "Z:" + regfile.replace("/", "\\")]); run(["wineserver", "-w"])

passed = failed = 0
def check(what, got, want):
    global passed, failed
    if got == want: passed += 1
    else: failed += 1; print(f"FAIL {what}: got {got!r}, want {want!r}")
def read(path):
    return run([tandor, f"^r'{path}'"]).stdout.decode("utf-8", "replace")
def wine_query(key, name):
    out = run(["wine", "reg", "query", key] + (["/ve"] if name is None else ["/v", name])).stdout
    return out

for name, text in values.items():
    check("read " + name, read(f"{HKLM}\\{name}"), text)
check("read default", read(f"{HKLM}\\"), "default")
check("read REG_EXPAND_SZ", read(f"{HKLM}\\Expand"), "")
check("read HKCU", read("HKEY_CURRENT_USER\\Software\\TandorTest\\Who"), "current user")
check("read HKU .Default", read("HKEY_USERS\\.Default\\Software\\TandorTest\\Who"), "default user")
check("read HKU SID", read("HKEY_USERS\\S-1-5-21-0-0-0-1000\\Software\\TandorTest\\Who"), "current user")
check("read HKCR", read("HKEY_CLASSES_ROOT\\.tandortest\\"), "tandorfile")
# Wine links Software\Microsoft\Windows\CurrentVersion\Time Zones to the
# Windows NT key; compare with what Wine's own reg.exe finds through it.
tz = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Time Zones\\UTC"
wine_std = wine_query(tz, "Std").decode().split("REG_SZ")[1].strip()
run(["wineserver", "-w"])
check("read through a link key", read(tz + "\\Std"), wine_std)
check("read implied key's child", read(f"{HKLM}\\Implied\\Child\\c"), "child")

def rewrite(path, old, new):
    return run([tandor, "-w", path, old, new]).returncode
def wine_reads(name):  # the value as Wine's own regedit exports it
    out = os.path.join(work, "out.reg")
    run(["wine", "regedit", "/e", "Z:" + out.replace("/", "\\"), HKLM])
    run(["wineserver", "-w"])  # the server saves and ends before tandor runs again
    with open(out, "rb") as f:
        text = f.read().decode("utf-16")
    key = '@=' if name == "" else reg_string(name) + "="
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith(key): return line[len(key):]
    return None

system = os.path.join(prefix, "system.reg")
check("rewrite Plain", rewrite(f"{HKLM}\\Plain", "XX", "1.1"), 0)
check("Wine reads Plain", wine_reads("Plain"), reg_string("pass 1.1"))
check("rewrite Unicode", rewrite(f"{HKLM}\\Unicode", "\u00e4", "\u00fc\"\\"), 0)
check("Wine reads Unicode", wine_reads("Unicode"), reg_string(values["Unicode"].replace("\u00e4", "\u00fc\"\\")))
check("rewrite Quotes", rewrite(f"{HKLM}\\Quotes", "quoted", "q\u20acd"), 0)
check("Wine reads Quotes", wine_reads("Quotes"), reg_string(values["Quotes"].replace("quoted", "q\u20acd")))
check("Wine still reads Controls", wine_reads("Controls"), reg_string(values["Controls"]))
check("rewrite REG_EXPAND_SZ refused", rewrite(f"{HKLM}\\Expand", "%", "x"), 3)

run(["wineserver", "-w"])
before = hashlib.sha256(open(system, "rb").read()).hexdigest()
server = subprocess.Popen(["wineserver", "-f", "-p"], env=env, stderr=subprocess.DEVNULL)
run(["wine", "cmd", "/c", "exit"])  # the server is up and holds its lock
check("rewrite while the server runs", rewrite(f"{HKLM}\\Plain", "1.1", "2.2"), 2)
run(["wineserver", "-k"]); server.wait(timeout=60)
check("file untouched while the server ran", hashlib.sha256(open(system, "rb").read()).hexdigest() == before or
      read(f"{HKLM}\\Plain") == "pass 1.1", True)
check("rewrite after the server ended", rewrite(f"{HKLM}\\Plain", "1.1", "2.2"), 0)
check("Wine reads it", wine_reads("Plain"), reg_string("pass 2.2"))
run(["wineserver", "-w"])
shutil.rmtree(work)
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
