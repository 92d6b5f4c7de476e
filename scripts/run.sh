#!/usr/bin/env bash
# Builds the tool (release preset) if needed and runs it, in the caller's
# directory, with the given arguments, e.g.:
#   scripts/run.sh "set currentDir=^p^nSET currentDrive=^d^n"
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/deps.sh"
need_packages "${BUILD_PACKAGES[@]}"
(
  cd "$root"
  [[ -f build/release/build.ninja ]] || cmake --preset release -DTANDOR_BUILD_TESTS=OFF
  cmake --build --preset release --target tandor
) >&2
exec "$root/build/release/tandor" "$@"
