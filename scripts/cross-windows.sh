#!/usr/bin/env bash
# Cross-builds the Qt-free part (base/, directory/, settings/, search/, ubin, ubin-build and
# their tests) for 64-bit Windows with MinGW-w64 and runs the tests under Wine, in a new Wine
# prefix of its own and without a display.
#   bash scripts/cross-windows.sh [--native NATIVE_BUILD] [BUILD_DIR]
# BUILD_DIR is build-win unless given. With --native, ubin.exe and ubin-build.exe must also
# give what that native build's ubin and ubin-build give (scripts/wine-compare.sh, run as one
# more test). Needs the Debian packages g++-mingw-w64-x86-64-posix, wine64, wine and googletest;
# with lld installed (scripts/packages.txt) it links the programs (cmake/mingw-w64-posix.cmake).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-win
native=()
while [ $# -gt 0 ]; do
  case "$1" in
    --native) native=(-DUBIN_NATIVE_BUILD="$(cd "$2" && pwd)"); shift 2 ;;
    *) build="$1"; shift ;;
  esac
done
for need in x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix wine:wine /usr/src/googletest/CMakeLists.txt:googletest; do
  if ! command -v "${need%%:*}" >/dev/null && [ ! -e "${need%%:*}" ]; then
    echo "cross-windows: ${need%%:*} is missing; apt-get install g++-mingw-w64-x86-64-posix wine64 wine googletest" >&2
    exit 1
  fi
done
wineserver="$(command -v wineserver || echo /usr/lib/wine/wineserver)"

# A prefix of its own, no display, no offer to install Mono or Gecko.
WINEPREFIX="$(mktemp -d)"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
# One Wine server and its system programs for the whole run, started here with their output
# going nowhere: a Wine program that outlives its caller would otherwise hold the build's or
# ctest's output pipe open, and they would wait for it.
"$wineserver" -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >/dev/null 2>&1

# No build type: no optimisation, as in Debug, and no debug information, which halves the
# compile time and makes the statically linked programs a quarter of the size.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# Japan Post's full files are left to the native build (their tests skip, as on a machine without
# them): under Wine they would take minutes each and go through the same code as the sample.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= -DUBIN_WITH_QT=OFF -DUBIN_FULL_KEN_ALL= -DUBIN_FULL_JIGYOSYO= \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-posix.cmake "${launcher[@]}" "${native[@]}"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2
