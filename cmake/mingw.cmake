# What the MinGW-w64 toolchain files share; each sets MINGW_TRIPLET and
# MINGW_WINE_NAMES (the Wine loader that runs its programs) first.
# Extra roots (e.g. a prefix holding a cross-built GoogleTest) may be given
# with -DCMAKE_FIND_ROOT_PATH=<dir>; the MinGW sysroot is appended to them.

set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${MINGW_TRIPLET})

# The -posix variants: the -win32 ones lack std::thread and std::mutex,
# which GoogleTest needs.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

if(NOT "/usr/${MINGW_TRIPLET}" IN_LIST CMAKE_FIND_ROOT_PATH)
  list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime: Wine has no libstdc++/libgcc/winpthread DLLs to load,
# and a program missing them fails without a word. Loaded at a random
# address, with data never executable, whatever the linker's defaults;
# each toolchain file adds its own address-space flags.
set(CMAKE_EXE_LINKER_FLAGS_INIT
  "-static -static-libgcc -static-libstdc++ -Wl,--dynamicbase,--nxcompat ${MINGW_ADDRESS_SPACE_FLAGS}")

# CTest (and test discovery at build time) run the .exe files through Wine.
find_program(MINGW_WINE NAMES ${MINGW_WINE_NAMES} PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(MINGW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
endif()
