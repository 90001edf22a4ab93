// The Windows host's process: its arguments, its messages, what it sets
// up before any file is touched, and the test seams' defaults.
#define _CRT_RAND_S  // rand_s, drawn from the host's own random source
#include "driver/windows/open_files.h"  // <windows.h>, which <shellapi.h> needs first

#include <io.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/windows/console_events.h"

namespace host {

namespace {

std::uint64_t randomBits() {
    unsigned int low = 0, high = 0;
    if (rand_s(&low) == 0 && rand_s(&high) == 0) return (static_cast<std::uint64_t>(high) << 32) | low;
    // Any name will do where none can be drawn: a taken one is only tried again.
    static std::uint64_t counter = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull + GetCurrentProcessId() + ++counter;
}

}  // namespace

void (*beforeStep)(enStep step, tyStepFile file) = nullptr;
std::uint64_t (*drawRandom)() = randomBits;

void announce(enStep step, const clInputFile& input) {
    if (!beforeStep) return;
    const int fd = input.descriptor();
    beforeStep(step, fd >= 0 ? reinterpret_cast<void*>(_get_osfhandle(fd)) : nullptr);
}

void announce(enStep step, const clOutputFile& output) {
    if (beforeStep) beforeStep(step, output.hostState().handle);
}

std::vector<std::string> arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> all;
    for (int i = 1; wide && i < count; ++i) all.push_back(narrowed(wide[i]));
    LocalFree(wide);
    return all;
}

void writeLine(const std::string& line) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        // A console shows characters, whatever its code page.
        std::cout.flush();
        const std::wstring text = widened(line) + L"\r\n";
        DWORD written = 0;
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::cout << line << std::endl;
}

void prepareProcess() { catchConsoleEvents(); }

// Files are read, not mapped, here.
clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {}
clBusErrorExit::~clBusErrorExit() = default;

}  // namespace host
