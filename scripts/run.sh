#!/usr/bin/env bash
# Builds the tool if needed and runs it, in the caller's directory, with the
# given arguments, e.g.:
#   scripts/run.sh "set currentDir=^p^nSET currentDrive=^d^n"
# It builds in build/run, a folder of its own configured by the release preset
# without the tests (which need GoogleTest), so that build/release stays as
# README's steps configure it, tests included.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
need_packages "${BUILD_PACKAGES[@]}"
(
  cd "$root"
  [[ -f build/run/build.ninja ]] || cmake --preset release -B build/run -DTANDOR_BUILD_TESTS=OFF
  cmake --build build/run --target tandor
) >&2
exec "$root/build/run/tandor" "$@"
