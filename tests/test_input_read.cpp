// A read of INPUT that fails or ends early, as when another program cuts
// the file short or the disk fails while it is read, where the file cannot
// be mapped: the document does not load, and in place the file stays as it
// was. This program's mmap and pread calls pass through the wrappers below
// (linked with --wrap), which fail them on demand.
#include <gtest/gtest.h>

#ifdef QOR_TEST_WRAPS_READS

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "driver/run.h"

namespace {

bool mapFails = false;           // mmap fails as where a file system cannot map files
int readError = 0;               // pread fails with this error, when nonzero
off_t readableBytes = -1;        // pread ends here, when not negative

ssize_t wrappedRead(ssize_t (*real)(int, void*, size_t, off_t), int fd, void* buffer, size_t size, off_t at) {
    if (readError != 0) {
        errno = readError;
        return -1;
    }
    if (readableBytes >= 0) {
        if (at >= readableBytes) return 0;
        size = std::min<size_t>(size, static_cast<size_t>(readableBytes - at));
    }
    return real(fd, buffer, size, at);
}

}  // namespace

extern "C" {
void* __real_mmap(void*, size_t, int, int, int, off_t);
void* __real_mmap64(void*, size_t, int, int, int, off64_t);
ssize_t __real_pread(int, void*, size_t, off_t);
ssize_t __real_pread64(int, void*, size_t, off64_t);

void* __wrap_mmap(void* at, size_t size, int protection, int flags, int fd, off_t offset) {
    if (mapFails && fd >= 0) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    return __real_mmap(at, size, protection, flags, fd, offset);
}
void* __wrap_mmap64(void* at, size_t size, int protection, int flags, int fd, off64_t offset) {
    if (mapFails && fd >= 0) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    return __real_mmap64(at, size, protection, flags, fd, offset);
}
ssize_t __wrap_pread(int fd, void* buffer, size_t size, off_t at) {
    return wrappedRead(__real_pread, fd, buffer, size, at);
}
ssize_t __wrap_pread64(int fd, void* buffer, size_t size, off64_t at) {
    return wrappedRead(
        [](int f, void* b, size_t s, off_t a) { return __real_pread64(f, b, s, a); }, fd, buffer, size,
        static_cast<off_t>(at));
}
}

namespace {

namespace fs = std::filesystem;

TEST(InputRead, AReadCutShortOrFailingLoadsNothingAndChangesNothing) {
    std::string movie = "<swf version=\"8\"><FileAttributes/>";
    for (int i = 0; i < 1000; ++i) movie += "<Frame n=\"" + std::to_string(i) + "\"/>";
    movie += "</swf>";
    const fs::path path = fs::temp_directory_path() / ("qor_short_" + std::to_string(::getpid()) + ".xml");

    const struct {
        const char* name;
        int error;
        off_t readable;
        int status;
    } cases[] = {
        {"read whole", 0, -1, 0},
        {"read ends at half the file", 0, static_cast<off_t>(movie.size() / 2), 1},
        {"read ends one byte short", 0, static_cast<off_t>(movie.size() - 1), 1},
        {"read fails", EIO, -1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary) << movie;
        struct stat before;
        ASSERT_EQ(::stat(path.c_str(), &before), 0);

        std::ostringstream out;
        std::streambuf* const standardOutput = std::cout.rdbuf(out.rdbuf());
        qor::utility::clXML document;
        mapFails = true;
        readError = c.error;
        readableBytes = c.readable;
        const int status = runUpgrade(document, path.string(), path.string());
        mapFails = false;
        readError = 0;
        readableBytes = -1;
        std::cout.rdbuf(standardOutput);

        EXPECT_EQ(status, c.status);
        std::ifstream in(path, std::ios::binary);
        const std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        struct stat after;
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        if (c.status == 0) {
            EXPECT_TRUE(now != movie) << "not upgraded";
            continue;
        }
        EXPECT_EQ(out.str(), "Can't Open File : " + path.string() + "\n");
        EXPECT_FALSE(document.isLoad());
        EXPECT_TRUE(now == movie) << "the file changed";
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
    fs::remove(path);
}

}  // namespace

#endif
