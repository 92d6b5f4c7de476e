#!/usr/bin/env bash
# Filter-mode throughput and memory against general-purpose peers.
#
# Usage: bench/filter_bench.sh [--windows] [TANDOR_BINARY] [RUNS]
#   --windows      only the Windows build's comparison (below), TANDOR_EXE
#                  defaulting to build/windows/tandor.exe.
#   TANDOR_BINARY  the tool to measure (default build/release/tandor); build it
#                  first, ideally the static release build. Nothing is built here.
#   RUNS           timed rounds (default 10); see warm_up below.
# Environment:
#   BENCH_DIR      where the inputs and outputs live, kept and reused. Without
#                  it, a new folder in /dev/shm (tmpfs, so that the disk is not
#                  measured), removed at the end.
#   SLOW_CAP       seconds after which a peer is stopped on the 1 GiB input (default 120).
#   TANDOR_EXE     the Windows build (e.g. build/windows/tandor.exe): when set, it
#                  is timed under Wine against TANDOR_BINARY on the 256 MiB input,
#                  Wine's start-up included, in a prefix of its own in BENCH_DIR.
#
# Two inputs: 256 MiB of text lines with about one "pass XX" per 100 bytes, and
# 1 GiB of the same text without a single newline. Every tool replaces
# "pass XX" by "pass 1.1" reading the input file on stdin and writing stdout to
# a file in BENCH_DIR. For each: median seconds, MB/s of input, the time as a
# ratio of tandor's, and peak resident set (GNU time's %M). cat copying the
# file is the floor: it copies inside the kernel (copy_file_range), while dd
# shows a copy through a user-space buffer, as a filter must make. Needs GNU
# time (/usr/bin/time) and perl, and Wine for the Windows build; sd and rg are
# measured when installed (scripts/deps.sh names the Debian packages).
set -euo pipefail
source "$(dirname "$0")/../scripts/deps.sh"
source "$(dirname "$0")/timing.sh"

windows_only=0
if [ "${1:-}" = --windows ]; then
  windows_only=1
  TANDOR_EXE=${TANDOR_EXE:-build/windows/tandor.exe}
  shift
fi
tandor=$(realpath "${1:-build/release/tandor}")
runs=${2:-10}
cap=${SLOW_CAP:-120}
[ -x "$tandor" ] || { echo "no tandor binary at $tandor; build it first" >&2; exit 2; }
need_packages "${FILTER_BENCH_PACKAGES[@]}"
if [ -n "${TANDOR_EXE:-}" ]; then
  need_packages "${WINE_PACKAGES[@]}"
fi
[ "$windows_only" = 1 ] || note_optional_packages "${BENCH_OPTIONAL_PACKAGES[@]}"

wine_prefix=
cleanup() {
  if [ -n "$wine_prefix" ]; then
    WINEPREFIX=$wine_prefix wineserver -k 2>/dev/null || true
    WINEPREFIX=$wine_prefix wineserver -w 2>/dev/null || true
  fi
  [ -n "${BENCH_DIR:-}" ] || rm -rf "$dir"
}
if [ -n "${BENCH_DIR:-}" ]; then
  dir=$BENCH_DIR
  mkdir -p "$dir"
else
  dir=$(mktemp -d /dev/shm/tandor-bench.XXXXXX)
fi
trap cleanup EXIT

