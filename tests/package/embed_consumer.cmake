# A project of someone else's that takes a copy of this one with
# add_subdirectory and builds a program against qor::xml: it must get the
# library alone. None of this project's tests, tools, benchmarks, examples
# or packaging may be configured or built, and the program must run.
#
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -DGENERATOR=... -DCXX_COMPILER=... -P embed_consumer.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
set(consumer ${WORK_DIR}/consumer)
file(GLOB entries RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
list(FILTER entries EXCLUDE REGEX "^(build.*|\\.git)$")
foreach(entry IN LISTS entries)
  file(COPY ${SOURCE_DIR}/${entry} DESTINATION ${consumer}/third_party/qor REGEX "/bench/data$" EXCLUDE)
endforeach()
file(COPY ${SOURCE_DIR}/examples/parse_string.cpp DESTINATION ${consumer})
file(WRITE ${consumer}/CMakeLists.txt [[
cmake_minimum_required(VERSION 3.25)
project(consumer LANGUAGES CXX)
add_subdirectory(third_party/qor)
add_executable(app parse_string.cpp)
target_link_libraries(app PRIVATE qor::xml)
]])

set(build ${WORK_DIR}/build)
execute_process(COMMAND ${CMAKE_COMMAND} -S ${consumer} -B ${build} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the consumer does not configure (${result}):\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} -j2 RESULT_VARIABLE result OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the consumer does not build (${result}):\n${output}")
endif()
execute_process(COMMAND ${build}/app RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the consumer's program failed (${result}):\n${output}")
endif()

# What the build made of this project: its programs would lie in the
# subproject's build tree, its tests in a CTest file, its packaging in
# CPack's configuration.
file(GLOB_RECURSE made LIST_DIRECTORIES false RELATIVE ${build}/third_party/qor ${build}/third_party/qor/*)
list(FILTER made INCLUDE REGEX "(^|/)(swfupgrade|[a-z_]*_tests|gen_swf_xml|pugixml_job|xml_fuzzer|example_[a-z_]*)(\\.exe)?$|CTestTestfile\\.cmake$|^CPack")
if(made)
  list(JOIN made "\n  " made)
  message(FATAL_ERROR "a consumer's build made more than the library:\n  ${made}")
endif()
if(NOT EXISTS ${build}/third_party/qor/libqorxml.a AND NOT EXISTS ${build}/third_party/qor/qorxml.lib)
  message(FATAL_ERROR "the consumer's build made no qor::xml library")
endif()
