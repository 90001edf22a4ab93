#!/bin/sh
# Installs the build into a scratch prefix and checks what landed and how
# the tool is linked, lints the man page, builds an example through
# pkg-config alone, and makes the Debian packages, looks inside them and runs
# lintian on them, all under umask 002 (the default for users on many
# Debian-family systems), which must not show in the packages. Serves a static and a shared build of the library alike.
# Exits 77 (skipped) when readelf, pkg-config, the Debian tools or lintian
# are missing, after every check that could run.
#
# check_install.sh BUILD_DIR PROJECT_SOURCE_DIR WORK_DIR CXX VERSION BINDIR LIBDIR INCLUDEDIR MANDIR
# (the last four as GNUInstallDirs gives them, relative to the prefix).
# CMAKE and CPACK name the build's own programs; by default, those on PATH.
set -eu
cmake=${CMAKE:-cmake} cpack=${CPACK:-cpack}
build=$1 source=$2 work=$3 cxx=$4 version=$5
bindir=$6 libdir=$7 includedir=$8 mandir=$9

fail() { echo "check_install: $*" >&2; exit 1; }
skipped=
umask 002

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed"

for file in "$bindir/swfupgrade" "$mandir/man1/swfupgrade.1" \
    "$includedir/qor/xml/xml.h" "$includedir/qor/xml/xml_node.h" "$includedir/qor/xml/export.h" \
    "$includedir/qor/common/multi_tree.h" "$includedir/qor/version.h" \
    "$libdir/cmake/qor/qorConfig.cmake" \
    "$libdir/cmake/qor/qorConfigVersion.cmake" "$libdir/cmake/qor/qorTargets.cmake" \
    "$libdir/pkgconfig/qor.pc"; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
shared=
if [ -e "$prefix/$libdir/libqorxml.so" ]; then
  shared=1
  [ -f "$prefix/$libdir/libqorxml.so.1" ] || fail "not installed: $libdir/libqorxml.so.1"
else
  [ -f "$prefix/$libdir/libqorxml.a" ] || fail "not installed: $libdir/libqorxml.a"
fi

# The installed tool runs on its own.
cp "$source/examples/movie.xml" "$work/movie.xml"
"$prefix/$bindir/swfupgrade" "$work/movie.xml" "$work/movie.xml" >/dev/null ||
  fail "the installed tool did not upgrade the sample"

# How the build linked the tool (see cmake/tool_link.cmake).
link=$(sed -n 's/^QOR_TOOL_LINK:INTERNAL=//p' "$build/CMakeCache.txt")

# check_linked FILE: the tool is linked as the build says, with its
# hardening: RELRO and a stack that is never executable; linked whole, it
# needs no loader and no library, and a static-pie one is position-
# independent (type DYN) and relocated once at start (BIND_NOW).
check_linked() {
  readelf -hldW "$1" >"$work/elf" || fail "readelf cannot read $1"
  grep -q '^ *GNU_RELRO ' "$work/elf" || fail "$1 has no RELRO"
  grep -q '^ *GNU_STACK ' "$work/elf" || fail "$1 does not say its stack is not executable"
  grep -Eq '^ *GNU_STACK .* RWE ' "$work/elf" && fail "$1 has an executable stack"
  type=$(sed -n 's/^ *Type: *\([A-Z]*\) .*/\1/p' "$work/elf")
  case $link in
    static-pie | static)
      ! grep -Eq '^ *INTERP |\(NEEDED\)' "$work/elf" || fail "$1 is not linked whole: $(grep -E 'INTERP|NEEDED' "$work/elf")"
      ;;
    *)
      grep -q '^ *INTERP ' "$work/elf" || fail "$1 names no dynamic loader"
      ;;
  esac
  case $link in
    static-pie)
      [ "$type" = DYN ] || fail "$1 is not position-independent: type $type"
      grep -q '(FLAGS) *BIND_NOW' "$work/elf" || fail "$1 is not bound at start"
      if command -v file >/dev/null 2>&1; then
        file -b "$1" | grep -q 'static-pie linked' || fail "file(1) does not call $1 static-pie: $(file -b "$1")"
      fi
      ;;
    static) [ "$type" = EXEC ] || fail "$1 linked -static is of type $type" ;;
    runtime)
      grep -q '(NEEDED).*libstdc++' "$work/elf" && fail "$1 loads the shared C++ runtime"
      ;;
  esac
  return 0
}

