# Writes qor.pc for builds without CMake and installs it beside the library.
#
# Its paths are plain ones under the prefix the install is made for, so
# pkg-config hands a compiler -I/usr/include rather than a path that climbs
# out of the pkgconfig directory. That prefix is known only when installing
# (`cmake --install --prefix`, CPack's /usr), so the file is written then. A
# DESTDIR stage holds the file for its final place: pkg-config reads it there
# with PKG_CONFIG_SYSROOT_DIR set to the stage. An absolute GNUInstallDirs
# directory is written as it is.
#
# The library calls nothing from libpthread (its thread-local pool needs only
# the C++ runtime), so Libs names the library alone. Its headers need C++17,
# which a consumer chooses with its own -std flag.

set(QOR_PC_DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QOR_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QOR_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()

# Everything but the prefix now; the prefix at install time.
set(QOR_PC_PREFIX @QOR_PC_PREFIX@)
configure_file(${CMAKE_CURRENT_LIST_DIR}/qor.pc.in ${PROJECT_BINARY_DIR}/pkgconfig/qor.pc.in @ONLY)
# One file per prefix, so that installs to two prefixes at once do not mix.
install(CODE "
  set(QOR_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  string(MD5 qor_pc_dir \"\${QOR_PC_PREFIX}\")
  set(qor_pc_dir \"${PROJECT_BINARY_DIR}/pkgconfig/\${qor_pc_dir}\")
  configure_file(\"${PROJECT_BINARY_DIR}/pkgconfig/qor.pc.in\" \"\${qor_pc_dir}/qor.pc\" @ONLY)
  file(INSTALL \"\${qor_pc_dir}/qor.pc\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${QOR_PC_DESTINATION}\")
" COMPONENT dev)
