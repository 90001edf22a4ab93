#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/platform.h"
#include "support/files.h"
#include "support/scratch_dir.h"
#include "xml/xml.h"

namespace {

namespace fs = std::filesystem;

// A library user installs no signal handler: a file that another program
// cuts short while it is loaded is loaded whole as it was, or not at all,
// never a crash of the caller.
TEST(FileBytes, AFileCutShortWhileLoadedNeverKillsTheCaller) {
    const qor_test::ScratchDir dir;
    const std::string path = dir.path("cut.xml");
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "<a b=\"" + std::to_string(i) + "\"/>\n";
    qor_test::writeFile(path, text);

    qor::platform::clFileBytes file;
    ASSERT_TRUE(file.open(path));
    fs::resize_file(path, 0);
    EXPECT_EQ(file.data()[file.size() - 2], '>');  // mapped, this page would be gone

    std::atomic<bool> stop{false};
    std::thread cutter([&] {
        while (!stop) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
            fs::resize_file(path, text.size() / 3);
        }
    });
    for (int round = 0; round < 200; ++round) qor::utility::clXML document(path);
    stop = true;
    cutter.join();
}

// A file opened once by the caller: read from its start whatever its
// offset, and left open, however it is taken; a pipe is read to its end,
// never mapped, and a directory loads nothing.
TEST(FileBytes, LoadsAFileOpenAtADescriptor) {
    const qor_test::ScratchDir dir;
    const std::string path = dir.path("fd.xml"), empty = dir.path("empty.xml");
    qor_test::writeFile(path, "<a x=\"1\"/><b/>");
    qor_test::writeFile(empty, "");
    for (const auto how : {qor::utility::clXML::LOAD_READ, qor::utility::clXML::LOAD_MAP}) {
        SCOPED_TRACE(how);
#ifdef _WIN32
        const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(_lseek(fd, 5, SEEK_SET), 5);
        const int emptyFd = _open(empty.c_str(), _O_RDONLY | _O_BINARY);
#else
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::lseek(fd, 5, SEEK_SET), 5);
        const int emptyFd = ::open(empty.c_str(), O_RDONLY);
#endif
        qor::utility::clXML document;
        document.load(fd, how);
        ASSERT_TRUE(document.isLoad());
        EXPECT_NE(document.find("a"), nullptr);
        EXPECT_NE(document.find("b"), nullptr);
        document.load(fd, how);  // still open, and still read from the start
        EXPECT_NE(document.find("a"), nullptr);
        document.load(emptyFd, how);
        EXPECT_FALSE(document.isLoad());
#ifdef _WIN32
        _close(fd);
        _close(emptyFd);
#else
        ::close(fd);
        ::close(emptyFd);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ASSERT_EQ(::write(ends[1], "<a/>", 4), 4);
        ::close(ends[1]);
        document.load(ends[0], how);
        EXPECT_NE(document.find("a"), nullptr);
        ::close(ends[0]);
        const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
        document.load(directory, how);
        EXPECT_FALSE(document.isLoad());
        ::close(directory);
#endif
    }
}

}  // namespace
