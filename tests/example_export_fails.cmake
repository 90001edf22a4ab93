# The edit_attribute example aimed at a directory that does not exist must
# say it could not write and end with a nonzero status, printing no change.
execute_process(COMMAND ${EMULATOR} ${EXAMPLE} ${INPUT} ${WORK}/no-such-directory/out.xml 10
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r" "" err "${err}")  # a Windows program's line ends
if(status EQUAL 0)
  message(FATAL_ERROR "exit status 0 for an export that wrote nothing")
endif()
if(NOT err MATCHES "^cannot write .*no-such-directory/out\\.xml\n$")
  message(FATAL_ERROR "standard error was \"${err}\"")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "standard output was \"${out}\"")
endif()
