#include <gtest/gtest.h>

#ifndef _WIN32

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/platform.h"
#include "driver/host.h"

namespace {

using host::clBusErrorExit;
using qor::platform::clFileBytes;

// A mapped file that another program cuts short: reading past its new end
// ends the run with the guard's line and status 1, not a crash.
TEST(BusErrorExitDeathTest, EndsTheRunWithItsLineWhenAMappedFileIsCutShort) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("qor_cut_" + std::to_string(::getpid()) + ".xml")).string();
    std::ofstream(path, std::ios::binary) << std::string(1 << 16, 'x');
    EXPECT_EXIT(
        {
            ::dup2(STDERR_FILENO, STDOUT_FILENO);  // the line goes where the test can see it
            const clBusErrorExit guard("Can't Open File : cut.xml\n");  // and the file is mapped
            clFileBytes file;
            if (!file.open(path)) std::exit(2);
            std::filesystem::resize_file(path, 0);
            volatile char byte = file.data()[1 << 15];
            (void)byte;
            std::exit(3);  // not reached: the bytes are gone
        },
        ::testing::ExitedWithCode(1), "Can't Open File : cut\\.xml");
    std::filesystem::remove(path);
}

}  // namespace

#endif
