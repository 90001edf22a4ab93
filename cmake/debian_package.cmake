# `cpack -G DEB` in a build directory makes the Debian packages, one per
# install component:
#   swfupgrade      (tool)     the tool and its man page
#   libqorxml-dev   (dev)      headers, the static library or the .so link,
#                              the CMake package and qor.pc
#   libqorxml1      (runtime)  the shared library, when BUILD_SHARED_LIBS
# Each gets a machine-readable copyright file and a Debian changelog in
# /usr/share/doc/<package>. The version is the project's.

set(CPACK_PACKAGE_NAME qor)
set(CPACK_PACKAGE_VENDOR "qor developers")
set(CPACK_PACKAGE_CONTACT "qor maintainers <maintainers@users.noreply.c-seed-02e2c551.example>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

# A package lives under /usr, whatever prefix the build was configured
# with; the CMake package and qor.pc find their prefix from where they lie.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool dev)
if(BUILD_SHARED_LIBS)
  list(APPEND CPACK_COMPONENTS_ALL runtime)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The modes in a package are Debian's whatever the builder's umask (002 is
# the default for users on many Debian-family systems): directories 0755,
# control files 0644 or 0755, however they lie on disk. Files installed
# without a mode of their own get 0644, programs 0755.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE qor)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies of programs and libraries, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(QOR_DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME swfupgrade)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "upgrade the XML description of an SWF movie to version 10
swfupgrade raises the XML description of an SWF movie to version 10 and
writes it back as indented text, replacing the output file atomically.")

# A tool linked whole carries the C library's code, which is under the
# LGPL: Debian asks the package to name that code's source package at its
# exact version (Built-Using), so the archive keeps that source. The C++
# runtime linked in with it is under the GCC Runtime Library Exception,
# which asks nothing of the kind, and Debian wants no source named only to
# track rebuilds, so gcc is not named. CPack has no such field: it follows
# the Source line.
if(QOR_TOOL_LINK MATCHES "^static")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libc.a
    OUTPUT_VARIABLE libc OUTPUT_STRIP_TRAILING_WHITESPACE)
  file(REAL_PATH "${libc}" libc)
  find_program(QOR_DPKG_QUERY dpkg-query)
  if(QOR_DPKG_QUERY)
    # "libc6-dev:amd64: /usr/lib/x86_64-linux-gnu/libc.a"
    execute_process(COMMAND ${QOR_DPKG_QUERY} -S ${libc} OUTPUT_VARIABLE owner ERROR_QUIET)
    string(REGEX MATCH "^[^:,\n]+(:[^:,\n ]+)?" owner "${owner}")
  endif()
  if(owner)
    execute_process(COMMAND ${QOR_DPKG_QUERY} -W "-f=\${source:Package} (= \${source:Version})" ${owner}
      OUTPUT_VARIABLE QOR_DEBIAN_BUILT_USING ERROR_QUIET)
  endif()
  if(QOR_DEBIAN_BUILT_USING)
    set(CPACK_DEBIAN_TOOL_PACKAGE_SOURCE "${CPACK_DEBIAN_PACKAGE_SOURCE}\nBuilt-Using: ${QOR_DEBIAN_BUILT_USING}")
  else()
    message(STATUS "swfupgrade's package: no Debian package owns ${libc}, so it names no Built-Using")
  endif()
endif()

set(QOR_DEBIAN_LIBRARY libqorxml${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqorxml-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "XML document library (development files)
qor::xml is a small C++17 XML document library: an owning tree of typed
nodes, a lenient one-pass parser and an indenting writer.
.
This package holds the headers, the library to link, a CMake package and
a pkg-config file.")
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${QOR_DEBIAN_LIBRARY} (= ${QOR_DEBIAN_VERSION})")
endif()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${QOR_DEBIAN_LIBRARY})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shlibs file tells dpkg-shlibdeps of programs built against the library
# which package to depend on.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs through dpkg's trigger. CPack would also call it from a
# postinst and postrm of its own unless the package lists such scripts;
# it lists them without making them (CPack adds only files that exist).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers
  ${PROJECT_BINARY_DIR}/debian/none/postinst ${PROJECT_BINARY_DIR}/debian/none/postrm)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "XML document library
qor::xml is a small C++17 XML document library: an owning tree of typed
nodes, a lenient one-pass parser and an indenting writer.
.
This package holds the shared library.")

# The copyright file, the changelog and lintian's overrides go into the
# packages only: a plain install leaves them out (EXCLUDE_FROM_ALL), CPack
# asks for each component.
find_program(QOR_GZIP gzip)
string(TIMESTAMP QOR_DEBIAN_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
if(QOR_GZIP)
  # -n leaves the name and time out, so the bytes depend on the text only.
  execute_process(COMMAND ${QOR_GZIP} -9nf ${PROJECT_BINARY_DIR}/debian/changelog.Debian)
endif()
# The tool linked whole has overrides of its own, after the shared ones.
# lintian calls such a program statically-linked-binary, but takes one
# that is position-independent for a shared library lacking what it needs.
if(QOR_TOOL_LINK STREQUAL "static-pie")
  set(QOR_LINTIAN_STATIC_TAG shared-library-lacks-prerequisites)
elseif(QOR_TOOL_LINK STREQUAL "static")
  set(QOR_LINTIAN_STATIC_TAG statically-linked-binary)
endif()
if(QOR_LINTIAN_STATIC_TAG)
  file(READ ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides QOR_LINTIAN_OVERRIDES)
  set(QOR_LINTIAN_TOOL_PATH usr/${CMAKE_INSTALL_BINDIR}/swfupgrade)  # in the package
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/static-tool.lintian-overrides.in
    ${PROJECT_BINARY_DIR}/debian/static-tool.lintian-overrides @ONLY)
endif()
foreach(component tool dev runtime)
  string(TOUPPER ${component} upper)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
    COMPONENT ${component} EXCLUDE_FROM_ALL)
  set(overrides ${CMAKE_CURRENT_LIST_DIR}/debian/lintian-overrides)
  if(component STREQUAL "tool" AND QOR_LINTIAN_STATIC_TAG)
    set(overrides ${PROJECT_BINARY_DIR}/debian/static-tool.lintian-overrides)
  endif()
  install(FILES ${overrides}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    RENAME ${CPACK_DEBIAN_${upper}_PACKAGE_NAME} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# Debian strips its programs and libraries (archives of their debug
# information only) and ships man pages compressed.
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/compress_man_pages.cmake
  ${CMAKE_CURRENT_LIST_DIR}/strip_static_libraries.cmake)

set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_project.cmake)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
