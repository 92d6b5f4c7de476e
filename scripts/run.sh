#!/usr/bin/env bash
# Builds the tool (release preset) if needed and runs it with the given
# arguments, e.g.:  scripts/run.sh "set currentDir=^p^nSET currentDrive=^d^n"
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
need_packages "${BUILD_PACKAGES[@]}"
{
  [[ -f build/release/build.ninja ]] || cmake --preset release -DTANDOR_BUILD_TESTS=OFF
  cmake --build --preset release --target tandor
} >&2
exec build/release/tandor "$@"
