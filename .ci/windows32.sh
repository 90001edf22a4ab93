#!/usr/bin/env bash
# Cross-build the project for 32-bit Windows, the tool's own host, and run
# the program that the win32 zip ships, and the unit tests, under 32-bit
# Wine. A kernel without 32-bit support runs them through qemu-i386,
# registered here with binfmt_misc. An emulated start takes most of a
# minute, so each test program runs once, all its tests in one process, and
# the tool's host checks run as one batch (the 64-bit leg runs the rest).
# Run as root; installs what is missing.
set -euo pipefail

cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-$ROOT/build-windows32}
TOOLCHAIN=$ROOT/cmake/mingw-i686.cmake
LEG=windows32.sh
# Each program's own limit; an emulated start alone takes about a minute.
PROGRAM_TIMEOUT=${PROGRAM_TIMEOUT:-1200}
source "$ROOT/.ci/mingw_wine.sh"

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
ensure_packages cmake ninja-build g++-mingw-w64-i686-posix googletest wine wine32:i386 wine64 qemu-user mandoc \
  python3 python3-pefile

# --- i386 programs through qemu-i386 -------------------------------------
# Debian's qemu-user-binfmt leaves i386 out on an amd64 host, so the line
# is written here: its magic and mask for an i386 ELF program.
binfmt=/proc/sys/fs/binfmt_misc
if [[ ! -e $binfmt/register ]] && ! mount -t binfmt_misc binfmt_misc "$binfmt"; then
  log "cannot mount binfmt_misc on $binfmt: no 32-bit program can run here, so this leg fails"
  exit 1
fi
if [[ ! -e $binfmt/qemu-i386 ]] && ! printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:' >"$binfmt/register"; then
  log "cannot register qemu-i386 with $binfmt/register: no 32-bit program can run here, so this leg fails"
  exit 1
fi
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  log "an i386 program does not start, even through $(head -1 "$binfmt/qemu-i386" 2>/dev/null) qemu-i386; this leg fails"
  exit 1
fi

# --- a 64-bit prefix with its 32-bit side ---------------------------------
# A 32-bit prefix's own wineboot stalls under emulation on illegal-
# instruction traps in its helpers; a 64-bit one runs those natively.
log "making the Wine prefix ($(took))"
start_wine
if [[ ! -f $WINEPREFIX/drive_c/windows/syswow64/kernel32.dll ]]; then
  log "the prefix has no 32-bit side (syswow64): wine32 did not run"
  exit 1
fi

build
status=0
# The program the tests start is the zip's own, byte for byte: the zip's
# copy is stripped, so it takes the built one's place.
check_package || status=1
/usr/bin/python3 - "$BUILD"/swfupgrade-*-win32.zip "$BUILD/swfupgrade.exe" <<'EOF' || status=1
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    [name] = [n for n in archive.namelist() if n.endswith("/swfupgrade.exe")]
    shipped = archive.read(name)
with open(sys.argv[2], "wb") as program:
    program.write(shipped)
print("windows32.sh: testing %s from %s (%d bytes)" % (name, sys.argv[1].rsplit("/", 1)[-1], len(shipped)))
EOF

mount_small_volume

# --- the tests, each program once, two at a time ---------------------------
# Each line: a name for its log, then the program and its arguments. The
# host checks and the limits are two processes of one program, so that
# both cores start the shipped one.
# The unit tests run here bar three, left to the 64-bit leg: two start a
# thread, which ends an emulated Wine program (a qemu segfault, or "wine
# client error"), and in the third Wine's volume query for a file's
# identity fails under emulation ("read: Bad address"). tree_memory_tests
# has nothing to show here but its threads, its region being Linux's.
emulation_faults=FileBytes.AFileCutShortWhileLoadedNeverKillsTheCaller
emulation_faults+=:OutputFile.OutlastsABriefReaderOfTheOldOutput
emulation_faults+=:OutputFile.WhatStandsAtADrawnNameIsLeftAloneAndAnotherDrawn
programs=(
  "host-checks tests/tool/tool_tests.exe --gtest_filter=WindowsHost.EverydayChecksInOneBatch"
  "limits tests/tool/tool_tests.exe --gtest_filter=WindowsHost.LimitsInOneBatch"
  "xml-tests tests/xml_tests.exe --gtest_filter=-$emulation_faults"
  "driver-tests tests/driver_tests.exe --gtest_filter=-$emulation_faults"
)
log "testing under 32-bit Wine through qemu-i386 ($(took))"
run_program() {
  local words=($1) started=$SECONDS result=0
  local name=${words[0]}
  (cd "$BUILD" && timeout -k 30 "$PROGRAM_TIMEOUT" /usr/lib/wine/wine "${words[@]:1}" </dev/null \
    >"$BUILD/$name.log" 2>&1) || result=$?
  cat "$BUILD/$name.log"
  # An emulated Wine program can end early with status 0 (a lost
  # connection to wineserver): only GoogleTest's closing line counts.
  local verdict=passed
  if ((result != 0)) || ! grep -q '^\[  PASSED  \] [0-9]* test' "$BUILD/$name.log" ||
    grep -q '^\[  FAILED  \]' "$BUILD/$name.log"; then
    verdict=failed
  fi
  log "$name: $verdict, exit status $result, after $((SECONDS - started))s"
  [[ $verdict == passed ]] && result=0 || result=1
  echo "$result" >"$BUILD/$name.status"
}
rm -f "$BUILD"/*.status
for program in "${programs[@]}"; do
  # Two at a time: each emulated program keeps a core busy.
  while (($(jobs -rp | wc -l) >= 2)); do wait -n || true; done
  run_program "$program" &
done
wait
for program in "${programs[@]}"; do
  [[ $(cat "$BUILD/${program%% *}.status" 2>/dev/null) == 0 ]] || status=1
done
log "done ($(took))"
exit "$status"
