# What every CI leg shares, sourced after the leg sets LEG (its name in the
# log), BUILD and TOOLCHAIN: its log lines, its time, installing what is
# missing and a GoogleTest built with the leg's own toolchain.

log() { echo "$LEG: $*"; }
# The leg's time so far, in minutes and seconds, for CI's log.
took() { printf '%dm%02ds' $((SECONDS / 60)) $((SECONDS % 60)); }

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

# build_googletest PREFIX: GoogleTest built once with TOOLCHAIN into PREFIX,
# kept there for later runs of the leg.
build_googletest() {
  local prefix=$1
  [[ -f $prefix/lib/cmake/GTest/GTestConfig.cmake ]] && return 0
  log "building GoogleTest into $prefix"
  rm -rf "$BUILD/gtest-build"
  cmake -S /usr/src/googletest -B "$BUILD/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF \
    -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$BUILD/gtest-build" -j2 >/dev/null
  cmake --install "$BUILD/gtest-build" >/dev/null
  rm -rf "$BUILD/gtest-build"
}
