#!/usr/bin/env bash
# Cross-build the project for 32-bit Windows (MinGW-w64) and run its tests
# under Wine, headless; on a host that runs no 32-bit program, for 64-bit
# Windows instead. Run as root; installs what is missing.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
CTEST_TIMEOUT=${CTEST_TIMEOUT:-900}

log() { echo "windows.sh: $*"; }

# ensure_packages PACKAGE...: whatever of them is missing; false when apt fails.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails one list; the others still serve.
  apt-get update -qq || log "apt-get update failed in part; going on with the lists it has"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# --- packages -------------------------------------------------------------
# wine32 is an i386 package; without it no 32-bit program runs.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
if ensure_packages cmake make g++-mingw-w64-i686-posix googletest wine wine32:i386 &&
  /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  BUILD=$ROOT/build-windows
  TOOLCHAIN=$ROOT/cmake/mingw-i686.cmake
  export WINEARCH=win32
  wine=wine
else
  # Some kernels run no 32-bit program at all (a paravirtualized guest, for
  # one), and then 32-bit Wine cannot start: test the same Windows code as a
  # 64-bit program rather than not at all.
  log "this host cannot run 32-bit programs: testing the 64-bit Windows build"
  ensure_packages cmake make g++-mingw-w64-x86-64-posix googletest wine wine64
  BUILD=$ROOT/build-windows64
  TOOLCHAIN=$ROOT/cmake/mingw-x86_64.cmake
  export WINEARCH=win64
  wine=/usr/lib/wine/wine64
fi
GTEST_PREFIX=$BUILD/gtest

# --- Wine environment -----------------------------------------------------
# Also needed while building: test discovery runs the test programs.
export WINEPREFIX=$BUILD/wine
export WINEDEBUG=-all
# No Mono/Gecko installer prompts in a headless prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

mkdir -p "$WINEPREFIX"
# Start the server and create the prefix up front, detached from our
# streams: Wine's helper processes outlive the first program and would
# otherwise hold CTest's output pipe open, so CTest would never finish.
wineserver -p </dev/null >/dev/null 2>&1
"$wine" wineboot --init </dev/null >/dev/null 2>&1

# --- GoogleTest, cross-built once and kept in the build dir ----------------
if [[ ! -f $GTEST_PREFIX/lib/cmake/GTest/GTestConfig.cmake ]]; then
  log "building GoogleTest for MinGW into $GTEST_PREFIX"
  rm -rf "$BUILD/gtest-build"
  cmake -S /usr/src/googletest -B "$BUILD/gtest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$GTEST_PREFIX" >/dev/null
  cmake --build "$BUILD/gtest-build" -j2 >/dev/null
  cmake --install "$BUILD/gtest-build" >/dev/null
  rm -rf "$BUILD/gtest-build"
fi

# --- the project ----------------------------------------------------------
log "configuring"
cmake -S "$ROOT" -B "$BUILD" \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_FIND_ROOT_PATH="$GTEST_PREFIX" \
  -DQOR_BUILD_BENCH=OFF \
  -DQOR_BUILD_FUZZ=OFF
log "building"
cmake --build "$BUILD" -j2

log "testing under Wine"
status=0
timeout -k 30 "$CTEST_TIMEOUT" \
  ctest --test-dir "$BUILD" --output-on-failure --timeout 120 </dev/null || status=$?
if ((status == 124)); then
  log "ctest timed out after ${CTEST_TIMEOUT}s"
fi

# --- the packages, and the 32-bit program where it cannot run -------------
# check_build DIR: the program's header and manifest, and the zip made there.
# Debian's own Python, which python3-pefile serves.
ensure_packages python3 python3-pefile
check_build() {
  /usr/bin/python3 "$ROOT/tests/package/check_windows_executable.py" "$1/swfupgrade.exe" &&
    (cd "$1" && cpack -G ZIP >/dev/null) &&
    /usr/bin/python3 "$ROOT/tests/package/check_windows_zip.py" "$1"/swfupgrade-*-win*.zip
}
log "packaging"
check_build "$BUILD" || status=1
if [[ $TOOLCHAIN != */mingw-i686.cmake ]]; then
  # Built all the same, for what can be checked without running it.
  log "building the 32-bit program (not run here)"
  ensure_packages g++-mingw-w64-i686-posix
  BUILD32=$ROOT/build-windows32
  cmake -S "$ROOT" -B "$BUILD32" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DQOR_BUILD_TESTS=OFF \
    -DQOR_BUILD_BENCH=OFF \
    -DQOR_BUILD_FUZZ=OFF >/dev/null
  cmake --build "$BUILD32" -j2
  check_build "$BUILD32" || status=1
fi
exit "$status"
