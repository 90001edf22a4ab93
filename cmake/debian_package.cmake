# `cpack -G DEB` in a build directory makes a Debian package of everything
# the install rules place: the tool, its man page, the library, its headers,
# its CMake package and qor.pc. The version is the project's.

set(CPACK_PACKAGE_NAME swfupgrade)
set(CPACK_PACKAGE_VENDOR "qor developers")
set(CPACK_PACKAGE_CONTACT "qor maintainers <maintainers@users.noreply.c-seed-02e2c551.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade the XML description of an SWF movie to version 10")
set(CPACK_PACKAGE_DESCRIPTION
  "swfupgrade raises the XML description of an SWF movie to version 10 and
writes it back as indented text, replacing the output file atomically.
.
Also included is qor::xml, the static XML document library the tool is
built on, with its headers, a CMake package and a pkg-config file.")

# A package lives under /usr, whatever prefix the build was configured
# with; the CMake package and qor.pc find their prefix from where they lie.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies of the tool, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian strips its programs and ships man pages compressed.
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_man_pages.cmake)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
