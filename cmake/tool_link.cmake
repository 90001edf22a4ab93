# How the tool is linked; QOR_TOOL_LINK tells the packaging and the package
# test which way was taken:
#   static-pie  whole (the C library too), position-independent
#   static      whole, at a fixed address
#   runtime     the C++ runtime linked in, the C library shared
#   shared      the toolchain's default
# Batches run the tool once a file, and for a small file much of a run is
# starting the process, much of that loading shared libraries: linking the
# C++ runtime in cut a run on the sample to about 0.8 of its time, the C
# library to about 0.85 of that again (README, Performance). So the tool is linked
# whole where the toolchain can, and position-independent where it can, so
# that its addresses are still randomised. QOR_STATIC_TOOL OFF links it
# dynamically, for distributions that want the libraries' updates to reach
# the tool. The sanitizers need their runtimes shared. Windows builds are
# linked whole by the toolchain file.
include(CheckCXXSourceCompiles)
include(CheckCXXSourceRuns)
include(CheckLinkerFlag)

# What the tool's start-up leans on: relocated data, static constructors,
# thread-local storage, exceptions and the standard streams.
set(QOR_TOOL_LINK_PROBE [[
#include <iostream>
#include <stdexcept>
#include <string>
static const std::string greeting = "linked";
thread_local std::string scratch = "whole";
int main(int argc, char**) {
  try {
    if (argc > 0) throw std::runtime_error(scratch);
  } catch (const std::exception& e) {
    std::cout << greeting << ' ' << e.what() << std::endl;
    return 0;
  }
  return 1;
}
]])

# Sets VAR when the probe, compiled with COMPILE_FLAGS and linked with
# the list LINK_OPTIONS, links without a warning and runs. A link alone
# proves too little: -static-pie beside -static-libgcc links cleanly into a
# program that crashes at once. Where the program cannot be run (cross
# builds without an emulator) the link is all that is checked.
function(qor_tool_link_works var compile_flags link_options)
  set(CMAKE_REQUIRED_FLAGS "${compile_flags}")
  set(CMAKE_REQUIRED_LINK_OPTIONS ${link_options} -Wl,--fatal-warnings)
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    check_cxx_source_compiles("${QOR_TOOL_LINK_PROBE}" ${var})
  else()
    check_cxx_source_runs("${QOR_TOOL_LINK_PROBE}" ${var})
  endif()
endfunction()

# RELRO over everything relocated at start, and a stack that is never
# executable, whatever the linker's defaults.
set(QOR_TOOL_HARDENING -Wl,-z,relro,-z,now,-z,noexecstack)

set(tool_link shared)
if(QOR_SANITIZE)
  message(STATUS "swfupgrade: linked dynamically, as the sanitizers need")
elseif(NOT QOR_STATIC_TOOL)
  message(STATUS "swfupgrade: linked dynamically, as QOR_STATIC_TOOL is OFF")
elseif(QOR_STATIC_TOOL AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  # -static-pie needs every object of the program compiled as PIE; the C++
  # runtime comes in whole with the C library, so -static-libgcc, which
  # spoils -static-pie, is not given.
  qor_tool_link_works(QOR_TOOL_RUNS_STATIC_PIE "${CMAKE_CXX_COMPILE_OPTIONS_PIE}"
    "-static-pie;${QOR_TOOL_HARDENING}")
  if(QOR_TOOL_RUNS_STATIC_PIE)
    set(tool_link static-pie)
    set_target_properties(swfupgrade swfupgrade_driver PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_link_options(swfupgrade PRIVATE -static-pie ${QOR_TOOL_HARDENING})
  else()
    qor_tool_link_works(QOR_TOOL_RUNS_STATIC "" "-static;${QOR_TOOL_HARDENING}")
    if(QOR_TOOL_RUNS_STATIC)
      set(tool_link static)
      target_link_options(swfupgrade PRIVATE -static ${QOR_TOOL_HARDENING})
    else()
      message(WARNING "swfupgrade: neither -static-pie nor -static makes a program that runs here: "
        "the tool links the C library shared")
    endif()
  endif()
  if(NOT tool_link STREQUAL "shared")
    # A call that needs the dynamic loader (name-service lookups, dlopen)
    # draws a linker warning in a whole link: it must not pass unseen.
    target_link_options(swfupgrade PRIVATE -Wl,--fatal-warnings)
    message(STATUS "swfupgrade: linked whole (-${tool_link})")
  endif()
endif()
# Where the whole link cannot be had, the C++ runtime alone is still linked in.
if(tool_link STREQUAL "shared" AND QOR_STATIC_TOOL AND NOT QOR_SANITIZE)
  check_linker_flag(CXX "-static-libstdc++;-static-libgcc" QOR_LINKS_RUNTIME_STATIC)
  if(QOR_LINKS_RUNTIME_STATIC)
    set(tool_link runtime)
    target_link_options(swfupgrade PRIVATE -static-libstdc++ -static-libgcc)
    message(STATUS "swfupgrade: the C++ runtime linked in (-static-libstdc++ -static-libgcc)")
  endif()
endif()
set(QOR_TOOL_LINK ${tool_link} CACHE INTERNAL "How swfupgrade is linked: static-pie, static, runtime or shared")
