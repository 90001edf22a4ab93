# Runs the tool on a document nested a million levels deep whose swf
# element sits at the bottom and which has no FileAttributes: loading, both
# lookups (the second visits every node) and teardown must all get through.
set(depth 1000000)
string(REPEAT "<a>" ${depth} opening)
file(WRITE "${WORK}/deep.xml" "<?xml version=\"1.0\"?>${opening}<swf version=\"8\"/>")
execute_process(COMMAND ${EMULATOR} "${TOOL}" "${WORK}/deep.xml" "${WORK}/out.xml"
  RESULT_VARIABLE status OUTPUT_VARIABLE output)
string(REPLACE "\r" "" output "${output}")
if(NOT status EQUAL 1 OR NOT output STREQUAL "swf tag changed\n" OR EXISTS "${WORK}/out.xml")
  message(FATAL_ERROR "status ${status}, output '${output}'")
endif()
file(REMOVE "${WORK}/deep.xml")
