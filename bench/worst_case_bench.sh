#!/usr/bin/env bash
# The filter's search at its worst: time against the length of the search text.
#
# Usage: bench/worst_case_bench.sh [TANDOR_BINARY] [RUNS]
#   TANDOR_BINARY  the tool to measure (default build/release/tandor); build it
#                  first, ideally the static release build. Nothing is built here.
#   RUNS           timed rounds (default 5).
# Environment:
#   BENCH_DIR      where the run makes its private folder for the input and
#                  outputs (default /dev/shm, tmpfs, so that the disk is not
#                  measured), removed at exit.
#
# The input is 64 MiB of the letter a without a newline. The searches are
# a^k b a^k for k = 1, 30, 500 and 5000, i.e. 3, 61, 1001 and 10001 bytes:
# every place in the input holds a search text's first and last bytes, and
# none holds its middle, so a search that checks each such place byte by byte
# costs the input's length times the search text's. Each search replaces by
# "x", reading the input file on stdin and writing stdout to a file in
# BENCH_DIR. First one run each under GNU time, its output checked against
# Python's bytes.replace (plus the final line end the filter adds) and its
# peak resident set noted; then `runs` rounds, each running every search once
# in turn, so that a busy spell of the machine slows all alike. Reported: the
# median seconds of each and its ratio to the 3-byte search's (target: the
# 10,001-byte one at most 2). Needs GNU time (/usr/bin/time, Debian package
# "time"), python3 and bash 5.
set -euo pipefail
source "$(dirname "$0")/timing.sh"

tandor=$(realpath "${1:-build/release/tandor}")
runs=${2:-5}
[ -x "$tandor" ] || { echo "no tandor binary at $tandor; build it first" >&2; exit 2; }
for need in /usr/bin/time python3; do
  command -v "$need" >/dev/null || { echo "missing $need" >&2; exit 2; }
done
dir=$(mktemp -d "${BENCH_DIR:-/dev/shm}/tandor-worst-case.XXXXXX")
trap 'rm -rf "$dir"' EXIT
input=$dir/a-64m.txt
python3 -c 'import sys; sys.stdout.buffer.write(b"a" * (64 << 20))' >"$input"

halves=(1 30 500 5000)
search() { python3 -c "import sys; print('a' * $1 + 'b' + 'a' * $1, end='')"; }

# tandor's output must be Python's, byte for byte, before its speed means anything.
check_output() {
  local text=$1
  "$tandor" -r "$text" x <"$input" >"$dir/out.tandor" || true
  python3 - "$input" "$text" "$dir/out.python" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read().replace(sys.argv[2].encode(), b"x")
open(sys.argv[3], "wb").write(data if data.endswith(b"\n") else data + b"\n")
EOF
  cmp "$dir/out.tandor" "$dir/out.python" ||
    { echo "tandor's output differs from Python's for a ${#text}-byte search" >&2; exit 1; }
  rm -f "$dir/out.tandor" "$dir/out.python"
}

declare -A texts rss
for k in "${halves[@]}"; do
  texts[$k]=$(search "$k")
  check_output "${texts[$k]}"
  /usr/bin/time -q -f '%M' -o "$dir/time.txt" "$tandor" -r "${texts[$k]}" x <"$input" \
    >"$dir/out" || true
  rss[$k]=$(awk '{ printf "%.1f", $1 / 1024 }' "$dir/time.txt")
  rm -f "$dir/times.$k"
done

time_once() {
  local start=$EPOCHREALTIME
  "$tandor" -r "$1" x <"$input" >"$dir/out" || true
  seconds_since "$start"
}

for _ in $(seq "$runs"); do
  for k in "${halves[@]}"; do time_once "${texts[$k]}" >>"$dir/times.$k"; done
done

echo "tandor: $tandor"
echo
echo "## 64 MiB of a, searches a^k b a^k (median of $runs runs)"
printf '| %14s | %9s | %14s | %9s |\n' "search bytes" seconds "vs 3 bytes" "RSS MiB"
printf '|%s|%s|%s|%s|\n' ---------------- ----------- ---------------- -----------
declare -A seconds
for k in "${halves[@]}"; do
  seconds[$k]=$(median <"$dir/times.$k")
  printf '| %14d | %9.3f | %14.2f | %9s |\n' $((2 * k + 1)) "${seconds[$k]}" \
    "$(awk "BEGIN { print ${seconds[$k]} / ${seconds[1]} }")" "${rss[$k]}"
done
echo
echo "10,001-byte / 3-byte time $(awk "BEGIN { printf \"%.2f\", ${seconds[5000]} / ${seconds[1]} }")" \
     "(target <= 2)"
