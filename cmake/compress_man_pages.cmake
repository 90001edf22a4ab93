# Run by CPack once the package's files are staged: gzip the man pages, as
# Debian ships them. -n leaves the name and time out, so the package's bytes
# depend on the sources only.
find_program(GZIP gzip)
if(NOT GZIP)
  message(FATAL_ERROR "gzip is needed to compress the man pages")
endif()
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.[1-9]")
list(FILTER pages INCLUDE REGEX "/man/man[1-9]/[^/]+$")
foreach(page IN LISTS pages)
  execute_process(COMMAND ${GZIP} -9nf ${page} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed (${result}) on ${page}")
  endif()
endforeach()
