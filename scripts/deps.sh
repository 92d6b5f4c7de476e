# Sourced by the scripts beside it: makes sure Debian packages are present.
# As root it installs what is missing; otherwise it names the packages and
# the command that installs them, and stops.

# need_packages COMMAND-OR-PATH:PACKAGE ...
need_packages() {
  local missing=() item probe package
  for item in "$@"; do
    probe=${item%%:*}
    package=${item#*:}
    if [[ $probe == /* ]]; then
      [[ -e $probe ]] && continue
    else
      command -v "$probe" >/dev/null 2>&1 && continue
    fi
    missing+=("$package")
  done
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
TEST_PACKAGES=(
  /usr/src/googletest/CMakeLists.txt:googletest
  /usr/include/gtest/gtest.h:libgtest-dev
  python3:python3
  wine:wine
  /usr/lib/wine/wine64:wine64
  x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64
)
# The fuzz preset: clang with its libFuzzer and sanitizer runtimes. Optional:
# scripts/test.sh runs the fuzz targets only when have_libfuzzer says so.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)
have_libfuzzer() {
  command -v clang++ >/dev/null 2>&1 &&
    compgen -G "$(clang++ --print-runtime-dir)/libclang_rt.fuzzer*.a" >/dev/null
}
