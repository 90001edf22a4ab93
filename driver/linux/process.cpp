// The Linux host's process: its arguments, its messages, what it sets up
// before any file is touched, and the test seams' defaults.
#include "driver/linux/process.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <iostream>

#include "driver/host.h"
#include "driver/host_seam.h"

namespace host {

namespace {

// Read once, before any file is created.
mode_t maskOfProcess = 022;

std::uint64_t randomBits() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    // Any name will do where none can be drawn: a taken one is only tried again.
    static std::uint64_t counter = 0;
    bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (bits ^ (static_cast<std::uint64_t>(::getpid()) << 32)) + 0x9E3779B97F4A7C15ull * ++counter;
}

}  // namespace

void (*beforeStep)(enStep step, tyStepFile file) = nullptr;
std::uint64_t (*drawRandom)() = randomBits;

void announce(enStep step, const clInputFile& input) {
    if (beforeStep) beforeStep(step, input.descriptor());
}

void announce(enStep step, const clOutputFile& output) {
    if (beforeStep) beforeStep(step, output.hostState().fd);
}

mode_t creationMask() { return maskOfProcess; }

std::vector<std::string> arguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void writeLine(const std::string& line) { std::cout << line << std::endl; }

void prepareProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    maskOfProcess = ::umask(0);
    ::umask(maskOfProcess);
}

}  // namespace host
