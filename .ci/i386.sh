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

log() { echo "i386.sh: $*"; }
# The leg's time so far, in minutes and seconds, for CI's log.
took() { printf '%dm%02ds' $((SECONDS / 60)) $((SECONDS % 60)); }

missing=()
for package in cmake ninja-build g++-multilib qemu-user googletest python3; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # A mirror caught mid-sync fails one list; the others still serve.
  apt-get update -qq || log "apt-get update failed in part; going on with the lists it has"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# --- GoogleTest, built 32-bit once and kept in the build dir --------------
if [[ ! -f $GTEST_PREFIX/lib/cmake/GTest/GTestConfig.cmake ]]; then
  log "building GoogleTest -m32 into $GTEST_PREFIX"
  rm -rf "$BUILD/gtest-build"
  cmake -S /usr/src/googletest -B "$BUILD/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF \
    -DCMAKE_INSTALL_PREFIX="$GTEST_PREFIX" >/dev/null
  cmake --build "$BUILD/gtest-build" -j2 >/dev/null
  cmake --install "$BUILD/gtest-build" >/dev/null
  rm -rf "$BUILD/gtest-build"
fi

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
