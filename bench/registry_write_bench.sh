#!/usr/bin/env bash
# Peak memory and time of one registry write (-w) into a large registry file.
#
# Usage: bench/registry_write_bench.sh [TANDOR_BINARY] [MIB]
#   TANDOR_BINARY  the POSIX build to measure (default build/release/tandor).
#   MIB            the size of the registry file (default 200; the tool refuses
#                  files over 256 MiB).
# Environment:
#   BENCH_DIR      where the run makes its private folder for the prefix
#                  (default /dev/shm), removed at exit.
#
# The prefix is made here without Wine: a system.reg of MIB MiB in Wine's
# format whose first key holds the value rewritten, then many padding keys.
# Each round restores the file and times `tandor -w` with GNU time (/usr/bin/time,
# Debian package "time"); printed: peak resident set and its ratio to the file's
# size, and seconds against `sed -i`, a streaming peer that rewrites the same
# line in place (it keeps no copy of the file in memory).
set -euo pipefail

tandor=$(realpath "${1:-build/release/tandor}")
mib=${2:-200}
dir=$(mktemp -d "${BENCH_DIR:-/dev/shm}/tandor-regbench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/pfx"
reg=$dir/pfx/system.reg
python3 - "$dir/orig.reg" "$mib" <<'PY'
import sys
path, mib = sys.argv[1], int(sys.argv[2])
head = 'WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n' \
       '[Software\\\\Bench] 1796600147\n#time=1dd85da8546dcae\n"Value"="pass XX"\n'
with open(path, 'w') as out:
    out.write(head)
    size, i = len(head), 0
    while size < mib << 20:
        chunk = '\n[Software\\\\Pad\\\\K%07d] 1796600147\n"V"="%s"\n' % (i, 'x' * 2000)
        out.write(chunk)
        size += len(chunk)
        i += 1
PY
bytes=$(stat -c %s "$dir/orig.reg")
measure() {  # label, command...
  cp "$dir/orig.reg" "$reg"
  local label=$1
  shift
  /usr/bin/time -f "%M %e" -o "$dir/time" "$@" >/dev/null
  read -r kb seconds <"$dir/time"
  awk -v l="$label" -v kb="$kb" -v s="$seconds" -v b="$bytes" \
    'BEGIN { printf "%-8s peak %8.1f MiB = %.2f x the file   %6.2f s\n", l, kb / 1024, kb * 1024 / b, s }'
}
echo "registry file: $((bytes >> 20)) MiB"
WINEPREFIX=$dir/pfx measure tandor "$tandor" -w 'HKEY_LOCAL_MACHINE\Software\Bench\Value' XX 1.1
measure sed sed -i 's/^"Value"="pass XX"$/"Value"="pass 1.1"/' "$reg"
