# Read by cpack once per generator.
#
# CPack's Debian generator says at STATUS level of every package that
# declares no dependencies that it will have none. The tool linked whole and
# a static library's development package need none, and say so in their
# control files; the line only hides real news in the output.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CMAKE_MESSAGE_LOG_LEVEL NOTICE)
endif()
