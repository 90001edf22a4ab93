# `cpack -G ZIP` in a Windows build makes swfupgrade-<version>-win32.zip
# (or -win64), laid out as that host's users expect: one folder holding the
# tool, its licence and its manual as text, and the library's headers and
# archive under include\ and lib\.

# The manual as plain text with Windows line ends, for whoever has no man.
find_program(QOR_MANDOC mandoc)
if(QOR_MANDOC)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/README.txt
    COMMAND ${CMAKE_COMMAND} -DMANDOC=${QOR_MANDOC} -DPAGE=${PROJECT_SOURCE_DIR}/driver/swfupgrade.1
      -DTEXT=${PROJECT_BINARY_DIR}/README.txt -P ${CMAKE_CURRENT_LIST_DIR}/man_page_text.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/driver/swfupgrade.1 ${CMAKE_CURRENT_LIST_DIR}/man_page_text.cmake VERBATIM)
  add_custom_target(manual_text ALL DEPENDS ${PROJECT_BINARY_DIR}/README.txt)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION . COMPONENT tool)
else()
  message(WARNING "mandoc not found: the Windows package has no README.txt")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT tool)

set(CPACK_PACKAGE_NAME swfupgrade)
set(CPACK_PACKAGE_VENDOR "qor developers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_PACKAGE_FILE_NAME swfupgrade-${PROJECT_VERSION}-win64)
else()
  set(CPACK_PACKAGE_FILE_NAME swfupgrade-${PROJECT_VERSION}-win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL tool dev)
include(CPack)
