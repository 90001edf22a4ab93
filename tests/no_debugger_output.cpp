// GoogleTest hands every failure and skip to OutputDebugStringA as well,
// which raises an exception for a debugger to catch. 32-bit Wine under
// user-mode emulation (qemu-i386) cannot dispatch it and ends the program,
// so the 32-bit Windows test programs bind that call to one that drops the
// text: GoogleTest still prints it to standard output.
#include <windows.h>

namespace {

void WINAPI dropDebuggerText(LPCSTR) {}

}  // namespace

// The import table's slot for the call, which the linker then takes from here.
extern "C" void(WINAPI* const noDebuggerOutput)(LPCSTR) __asm__("__imp__OutputDebugStringA@4");
void(WINAPI* const noDebuggerOutput)(LPCSTR) = dropDebuggerText;
