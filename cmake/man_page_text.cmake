# Renders the man page PAGE as plain text into TEXT with CR LF line ends:
# mandoc's bold and underline overstrikes removed. Run with -P.
execute_process(COMMAND ${MANDOC} -T ascii ${PAGE} OUTPUT_VARIABLE text RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "mandoc failed (${result}) on ${PAGE}")
endif()
string(ASCII 8 backspace)
string(REGEX REPLACE "[^\n]${backspace}" "" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${TEXT} "${text}")
