#!/usr/bin/env bash
# Builds and runs the whole test suite: unit tests, the black-box table
# against the POSIX build, the same table against tandor.exe under Wine, the
# registry tests against real Wine prefixes, and all of it again (but Wine's
# own run of tandor.exe) under AddressSanitizer and UBSan. Checks the
# formatting of the C++ files first when clang-format is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
need_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
export WINEDEBUG=-all

echo "== Folder layers"
python3 scripts/check_layers.py

echo "== Formatting (.clang-format)"
if command -v clang-format >/dev/null; then
  git ls-files '*.cc' '*.h' | xargs clang-format --dry-run -Werror
else
  echo "clang-format is not installed (Debian package clang-format): formatting not checked"
fi

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
