#!/usr/bin/env bash
# Build the project for 32-bit x86 Linux (-m32, linked whole) and run the
# whole suite under qemu-i386, so the 32-bit data model is tested even on a
# host whose kernel runs no 32-bit program. Run as root; installs what is
# missing.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build-i386}
TOOLCHAIN=$ROOT/cmake/linux-i386.cmake
GTEST_PREFIX=$BUILD/gtest
CTEST_TIMEOUT=${CTEST_TIMEOUT:-1800}

LEG=i386.sh
source "$ROOT/.ci/leg.sh"

ensure_packages cmake ninja-build g++-multilib qemu-user googletest python3
# GoogleTest, built 32-bit once and kept in the build dir.
build_googletest "$GTEST_PREFIX"

# --- the project ------------------------------------------------------------
log "configuring"
cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$GTEST_PREFIX" \
  -DQOR_BUILD_BENCH=OFF \
  -DQOR_BUILD_FUZZ=OFF
log "building ($(took))"
cmake --build "$BUILD" -j2

log "testing under qemu-i386 ($(took))"
status=0
timeout -k 30 "$CTEST_TIMEOUT" \
  ctest --test-dir "$BUILD" --output-on-failure -j2 </dev/null || status=$?
if ((status == 124)); then
  log "ctest timed out after ${CTEST_TIMEOUT}s"
fi
log "done ($(took))"
exit "$status"
