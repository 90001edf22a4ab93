# Configures and builds the project as a shared library, with GoogleTest
# hidden, for the shared-library checks. The configure must still succeed
# and say that GoogleTest's suites are skipped.
#
# It builds from a copy of SOURCE_DIR as a checkout under umask 002 leaves
# it (files 0664, directories 0775), under that umask too: the default for
# users on many Debian-family systems, whose packages must come out as
# under any other.
cmake_path(GET WORK_DIR PARENT_PATH copy)
set(copy ${copy}/source)
file(REMOVE_RECURSE ${copy} ${WORK_DIR})
file(GLOB entries RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
list(FILTER entries EXCLUDE REGEX "^(build.*|\\.git)$")
foreach(entry IN LISTS entries)
  file(COPY ${SOURCE_DIR}/${entry} DESTINATION ${copy}
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE WORLD_READ
    DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_WRITE GROUP_EXECUTE
      WORLD_READ WORLD_EXECUTE
    REGEX "/bench/data$" EXCLUDE)
endforeach()

execute_process(
  COMMAND sh -c "umask 002 && exec \"$@\"" sh
    ${CMAKE_COMMAND} -S ${copy} -B ${WORK_DIR} -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DBUILD_SHARED_LIBS=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DQOR_BUILD_BENCH=OFF
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configure without GoogleTest failed (${result}):\n${output}")
endif()
if(NOT output MATCHES "GoogleTest not found")
  message(FATAL_ERROR "configure without GoogleTest did not say its suites are skipped:\n${output}")
endif()
execute_process(COMMAND sh -c "umask 002 && exec \"$@\"" sh ${CMAKE_COMMAND} --build ${WORK_DIR} -j2
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "shared build failed (${result})")
endif()