# A 4 MiB chunk of lines of 0 to ~30 words, with "pass XX" about every 100
# bytes and near misses ("pass X", "Pass XX", "pass XY") in between, repeated.
make_inputs() {
  local chunk=$dir/chunk.txt
  [ -f "$dir/lines-256m.txt" ] && { [ "$windows_only" = 1 ] || [ -f "$dir/oneline-1g.txt" ]; } &&
    return
  perl -e '
    srand(7);
    my @words = qw(the setting value path release build pass Pass XY X config
                   C:\\Windows %PATH% version 1.0 release-notes tool a);
    my $out = "";
    while (length($out) < 4 * 1024 * 1024) {
      my $line = "";
      for (1 .. int(rand(31))) {
        my $r = rand();
        $line .= $r < 0.064 ? "pass XX " : $r < 0.08 ? "pass XY " : $words[rand @words] . " ";
      }
      $out .= $line . "\n";
    }
    print substr($out, 0, 4 * 1024 * 1024 - 1), "\n";' >"$chunk"
  echo "generated: $(grep -o 'pass XX' "$chunk" | wc -l) occurrences per 4 MiB" >&2
  for _ in $(seq 64); do cat "$chunk"; done >"$dir/lines-256m.txt"
  if [ "$windows_only" = 0 ]; then
    tr '\n' ' ' <"$chunk" >"$chunk.flat"
    for _ in $(seq 256); do cat "$chunk.flat"; done >"$dir/oneline-1g.txt"
  fi
  rm -f "$chunk" "$chunk.flat"
}

# One warm-up run per tool under GNU time, which starts the tool itself (no
# shell counted): its peak RSS, and whether it passes the cap (then it is
# reported as such and not run again). Then `runs` rounds, each running every
# tool once in turn, so that a busy spell of the machine slows all alike;
# a tool that took over 3 s is run in the first 3 rounds only. The median
# of its rounds is reported.
declare -A seconds rss slow
warm_up() {
  local name=$1 input=$2; shift 2
  local status=0 stats
  timeout "$cap" /usr/bin/time -q -f '%e %M' -o "$dir/time.txt" "$@" <"$input" >"$dir/out" || status=$?
  rm -f "$dir/out"
  if [ "$status" = 124 ]; then
    seconds[$name]=cap rss[$name]=-
    return
  fi
  stats=$(cat "$dir/time.txt")
  rss[$name]=$(awk "BEGIN { printf \"%.1f\", ${stats#* } / 1024 }")
  slow[$name]=$(awk "BEGIN { print (${stats% *} > 3) }")
  seconds[$name]=
}

time_once() {
  local input=$1; shift
  local start=$EPOCHREALTIME
  "$@" <"$input" >"$dir/out" || true
  seconds_since "$start"
  rm -f "$dir/out"
}

report() {
  local title=$1 input=$2; shift 2
  local megabytes
  megabytes=$(awk "BEGIN { print $(stat -c %s "$input") / 1e6 }")
  echo
  echo "## $title ($(du -h "$input" | cut -f1)B, median of up to $runs runs)"
  printf '| %-10s | %9s | %9s | %9s | %9s |\n' tool seconds MB/s "vs tandor" "RSS MiB"
  printf '|%s|%s|%s|%s|%s|\n' ------------ ----------- ----------- ----------- -----------
  for name in "$@"; do
    local s=${seconds[$name]}
    if [ "$s" = cap ]; then
      printf '| %-10s | %9s | %9s | %9s | %9s |\n' "$name" ">$cap" "-" "-" "-"
    else
      printf '| %-10s | %9.3f | %9.0f | %9.2f | %9s |\n' "$name" "$s" \
        "$(awk "BEGIN { print $megabytes / $s }")" \
        "$(awk "BEGIN { print $s / ${seconds[tandor]} }")" "${rss[$name]}"
    fi
  done
  local sed_ratio="-"
  [ "${seconds[sed]}" = cap ] || sed_ratio=$(awk "BEGIN { printf \"%.1f\", ${seconds[sed]} / ${seconds[tandor]} }")
  echo
  echo "tandor/cat time $(awk "BEGIN { printf \"%.2f\", ${seconds[tandor]} / ${seconds[cat]} }") (target <= 1.5)," \
       "sed/tandor time $sed_ratio (target >= 6, '-' when sed hit the cap)," \
       "tandor peak RSS ${rss[tandor]} MiB (target <= 4)"
}

# tandor's output must be sed's, byte for byte, before its speed means anything.
check_output() {
  local input=$1
  "$tandor" -r 'pass XX' 'pass 1.1' <"$input" >"$dir/out.tandor" || true
  sed 's/pass XX/pass 1.1/g' "$input" >"$dir/out.sed"
  cmp "$dir/out.tandor" "$dir/out.sed" || { echo "tandor's output differs from sed's" >&2; exit 1; }
  rm -f "$dir/out.tandor" "$dir/out.sed"
}

