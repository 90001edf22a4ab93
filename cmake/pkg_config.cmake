# Writes qor.pc for builds without CMake and installs it beside the library.
#
# The prefix is found from where the file lies (${pcfiledir}), as the CMake
# package finds its own, so the same file is right after `cmake --install
# --prefix`, in a DESTDIR staging tree and in the Debian package, whose
# prefix differs from the one configured. An absolute GNUInstallDirs
# directory cannot move with the prefix and is written as it is.
#
# The library calls nothing from libpthread, so Libs names the library
# alone. Its headers need C++17, which a consumer chooses with its own -std
# flag.

set(QOR_PC_DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(IS_ABSOLUTE "${QOR_PC_DESTINATION}")
  set(QOR_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  # From lib/pkgconfig (or lib/<triplet>/pkgconfig) back up to the prefix.
  file(RELATIVE_PATH up "/prefix/${QOR_PC_DESTINATION}" "/prefix")
  string(REGEX REPLACE "/$" "" up "${up}")
  set(QOR_PC_PREFIX "\${pcfiledir}/${up}")
endif()

foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QOR_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QOR_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/qor.pc.in ${PROJECT_BINARY_DIR}/qor.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qor.pc DESTINATION ${QOR_PC_DESTINATION} COMPONENT dev)