if command -v readelf >/dev/null 2>&1; then
  check_linked "$prefix/$bindir/swfupgrade"
else
  skipped="$skipped readelf"
fi

if command -v mandoc >/dev/null 2>&1; then
  # Lint findings go to standard output; a clean page gives none.
  lint=$(mandoc -Tlint "$prefix/$mandir/man1/swfupgrade.1" 2>/dev/null) ||
    fail "mandoc -Tlint: $lint"
  [ -z "$lint" ] || fail "mandoc -Tlint: $lint"
fi
if command -v groff >/dev/null 2>&1; then
  # As man renders it; groff 1.22 heads an mdoc page "BSD" unless told.
  head=$(groff -mandoc -Tutf8 "$prefix/$mandir/man1/swfupgrade.1" 2>/dev/null | sed -n 1p)
  case $head in
    *BSD*) fail "the man page is headed: $head" ;;
  esac
fi

# An example built with nothing but the flags pkg-config gives, which name
# the headers and the library plainly under the prefix. The library comes
# after the source that needs it, as a static archive must; a shared one is
# found at run time beside qor.pc. consume ROOT PREFIX PROGRAM: ROOT holds
# the tree installed for PREFIX (empty when it lies there).
consume() {
  pc=$1$2/$libdir/pkgconfig
  export PKG_CONFIG_LIBDIR="$pc" PKG_CONFIG_SYSROOT_DIR="$1"
  pkg-config --exact-version="$version" qor || fail "qor.pc under $pc is missing or not version $version"
  flags=$(pkg-config --cflags --libs qor)
  unset PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR
  [ "$flags" = "-I$1$2/$includedir -L$1$2/$libdir -lqorxml " ] || fail "qor.pc gives: $flags"
  # shellcheck disable=SC2086 # the flags are words
  "$cxx" -std=c++17 "$source/examples/parse_string.cpp" -o "$3" $flags || fail "an example did not build: $flags"
  LD_LIBRARY_PATH=$1$2/$libdir "$3" >/dev/null || fail "an example built against $pc failed"
}

if command -v pkg-config >/dev/null 2>&1; then
  consume "" "$prefix" "$work/consumer"
else
  skipped="$skipped pkg-config"
fi

# CPack hands dpkg-shlibdeps the programs that file(1) calls ELF.
debian_tools_found() {
  for tool in "$cpack" dpkg-deb dpkg-shlibdeps file; do
    command -v "$tool" >/dev/null 2>&1 || return 1
  done
}