run_all() {
  local title=$1 input=$2
  local -A commands=(
    [tandor]="$(printf '%q ' "$tandor" -r 'pass XX' 'pass 1.1')"
    [cat]="cat"
    [dd]="dd bs=256K status=none"
    [sed]="sed 's/pass XX/pass 1.1/g'"
    [perl]="perl -pe 's/pass XX/pass 1\\.1/g'"
    [sd]="sd -s 'pass XX' 'pass 1.1'"
    [rg]="rg --no-config --passthru -F 'pass XX' -r 'pass 1.1'"
  )
  local tools=(tandor cat dd sed perl) name round
  command -v sd >/dev/null && tools+=(sd)
  command -v rg >/dev/null && tools+=(rg)
  for name in "${tools[@]}"; do
    eval "warm_up $name \"\$input\" ${commands[$name]}"
    rm -f "$dir/times.$name"
  done
  for round in $(seq "$runs"); do
    for name in "${tools[@]}"; do
      [ "${seconds[$name]}" = cap ] && continue
      [ "${slow[$name]}" = 1 ] && [ "$round" -gt 3 ] && continue
      eval "time_once \"\$input\" ${commands[$name]}" >>"$dir/times.$name"
    done
  done
  for name in "${tools[@]}"; do
    [ "${seconds[$name]}" = cap ] || seconds[$name]=$(median <"$dir/times.$name")
    rm -f "$dir/times.$name"
  done
  report "$title" "$input" "${tools[@]}"
}

# The Windows build under Wine against the POSIX build, in alternate runs.
run_windows() {
  local exe input=$dir/lines-256m.txt round
  exe=$(realpath "$TANDOR_EXE")
  export WINEPREFIX=$dir/wine-prefix WINEDEBUG=-all
  # A prefix of its own, made once; its server is kept running between runs
  # as it would be on Windows, and stopped at the end (cleanup).
  wine_prefix=$WINEPREFIX
  if [ ! -d "$WINEPREFIX" ]; then
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
  fi
  wineserver -p 2>/dev/null || true  # fails only if one runs already
  wine "$exe" -r 'pass XX' 'pass 1.1' <"$input" >"$dir/out.exe" || true
  "$tandor" -r 'pass XX' 'pass 1.1' <"$input" | sed 's/$/\r/' | cmp - "$dir/out.exe" ||
    { echo "tandor.exe's output differs" >&2; exit 1; }
  rm -f "$dir/out.exe" "$dir/times.posix" "$dir/times.exe"
  for round in $(seq "$runs"); do
    time_once "$input" "$tandor" -r 'pass XX' 'pass 1.1' >>"$dir/times.posix"
    time_once "$input" wine "$exe" -r 'pass XX' 'pass 1.1' >>"$dir/times.exe"
  done
  local posix exe_seconds
  posix=$(median <"$dir/times.posix")
  exe_seconds=$(median <"$dir/times.exe")
  rm -f "$dir/times.posix" "$dir/times.exe"
  echo
  echo "## Windows build under Wine, 256 MiB of lines (median of $runs runs)"
  printf '| %-22s | %9s |\n' build seconds
  printf '|%s|%s|\n' ------------------------ -----------
  printf '| %-22s | %9.3f |\n' "tandor (POSIX)" "$posix" "wine tandor.exe" "$exe_seconds"
  echo
  echo "tandor.exe/tandor time $(awk "BEGIN { printf \"%.2f\", $exe_seconds / $posix }") (target <= 2)"
}

make_inputs
check_output "$dir/lines-256m.txt"
echo "tandor: $tandor"
if [ "$windows_only" = 0 ]; then
  run_all "256 MiB of lines" "$dir/lines-256m.txt"
  run_all "1 GiB, no newline" "$dir/oneline-1g.txt"
fi
[ -z "${TANDOR_EXE:-}" ] || run_windows
