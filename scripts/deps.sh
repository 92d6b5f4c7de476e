# Sourced by the scripts beside it: makes sure Debian packages are present.
# need_packages installs what is missing as root; otherwise it names the
# packages and the command that installs them, and stops.

# missing_packages COMMAND-OR-PATH:PACKAGE ...: prints the packages of the
# commands or files that are not there, one a line.
missing_packages() {
  local item probe
  for item in "$@"; do
    probe=${item%%:*}
    if [[ $probe == /* ]]; then
      [[ -e $probe ]] && continue
    else
      command -v "$probe" >/dev/null 2>&1 && continue
    fi
    echo "${item#*:}"
  done
}

# note_optional_packages COMMAND-OR-PATH:PACKAGE ...: names the missing ones
# and how to install them, and goes on.
note_optional_packages() {
  local missing
  missing=$(missing_packages "$@" | tr '\n' ' ')
  [[ -z $missing ]] && return 0
  echo "Not installed, so not measured: ${missing}(sudo apt-get install --no-install-recommends ${missing% })" >&2
}

# need_packages COMMAND-OR-PATH:PACKAGE ...
need_packages() {
  local missing
  mapfile -t missing < <(missing_packages "$@")
  [[ ${#missing[@]} -eq 0 ]] && return 0
  echo "Missing Debian packages: ${missing[*]}" >&2
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing them with apt-get ..." >&2
    apt-get update -q >&2 &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >&2 &&
      return 0
    echo "apt-get could not install: ${missing[*]}" >&2
  else
    echo "Install them with:  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
  fi
  exit 1
}

BUILD_PACKAGES=(cmake:cmake ninja:ninja-build g++:g++)
WINE_PACKAGES=(wine:wine /usr/lib/wine/wine64:wine64)
TEST_PACKAGES=(
  "${WINE_PACKAGES[@]}"
  /usr/src/googletest/CMakeLists.txt:googletest
  /usr/include/gtest/gtest.h:libgtest-dev
  python3:python3
  # Reads tandor.exe's manifest and version resource back.
  wrestool:icoutils
  # The toolchain file asks for the posix thread model's compilers by name.
  x86_64-w64-mingw32-gcc-posix:gcc-mingw-w64-x86-64-posix
  x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
)
# The benchmarks: GNU time (not the shell's keyword) for peak memory, and
# hyperfine for start-up; sd and ripgrep are peers measured when present.
FILTER_BENCH_PACKAGES=(/usr/bin/time:time perl:perl)
STARTUP_BENCH_PACKAGES=(hyperfine:hyperfine cc:gcc)
BENCH_OPTIONAL_PACKAGES=(sd:sd rg:ripgrep)

# The fuzz preset: clang with its libFuzzer and sanitizer runtimes, whose
# package carries clang's major version: that of the clang installed, else of
# the one apt would install (libclang-rt-14-dev on Debian 12). Optional:
# scripts/test.sh runs the fuzz target only when have_libfuzzer says so.
fuzz_packages() {
  local version
  if command -v clang >/dev/null 2>&1; then
    version=$(clang -dumpversion)
  else
    version=$(apt-cache depends clang | sed -n 's/^ *Depends: clang-//p')
  fi
  echo "clang libclang-rt-${version%%.*}-dev"
}
have_libfuzzer() {
  command -v clang++ >/dev/null 2>&1 &&
    compgen -G "$(clang++ --print-runtime-dir)/libclang_rt.fuzzer*.a" >/dev/null
}
