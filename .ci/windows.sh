#!/usr/bin/env bash
# Cross-build the project for 64-bit Windows (MinGW-w64) and run the whole
# test suite under 64-bit Wine, headless, each test a process of its own:
# Wine runs 64-bit programs natively, so here the long tables run fast.
# The 32-bit program, the one shipped for the tool's host, has a leg of its
# own (windows32.sh). Run as root; installs what is missing.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build-windows64}
TOOLCHAIN=$ROOT/cmake/mingw-x86_64.cmake
LEG=windows.sh
CTEST_TIMEOUT=${CTEST_TIMEOUT:-900}
source "$ROOT/.ci/mingw_wine.sh"

ensure_packages cmake ninja-build g++-mingw-w64-x86-64-posix googletest wine wine64 mandoc python3 python3-pefile

start_wine
build
mount_small_volume

log "testing under Wine ($(took))"
status=0
timeout -k 30 "$CTEST_TIMEOUT" \
  ctest --test-dir "$BUILD" --output-on-failure --timeout 120 </dev/null || status=$?
if ((status == 124)); then
  log "ctest timed out after ${CTEST_TIMEOUT}s"
fi
check_package || status=1
log "done ($(took))"
exit "$status"
