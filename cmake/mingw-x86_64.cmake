# Cross-compile for 64-bit Windows with MinGW-w64. CI uses it where the
# Linux host cannot run 32-bit programs, so 32-bit Wine cannot either: the
# same Windows code is then tested as a 64-bit program.
set(MINGW_TRIPLET x86_64-w64-mingw32)
# Debian's wine script runs the 32-bit loader whenever it is installed.
set(MINGW_WINE_NAMES wine64)
set(MINGW_ADDRESS_SPACE_FLAGS -Wl,--high-entropy-va)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
