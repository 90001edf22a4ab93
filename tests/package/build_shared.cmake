# Configures and builds the project as a shared library, with GoogleTest
# hidden, for the shared-library checks. The configure must still succeed
# and say that GoogleTest's suites are skipped.
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR} -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DBUILD_SHARED_LIBS=ON
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DQOR_BUILD_BENCH=OFF
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configure without GoogleTest failed (${result}):\n${output}")
endif()
if(NOT output MATCHES "GoogleTest not found")
  message(FATAL_ERROR "configure without GoogleTest did not say its suites are skipped:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR} -j2 RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "shared build failed (${result})")
endif()
