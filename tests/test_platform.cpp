#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "common/platform.h"
#include "xml/xml.h"

namespace {

namespace fs = std::filesystem;

// A library user installs no signal handler: a file that another program
// cuts short while it is loaded gives the bytes that could be read, never
// a crash of the caller.
TEST(FileBytes, AFileCutShortWhileLoadedNeverKillsTheCaller) {
    const fs::path path = fs::temp_directory_path() / ("qor_cut_" + std::to_string(std::random_device()()) + ".xml");
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "<a b=\"" + std::to_string(i) + "\"/>\n";
    std::ofstream(path, std::ios::binary) << text;

    qor::platform::clFileBytes file;
    ASSERT_TRUE(file.open(path.string()));
    fs::resize_file(path, 0);
    EXPECT_EQ(file.data()[file.size() - 2], '>');  // mapped, this page would be gone

    std::atomic<bool> stop{false};
    std::thread cutter([&] {
        while (!stop) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
            fs::resize_file(path, text.size() / 3);
        }
    });
    for (int round = 0; round < 200; ++round) qor::utility::clXML document(path.string());
    stop = true;
    cutter.join();
    fs::remove(path);
}

}  // namespace
