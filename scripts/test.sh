#!/usr/bin/env bash
# Builds and runs the whole test suite: unit tests, the black-box table
# against the POSIX build (its runs on a Wine-made prefix among them), the
# same table against tandor.exe under Wine, what `cmake --install` and the
# two packages hold (and the manifest and version resource of the zip's
# tandor.exe, which runs under Wine), and all of it again (but Wine's own run
# of tandor.exe) under AddressSanitizer and UBSan; then the fuzz target for
# a few seconds, when clang and libFuzzer are installed. Checks the formatting
# of the C++ files first when clang-format is installed.
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

echo "== Install and packages: the tool and its documents, nothing else"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
deb=build/release/tandor_${version}_$(dpkg --print-architecture).deb
zip=build/windows/tandor-${version}-win64.zip
docs=(share/doc/tandor/README.md share/doc/tandor/CHANGELOG.md)
# expect_files WHAT FILE... compares the file names on standard input (folders
# and a leading "./" or TOPDIR/ dropped) with the given ones.
expect_files() {
  diff -u <(printf '%s\n' "${@:2}" | LC_ALL=C sort) \
    <(grep -v '/$' | sed -E 's|^(\./\|tandor-[^/]*/)||' | LC_ALL=C sort) ||
    { echo "$1 holds other files than these" >&2; exit 1; }
}
stage=$(mktemp -d)
# The Wine prefix in it, where tandor.exe from the zip runs, keeps its
# server's folder there too (TMPDIR), and has its server stopped first,
# whether the checks passed or not.
in_stage() { TMPDIR="$stage" WINEPREFIX="$stage/wine" "$@"; }
trap 'in_stage wineserver -k 2>/dev/null || true; rm -rf "$stage"' EXIT
cmake --install build/release --prefix "$stage" >/dev/null
(cd "$stage" && find . -type f) | expect_files "cmake --install" \
  bin/tandor "${docs[@]}" share/doc/tandor/LICENSE share/man/man1/tandor.1
[[ $("$stage/bin/tandor" "ran^nok") == $'ran\nok' ]] || { echo "installed tandor does not run" >&2; exit 1; }
(cd build/release && cpack -G DEB >/dev/null)
dpkg-deb --fsys-tarfile "$deb" | tar -t | expect_files "$deb" \
  usr/bin/tandor "${docs[@]/#/usr/}" usr/share/doc/tandor/copyright \
  usr/share/doc/tandor/changelog.gz usr/share/man/man1/tandor.1.gz usr/share/lintian/overrides/tandor
[[ -z $(dpkg-deb -f "$deb" Depends) ]] || { echo "$deb has dependencies" >&2; exit 1; }
(cd build/windows && cpack -G ZIP >/dev/null)
# One folder, tandor-<version>-win64, with tandor.exe and the documents as
# CR LF .txt files at its top, and no other file or folder.
top=tandor-${version}-win64
diff -u <(printf "$top/%s\n" CHANGELOG.txt LICENSE.txt README.txt tandor.exe) \
  <(cmake -E tar tf "$zip" | grep -vx "$top/" | LC_ALL=C sort) ||
  { echo "$zip holds other files than these" >&2; exit 1; }
mkdir "$stage/zip"
cmake -E chdir "$stage/zip" cmake -E tar xf "$PWD/$zip"
for document in README.md LICENSE CHANGELOG.md; do
  cmp <(sed 's/$/\r/' "$document") "$stage/zip/$top/${document%.md}.txt" ||
    { echo "$zip: ${document%.md}.txt is not $document with CR LF line ends" >&2; exit 1; }
done
scripts/check_exe_resources.py "$stage/zip/$top/tandor.exe" "$version"
# In a private prefix that this run makes; Wine's messages about making it
# are shown only when the run fails.
ran=$(in_stage wine "$stage/zip/$top/tandor.exe" "ran^nok" 2>"$stage/wine.log") &&
  [[ $ran == $'ran\r\nok' ]] ||
  { cat "$stage/wine.log" >&2; echo "tandor.exe from $zip does not run under Wine" >&2; exit 1; }
echo "cmake --install, $deb and $zip hold what they should; tandor.exe's manifest and version resource are right"

echo "== Sanitizer build (ASan + UBSan)"
cmake --preset debug >/dev/null
cmake --build --preset debug
ctest --preset debug -j2

echo "== Fuzz target (clang, libFuzzer, ASan + UBSan), a few seconds"
if have_libfuzzer; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  ctest --preset fuzz -j2
else
  echo "SKIPPED: no clang++ with libFuzzer (libclang_rt.fuzzer);" \
    "install: sudo apt-get install --no-install-recommends $(fuzz_packages)"
fi
