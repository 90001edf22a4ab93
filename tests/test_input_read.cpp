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
#include <tuple>

#include "driver/run.h"
#include "support/files.h"
#include "support/scratch_dir.h"

namespace {

bool mapFails = false;      // mmap fails, as where a file system cannot map files
int readError = 0;          // pread fails with this error, when nonzero
off64_t readableBytes = -1;  // pread ends here, when not negative

// The bytes a pread of size at offset at may ask for: 0 past the end, -1
// with errno set when it fails.
ssize_t allowedBytes(size_t size, off64_t at) {
    if (readError != 0) {
        errno = readError;
        return -1;
    }
    if (readableBytes < 0) return static_cast<ssize_t>(size);
    if (at >= readableBytes) return 0;
    return static_cast<ssize_t>(std::min<off64_t>(static_cast<off64_t>(size), readableBytes - at));
}

// Whether a map of fd fails, with errno set when it does.
bool mapRefused(int fd) {
    if (mapFails && fd >= 0) errno = ENODEV;
    return mapFails && fd >= 0;
}

}  // namespace

// The offsets are those of the symbols: long for the plain ones, 64 bits
// for the others, whatever off_t is in this build.
extern "C" {
void* __real_mmap(void*, size_t, int, int, int, long);
void* __real_mmap64(void*, size_t, int, int, int, off64_t);
ssize_t __real_pread(int, void*, size_t, long);
ssize_t __real_pread64(int, void*, size_t, off64_t);

void* __wrap_mmap(void* at, size_t size, int protection, int flags, int fd, long offset) {
    return mapRefused(fd) ? MAP_FAILED : __real_mmap(at, size, protection, flags, fd, offset);
}
void* __wrap_mmap64(void* at, size_t size, int protection, int flags, int fd, off64_t offset) {
    return mapRefused(fd) ? MAP_FAILED : __real_mmap64(at, size, protection, flags, fd, offset);
}
ssize_t __wrap_pread(int fd, void* buffer, size_t size, long at) {
    const ssize_t allowed = allowedBytes(size, at);
    return allowed <= 0 ? allowed : __real_pread(fd, buffer, static_cast<size_t>(allowed), at);
}
ssize_t __wrap_pread64(int fd, void* buffer, size_t size, off64_t at) {
    const ssize_t allowed = allowedBytes(size, at);
    return allowed <= 0 ? allowed : __real_pread64(fd, buffer, static_cast<size_t>(allowed), at);
}
}

namespace {

using namespace qor_test;

TEST(InputRead, AReadCutShortOrFailingLoadsNothingAndChangesNothing) {
    std::string movie = "<swf version=\"8\"><FileAttributes/>";
    for (int i = 0; i < 1000; ++i) movie += "<Frame n=\"" + std::to_string(i) + "\"/>";
    movie += "</swf>";
    const ScratchDir dir;
    const std::string path = dir.path("movie.xml");

    // What the reads do (the error they fail with, the bytes they end at),
    // and the run's status.
    const std::tuple<const char*, int, off64_t, int> cases[] = {
        {"read whole", 0, -1, 0},
        {"read ends at half the file", 0, static_cast<off64_t>(movie.size() / 2), 1},
        {"read ends one byte short", 0, static_cast<off64_t>(movie.size() - 1), 1},
        {"read fails", EIO, -1, 1},
    };
    for (const auto& [name, error, readable, expected] : cases) {
        SCOPED_TRACE(name);
        writeFile(path, movie);
        struct stat before;
        ASSERT_EQ(::stat(path.c_str(), &before), 0);

        ::testing::internal::CaptureStdout();
        qor::utility::clXML document;
        mapFails = true;
        readError = error;
        readableBytes = readable;
        const int status = runUpgrade(document, path, path);
        mapFails = false;
        readError = 0;
        readableBytes = -1;
        const std::string said = ::testing::internal::GetCapturedStdout();

        EXPECT_EQ(status, expected);
        const std::string now = readFile(path);
        struct stat after;
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        if (expected == 0) {
            EXPECT_TRUE(now != movie) << "not upgraded";
            continue;
        }
        EXPECT_EQ(said, "Can't Open File : " + path + "\n");
        EXPECT_FALSE(document.isLoad());
        EXPECT_TRUE(now == movie) << "the file changed";
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
}

}  // namespace

#endif
