#!/usr/bin/env bash
# Time of one registry read (^r) from a large registry file.
#
# Usage: bench/registry_read_bench.sh [TANDOR_BINARY] [RUNS] [MIB]
#   TANDOR_BINARY  the POSIX build to measure (default build/release/tandor).
#   RUNS           timed rounds (default 10).
#   MIB            the size of the registry file (default 200; the tool refuses
#                  files over 256 MiB).
# Environment:
#   BENCH_DIR      where the bench makes a private folder for its prefix
#                  (default /dev/shm, tmpfs, so that the disk is not
#                  measured); the folder is removed at exit.
#   PEER           another build of the tool, such as the one before a change,
#                  timed in the same rounds.
#
# The prefix is made here without Wine: a system.reg of MIB MiB in Wine's
# format, its keys and values mixed as in a prefix that Wine made (per key
# about 1.4 string values, 0.2 hex values, some over continuation lines, and
# 0.15 dwords; paths 2 to 6 elements deep), the value read in a key near the
# end. A read walks the whole file whatever key it names: a later section may
# repeat the key. Each round runs every command once in turn, so that a busy
# spell of the machine slows all alike; printed: the median seconds of each
# and its ratio to tandor's. `grep -c` over the same file is the floor: a
# streaming scan of the bytes that decodes nothing.
set -euo pipefail
source "$(dirname "$0")/timing.sh"

tandor=$(realpath "${1:-build/release/tandor}")
runs=${2:-10}
mib=${3:-200}
[ -x "$tandor" ] || { echo "no tandor binary at $tandor; build it first" >&2; exit 2; }
peer=
if [ -n "${PEER:-}" ]; then
  peer=$(realpath "$PEER")
  [ -x "$peer" ] || { echo "no binary at $PEER" >&2; exit 2; }
fi
dir=$(mktemp -d "${BENCH_DIR:-/dev/shm}/tandor-regread.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/pfx"
reg=$dir/pfx/system.reg

python3 - "$reg" "$mib" <<'PY'
import random, sys
path, mib = sys.argv[1], int(sys.argv[2])
random.seed(7)
words = ["Software", "Classes", "Microsoft", "Windows", "CurrentVersion", "Explorer", "CLSID",
         "Interface", "TypeLib", "shellex", "Wine", "Fonts", "Direct3D", "Control", "Services",
         "InprocServer32", "ProgID", "Setup", "Policies", "Uninstall"]
def name():
    if random.random() < 0.3:
        return "{%08X-%04X-%04X-%04X-%012X}" % tuple(random.getrandbits(b) for b in (32, 16, 16, 16, 48))
    return random.choice(words) + (str(random.randrange(1000)) if random.random() < 0.5 else "")
def hex_data(count):
    data = ",".join("%02x" % random.randrange(256) for _ in range(count))
    lines, line = [], ""
    for byte in data.split(","):  # Wine breaks hex data after about 76 columns
        if len(line) > 70:
            lines.append(line + ",\\")
            line = "  "
        line += ("," if line.strip() else "") + byte
    return "\n".join(lines + [line])
with open(path, "w") as out:
    out.write('WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n')
    size, target_written = 0, False
    while size < mib << 20:
        if not target_written and size > (mib << 20) * 0.95:
            key, values = "Software\\\\Tandor\\\\Bench", ['"Value"="pass XX"\n']
            target_written = True
        else:
            key = "\\\\".join(["Software"] + [name() for _ in range(random.randrange(1, 6))])
            values = []
            for _ in range(random.choice((0, 1, 1, 1, 2, 2, 3))):
                values.append('"%s"="%s\\\\%s"\n' % (name(), "C:\\\\windows", name()))
            if random.random() < 0.2:
                values.append('"%s"=hex:%s\n' % (name(), hex_data(random.choice((4, 16, 60)))))
            if random.random() < 0.15:
                values.append('"%s"=dword:%08x\n' % (name(), random.getrandbits(32)))
        chunk = "\n[%s] 1796673708\n#time=1dd8685cae505d2\n%s" % (key, "".join(values))
        out.write(chunk)
        size += len(chunk)
PY

value='HKEY_LOCAL_MACHINE\Software\Tandor\Bench\Value'
for build in "$tandor" $peer; do
  got=$(WINEPREFIX=$dir/pfx "$build" "^r'$value'")
  [ "$got" = "pass XX" ] || { echo "$build read '$got', not 'pass XX'" >&2; exit 1; }
done

declare -A commands=([tandor]="$tandor" [peer]="$peer" [grep]=grep)
names=(tandor)
[ -z "$peer" ] || names+=(peer)
names+=(grep)
time_once() {
  local start=$EPOCHREALTIME
  if [ "$1" = grep ]; then
    grep -c '^"Value"=' "$reg" >/dev/null
  else
    WINEPREFIX=$dir/pfx "${commands[$1]}" "^r'$value'" >/dev/null
  fi
  seconds_since "$start"
}
for _ in $(seq "$runs"); do
  for name in "${names[@]}"; do time_once "$name" >>"$dir/times.$name"; done
done

echo "registry file: $(($(stat -c %s "$reg") >> 20)) MiB; tandor: $tandor${peer:+; peer: $peer}"
printf '| %-8s | %9s | %10s |\n' command seconds "vs tandor"
printf '|%s|%s|%s|\n' ---------- ----------- ------------
declare -A seconds
for name in "${names[@]}"; do seconds[$name]=$(median <"$dir/times.$name"); done
for name in "${names[@]}"; do
  printf '| %-8s | %9.3f | %10.2f |\n' "$name" "${seconds[$name]}" \
    "$(awk "BEGIN { print ${seconds[$name]} / ${seconds[tandor]} }")"
done
