# Build for 32-bit x86 Linux on a 64-bit one (Debian's g++-multilib), linked
# whole, and run the programs under qemu-i386 (Debian's qemu-user): a kernel
# may run no 32-bit program itself, and binary formats may not be
# registered with it, so every run names the emulator.
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)

find_program(QEMU_I386 qemu-i386 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_I386})
