# Run by CPack once the package's files are staged: drop the debug
# information from static libraries, as Debian ships them. CPack's own
# stripping leaves archives alone.
find_program(STRIP strip)
if(NOT STRIP)
  message(FATAL_ERROR "strip is needed to package static libraries")
endif()
file(GLOB_RECURSE archives "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.a")
foreach(archive IN LISTS archives)
  execute_process(COMMAND ${STRIP} --strip-debug ${archive} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip failed (${result}) on ${archive}")
  endif()
endforeach()
