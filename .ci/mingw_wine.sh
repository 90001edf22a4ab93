# What the Windows legs share, sourced by windows.sh and windows32.sh after
# they set ROOT, BUILD, TOOLCHAIN and LEG: a headless Wine, the build and
# the package checks.

source "$ROOT/.ci/leg.sh"

# start_wine: a 64-bit prefix in the build dir, its server running. With
# wine32 installed and i386 programs runnable, the prefix gets its 32-bit
# side (syswow64) too.
start_wine() {
  export WINEPREFIX=$BUILD/wine
  export WINEARCH=win64
  export WINEDEBUG=-all
  # No Mono/Gecko installer prompts in a headless prefix, and no debugger
  # started for a program that crashes (emulated, it would take minutes).
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  unset DISPLAY
  trap 'wineserver -k >/dev/null 2>&1 || true; umount_small_volume' EXIT
  mkdir -p "$WINEPREFIX"
  # Detached from our streams: Wine's helper processes outlive the first
  # program and would otherwise hold a caller's output pipe open.
  wineserver -p </dev/null >/dev/null 2>&1
  /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
}

# mount_small_volume: 1 MiB of tmpfs for an OUTPUT too large for its volume,
# handed to the tests by its name under Wine's Z: drive; unmounted on exit.
mount_small_volume() {
  local small=$BUILD/small-volume
  mkdir -p "$small"
  if mountpoint -q "$small" || mount -t tmpfs -o size=1m tmpfs "$small"; then
    export SWFUPGRADE_TEST_SMALL_VOLUME="Z:${small//\//\\}"
  else
    log "cannot mount a small tmpfs: the test of a too-small volume is left out"
  fi
}
umount_small_volume() {
  if mountpoint -q "$BUILD/small-volume"; then umount "$BUILD/small-volume"; fi
}

# build TARGET...: GoogleTest cross-built once into the build dir, then the
# project's targets (all of them when none is named).
build() {
  local gtest=$BUILD/gtest targets=()
  build_googletest "$gtest"
  log "configuring ($(took))"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_FIND_ROOT_PATH="$gtest" \
    -DQOR_BUILD_BENCH=OFF \
    -DQOR_BUILD_FUZZ=OFF
  log "building ($(took))"
  (($#)) && targets=(--target "$@")
  cmake --build "$BUILD" -j2 "${targets[@]}"
}

# check_package: the program's header and manifest, and the zip made from
# the build (mandoc writes its README.txt), with Debian's own Python, which
# python3-pefile serves.
check_package() {
  log "packaging ($(took))"
  /usr/bin/python3 "$ROOT/tests/package/check_windows_executable.py" "$BUILD/swfupgrade.exe" &&
    (cd "$BUILD" && cpack -G ZIP >/dev/null) &&
    /usr/bin/python3 "$ROOT/tests/package/check_windows_zip.py" "$BUILD"/swfupgrade-*-win*.zip
}
