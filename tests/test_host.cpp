#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <tuple>

#include "common/platform.h"
#include "driver/host.h"
#include "support/files.h"
#include "support/scratch_dir.h"

namespace {

using host::clBusErrorExit;
using qor::platform::clFileBytes;

// A mapped file that another program cuts short: reading past its new end
// ends the run with the guard's line and status 1, not a crash.
TEST(BusErrorExitDeathTest, EndsTheRunWithItsLineWhenAMappedFileIsCutShort) {
    const qor_test::ScratchDir dir;
    const std::string path = dir.path("cut.xml");
    qor_test::writeFile(path, std::string(1 << 16, 'x'));
    EXPECT_EXIT(
        {
            ::dup2(STDERR_FILENO, STDOUT_FILENO);  // the line goes where the test can see it
            const clBusErrorExit guard("Can't Open File : cut.xml\n");
            const int fd = ::open(path.c_str(), O_RDONLY);
            clFileBytes file;
            if (!file.openDescriptor(fd, qor::platform::ACCESS_MAP)) std::exit(2);
            std::filesystem::resize_file(path, 0);
            volatile char byte = file.data()[1 << 15];
            (void)byte;
            std::exit(3);  // not reached: the bytes are gone
        },
        ::testing::ExitedWithCode(1), "Can't Open File : cut\\.xml");
}

// Whether place stands for what expected names: the same file or, for a
// missing name, the place where a new file put in by the host appears.
bool standsFor(const host::clPlace& place, const std::string& expected) {
    if (place.kind() == host::PLACE_MISSING) {
        host::clOutputFile file;
        return file.createBeside(place) && file.replace(place, nullptr) && std::filesystem::exists(expected);
    }
    struct stat info;
    return ::stat(expected.c_str(), &info) == 0 && place.file().known &&
           place.file().device == static_cast<std::uint64_t>(info.st_dev) &&
           place.file().index == static_cast<std::uint64_t>(info.st_ino);
}

// What a path names, resolved name by name as the kernel would, the links
// followed by the run itself: the kind found, and what was found, named
// with each link replaced by what it names.
TEST(Place, ResolvesNameByNameAsTheKernelWould) {
    namespace fs = std::filesystem;
    const qor_test::ScratchDir dir;
    const std::string base = dir.path();
    fs::create_directory(base + "/dir");
    std::ofstream(base + "/dir/file") << "x";
    ASSERT_EQ(::mkfifo((base + "/fifo").c_str(), 0600), 0);
    const std::pair<const char*, const char*> links[] = {
        {"link", "dir/file"}, {"dir/up", "../dir"}, {"broken", "nowhere/x"}, {"dangling", "dir/gone"}, {"loop", "loop"}};
    for (const auto& [link, target] : links) fs::create_symlink(target, base + "/" + link);

    // A path, relative to base, what it is, and what it resolves to (relative
    // to base; empty: not checked).
    const std::tuple<std::string, host::enPlaceKind, std::string> cases[] = {
        {"dir", host::PLACE_DIRECTORY, "dir"},
        {"dir/file", host::PLACE_REGULAR, "dir/file"},
        {"dir/./file", host::PLACE_REGULAR, "dir/./file"},
        {"dir/../dir/file", host::PLACE_REGULAR, "dir/../dir/file"},
        {"dir/file/", host::PLACE_UNREACHABLE, ""},
        {"dir/file/.", host::PLACE_UNREACHABLE, ""},
        {"dir/file/x", host::PLACE_UNREACHABLE, ""},
        {"dir/new", host::PLACE_MISSING, "dir/new"},
        {"dir/new/", host::PLACE_UNREACHABLE, ""},
        {"missing/x", host::PLACE_UNREACHABLE, ""},
        {"fifo", host::PLACE_STREAM, "fifo"},
        {"link", host::PLACE_REGULAR, "dir/file"},
        {"dir/up/up/file", host::PLACE_REGULAR, "dir/../dir/../dir/file"},
        {"dangling", host::PLACE_MISSING, "dir/gone"},
        {"broken", host::PLACE_UNREACHABLE, ""},
        {"loop", host::PLACE_UNREACHABLE, ""},
        {"", host::PLACE_UNREACHABLE, ""},
    };
    for (const auto& [relative, kind, resolved] : cases) {
        SCOPED_TRACE(relative);
        host::clPlace place;
        const std::string path = relative.empty() ? "" : base + "/" + relative;
        EXPECT_EQ(place.resolve(path), kind);
        if (!resolved.empty()) {
            EXPECT_TRUE(standsFor(place, base + "/" + resolved)) << resolved;
        }
    }
    host::clPlace own;
    EXPECT_EQ(own.resolve("/dev/stdout"), host::PLACE_DESCRIPTOR);
}

}  // namespace

#endif
