#!/bin/sh
# Installs the build into a scratch prefix and checks what landed, lints the
# man page, builds a consumer through pkg-config alone, and makes the Debian
# package and looks inside it. Exits 77 (skipped) when pkg-config or the
# Debian tools are missing, after every check that could run.
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

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed"

for file in "$bindir/swfupgrade" "$mandir/man1/swfupgrade.1" \
    "$includedir/qor/xml/xml.h" "$includedir/qor/xml/xml_node.h" "$includedir/qor/xml/export.h" \
    "$includedir/qor/common/multi_tree.h" "$includedir/qor/version.h" \
    "$libdir/libqorxml.a" "$libdir/cmake/qor/qorConfig.cmake" \
    "$libdir/cmake/qor/qorConfigVersion.cmake" "$libdir/cmake/qor/qorTargets.cmake" \
    "$libdir/pkgconfig/qor.pc"; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done

# The installed tool runs on its own.
cp "$source/examples/movie.xml" "$work/movie.xml"
"$prefix/$bindir/swfupgrade" "$work/movie.xml" "$work/movie.xml" >/dev/null ||
  fail "the installed tool did not upgrade the sample"

if command -v mandoc >/dev/null 2>&1; then
  # Lint findings go to standard output; a clean page gives none.
  lint=$(mandoc -Tlint "$prefix/$mandir/man1/swfupgrade.1" 2>/dev/null) ||
    fail "mandoc -Tlint: $lint"
  [ -z "$lint" ] || fail "mandoc -Tlint: $lint"
fi

# A program built with nothing but the flags pkg-config gives. The library
# comes after the source that needs it, as a static archive must.
consume() {
  PKG_CONFIG_PATH=$1 pkg-config --exact-version="$version" qor ||
    fail "qor.pc under $1 is missing or not version $version"
  flags=$(PKG_CONFIG_PATH=$1 pkg-config --cflags --libs qor)
  # shellcheck disable=SC2086 # the flags are words
  "$cxx" -std=c++17 "$source/tests/package/consumer/main.cpp" -o "$2" $flags || fail "consumer did not build: $flags"
  "$2" || fail "consumer built against $1 failed"
}

if command -v pkg-config >/dev/null 2>&1; then
  consume "$prefix/$libdir/pkgconfig" "$work/consumer"
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
  set -- "$work"/deb/*.deb
  [ -f "$1" ] || fail "cpack made no .deb"
  dpkg-deb -c "$1" >"$work/deb.contents"
  for file in usr/bin/swfupgrade usr/share/man/man1/swfupgrade.1.gz usr/include/qor/xml/xml.h \
      usr/include/qor/xml/xml_node.h usr/include/qor/common/multi_tree.h libqorxml.a \
      cmake/qor/qorConfig.cmake cmake/qor/qorTargets.cmake pkgconfig/qor.pc; do
    grep -q "/$file\$" "$work/deb.contents" || fail ".deb lacks $file"
  done
  case $(dpkg-deb -f "$1" Version) in
    "$version"-*) ;;
    *) fail ".deb version is not $version" ;;
  esac
  dpkg-deb -f "$1" Depends | grep -q 'libc6' || fail ".deb declares no libc6 dependency"
  # The packaged qor.pc must lead to the packaged headers and library.
  dpkg-deb -x "$1" "$work/deb/root"
  pc=$(find "$work/deb/root" -name qor.pc)
  [ -f "$pc" ] || fail "no single qor.pc in the .deb"
  if command -v pkg-config >/dev/null 2>&1; then consume "$(dirname "$pc")" "$work/deb-consumer"; fi
else
  skipped="$skipped dpkg-dev/file"
fi

if [ -n "$skipped" ]; then
  echo "check_install: skipped what needs:$skipped"
  exit 77
fi