if debian_tools_found; then
  "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" ||
    fail "cpack -G DEB failed, see $work/cpack.log"
  # CPack's own lines start "CPack:"; anything else is news.
  ! grep -v '^CPack: ' "$work/cpack.log" || fail "cpack said more than it made"
  tool=$work/deb/swfupgrade_${version}-1_$(dpkg --print-architecture).deb
  dev=$work/deb/libqorxml-dev_${version}-1_$(dpkg --print-architecture).deb
  runtime=$work/deb/libqorxml1_${version}-1_$(dpkg --print-architecture).deb
  if [ -n "$shared" ]; then debs="$tool $dev $runtime"; else debs="$tool $dev"; fi
  # shellcheck disable=SC2086 # debs are words
  [ "$(ls "$work"/deb/*.deb)" = "$(ls $debs)" ] || fail "packages made: $(ls "$work"/deb/*.deb)"

  # Which package holds what; each has its copyright and changelog.
  holds() {
    deb=$1
    shift
    dpkg-deb -c "$deb" >"$work/deb.contents"
    for file in "$@"; do
      grep -q "/$file\$" "$work/deb.contents" || fail "$(basename "$deb") lacks $file"
    done
  }
  for deb in $debs; do
    package=$(dpkg-deb -f "$deb" Package)
    holds "$deb" "usr/share/doc/$package/copyright" "usr/share/doc/$package/changelog.Debian.gz"
  done
  holds "$tool" usr/bin/swfupgrade usr/share/man/man1/swfupgrade.1.gz
  holds "$dev" usr/include/qor/xml/xml.h usr/include/qor/version.h \
    "cmake/qor/qorConfig.cmake" "cmake/qor/qorTargets.cmake" "$libdir/pkgconfig/qor.pc"
  if [ -n "$shared" ]; then
    holds "$dev" "$libdir/libqorxml.so -> libqorxml.so.1"
    holds "$runtime" "$libdir/libqorxml.so.1 -> libqorxml.so.1.0.0" "$libdir/libqorxml.so.1.0.0"
    dpkg-deb -f "$dev" Depends | grep -q "libqorxml1 (= $version-1)" ||
      fail "libqorxml-dev does not depend on its libqorxml1"
  else
    holds "$dev" "$libdir/libqorxml.a"
  fi
  case $(dpkg-deb -f "$tool" Version) in
    "$version"-*) ;;
    *) fail ".deb version is not $version" ;;
  esac
  # A tool linked whole needs no library and names the C library's source it
  # carries, at the version installed here; else it depends on the library.
  depends=$(dpkg-deb -f "$tool" Depends)
  built_using=$(dpkg-deb -f "$tool" Built-Using)
  case $link in
    static-pie | static)
      [ -z "$depends" ] || fail "swfupgrade linked whole depends on: $depends"
      libc=$(dpkg-query -W -f '${source:Package} (= ${source:Version})' libc6-dev)
      [ "$built_using" = "$libc" ] || fail "swfupgrade is built using '$built_using', not '$libc'"
      ;;
    *)
      echo "$depends" | grep -q 'libc6' || fail "swfupgrade declares no libc6 dependency"
      [ -z "$built_using" ] || fail "swfupgrade carries no C library but says it is built using $built_using"
      ;;
  esac

  # What the packages put in place: the tool, stripped, still runs and is
  # linked as built; qor.pc leads to the packaged headers and library.
  for deb in $debs; do dpkg-deb -x "$deb" "$work/deb/root"; done
  cp "$source/examples/movie.xml" "$work/deb-movie.xml"
  "$work/deb/root/usr/$bindir/swfupgrade" "$work/deb-movie.xml" "$work/deb-movie.xml" >/dev/null ||
    fail "the packaged tool did not upgrade the sample"
  if command -v readelf >/dev/null 2>&1; then check_linked "$work/deb/root/usr/$bindir/swfupgrade"; fi
  [ -f "$work/deb/root/usr/$libdir/pkgconfig/qor.pc" ] || fail "no qor.pc in the packages"
  if command -v pkg-config >/dev/null 2>&1; then consume "$work/deb/root" /usr "$work/deb-consumer"; fi

  if command -v lintian >/dev/null 2>&1; then
    # Any error or warning fails; lintian prints nothing on a clean package.
    # shellcheck disable=SC2086 # debs are words
    lintian --fail-on error,warning $debs >"$work/lintian.log" 2>&1 ||
      fail "lintian: $(cat "$work/lintian.log")"
    grep -v 'running with root privileges' "$work/lintian.log" >"$work/lintian.findings" || true
    [ ! -s "$work/lintian.findings" ] || fail "lintian: $(cat "$work/lintian.findings")"
  else
    skipped="$skipped lintian"
  fi
else
  skipped="$skipped dpkg-dev/file"
fi

if [ -n "$skipped" ]; then
  echo "check_install: skipped what needs:$skipped"
  exit 77
fi
