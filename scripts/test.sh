#!/usr/bin/env bash
# Builds and runs the whole test suite: unit tests, the black-box table
# against the POSIX build, the same table against tandor.exe under Wine, the
# registry tests against real Wine prefixes, and all of it again (but Wine's
# own run of tandor.exe) under AddressSanitizer and UBSan; then each fuzz
# target for a few seconds, when clang and libFuzzer are installed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
need_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
export WINEDEBUG=-all

echo "== Folder layers"
python3 scripts/check_layers.py

echo "== Link-time optimized build: one definition of every type"
cmake --preset lto >/dev/null
cmake --build --preset lto

echo "== Windows build (mingw-w64): tandor.exe"
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== POSIX build, with tandor.exe's suite under Wine"
cmake --preset release -DTANDOR_BUILD_TESTS=ON -DTANDOR_WINDOWS_EXE="$PWD/build/windows/tandor.exe" >/dev/null
cmake --build --preset release
ctest --preset release -j2

echo "== Sanitizer build (ASan + UBSan)"
cmake --preset debug >/dev/null
cmake --build --preset debug
ctest --preset debug -j2

echo "== Fuzz targets (clang, libFuzzer, ASan + UBSan), a few seconds each"
if have_libfuzzer; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz -j2
else
  echo "SKIPPED: no clang++ with libFuzzer (libclang_rt.fuzzer);" \
    "install: sudo apt-get install --no-install-recommends ${FUZZ_PACKAGES[*]}"
fi
