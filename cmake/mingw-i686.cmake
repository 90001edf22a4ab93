# Cross-compile for 32-bit Windows, the tool's own host, with MinGW-w64;
# tests run under Wine.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(MINGW_TRIPLET i686-w64-mingw32)
set(MINGW_WINE_NAMES wine)
# 4 GB of address space on 64-bit Windows rather than 2: the document's
# tree takes several times the size of the movie.
set(MINGW_ADDRESS_SPACE_FLAGS -Wl,--large-address-aware)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
