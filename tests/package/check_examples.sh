#!/bin/sh
# Stages an install of the build with DESTDIR, as a packager does, then
# builds the examples against the staged tree the two ways README gives: as
# a CMake project of their own (find_package) and with nothing but the flags
# pkg-config gives. Each way runs them: the CMake build through its own
# tests, the other on the sample. Exits 77 (skipped) when pkg-config is
# missing, after the CMake half.
#
# check_examples.sh BUILD_DIR PROJECT_SOURCE_DIR WORK_DIR CXX GENERATOR LIBDIR
# (LIBDIR as GNUInstallDirs gives it, relative to the prefix).
# CMAKE and CTEST name the build's own programs; by default, those on PATH.
set -eu
cmake=${CMAKE:-cmake} ctest=${CTEST:-ctest}
build=$1 source=$2 work=$3 cxx=$4 generator=$5 libdir=$6

fail() { echo "check_examples: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
stage=$work/stage
DESTDIR=$stage "$cmake" --install "$build" >"$work/install.log" || fail "staging the install failed"
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root=$stage$prefix

"$cmake" -S "$source/examples" -B "$work/cmake" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$root" >"$work/configure.log" 2>&1 ||
  fail "the examples do not configure on their own: $(cat "$work/configure.log")"
grep -q 'CMake Warning' "$work/configure.log" && fail "configuring the examples warns: $(cat "$work/configure.log")"
"$cmake" --build "$work/cmake" >"$work/build.log" 2>&1 ||
  fail "the examples do not build on their own: $(cat "$work/build.log")"
"$ctest" --test-dir "$work/cmake" --output-on-failure >"$work/ctest.log" 2>&1 ||
  fail "the examples built on their own fail: $(cat "$work/ctest.log")"

command -v pkg-config >/dev/null 2>&1 || { echo "check_examples: skipped what needs pkg-config"; exit 77; }
# qor.pc names its final place; the stage stands in for the root.
flags=$(PKG_CONFIG_SYSROOT_DIR=$stage PKG_CONFIG_LIBDIR=$root/$libdir/pkgconfig pkg-config --cflags --libs qor) ||
  fail "no qor.pc staged under $root/$libdir/pkgconfig"
for example in edit_attribute parse_string count_nodes; do
  # shellcheck disable=SC2086 # the flags are words
  "$cxx" -std=c++17 "$source/examples/$example.cpp" -o "$work/$example" $flags ||
    fail "$example does not build with: $flags"
done
run() { LD_LIBRARY_PATH=$root/$libdir "$@" >"$work/run.log" || fail "$* failed: $(cat "$work/run.log")"; }
run "$work/edit_attribute" "$source/examples/movie.xml" "$work/movie_v10.xml" 10
run "$work/parse_string"
run "$work/count_nodes" "$work/movie_v10.xml"
