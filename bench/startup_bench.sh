#!/usr/bin/env bash
# Start-up cost: an expansion run (`tandor hello`) against a minimal C program
# that prints its argument, compiled here with cc -O2 both as the usual
# dynamically linked program and statically linked.
#
# Usage: bench/startup_bench.sh [TANDOR_BINARY] [RUNS]
#   TANDOR_BINARY  the tool to measure (default build/release/tandor); build it
#                  first, ideally the static release build. Nothing of the
#                  project is built here.
#   RUNS           hyperfine runs per program (default 500).
# Environment:
#   BENCH_DIR      where the run makes its private folder for the C programs
#                  and hyperfine's results (default /dev/shm), removed at exit.
# Prints hyperfine's summary and each C program's time as a ratio of tandor's
# (above 1: tandor starts faster). Needs hyperfine and cc (scripts/deps.sh
# names the Debian packages).
set -euo pipefail
source "$(dirname "$0")/../scripts/deps.sh"
need_packages "${STARTUP_BENCH_PACKAGES[@]}"

tandor=$(realpath "${1:-build/release/tandor}")
runs=${2:-500}
[ -x "$tandor" ] || { echo "no tandor binary at $tandor; build it first" >&2; exit 2; }
tmp=$(mktemp -d "${BENCH_DIR:-/dev/shm}/tandor-startup.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

cat >"$tmp/print_arg.c" <<'PROGRAM'
#include <stdio.h>

int main(int argc, char** argv) {
  if (argc > 1) fputs(argv[1], stdout);
  return 0;
}
PROGRAM
cc -O2 -o "$tmp/print_arg" "$tmp/print_arg.c"
cc -O2 -static -o "$tmp/print_arg_static" "$tmp/print_arg.c"

# Outputs go to /dev/null; -N starts each program without a shell.
hyperfine -N --warmup 50 --runs "$runs" --export-csv "$tmp/h.csv" --output=null \
  "$tandor hello" "$tmp/print_arg hello" "$tmp/print_arg_static hello"

echo
awk -F, 'NR == 2 { tandor = $2 }
         NR > 2 { name = $1; sub(/.*\//, "", name); sub(/ hello$/, "", name)
                  printf "%s: %.3f ms, %.2f x tandor'"'"'s %.3f ms\n", name, $2 * 1000, $2 / tandor, tandor * 1000 }' \
  "$tmp/h.csv"
