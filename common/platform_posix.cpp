// The library's host layer on POSIX systems.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <limits>

#include "common/platform.h"

namespace qor {
namespace platform {

namespace {

std::atomic<bool> mappingAllowed{false};

// Reads from fd's start until its end or the expected size, whichever
// comes first; a file that shrinks meanwhile gives what could be read.
bool readAll(int fd, std::size_t expected, std::string& buffer) {
    buffer.resize(expected);
    std::size_t done = 0;
    while (done < expected) {
        const ssize_t got = ::pread(fd, &buffer[done], expected - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    buffer.resize(done);
    return true;
}

}  // namespace

void setFileMapping(bool allowed) { mappingAllowed = allowed; }

clFileBytes::~clFileBytes() { close(); }

bool clFileBytes::open(const std::string& path) {
    close();
    // Without O_NONBLOCK, opening a named pipe would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool read = openDescriptor(fd);
    ::close(fd);
    return read;
}

bool clFileBytes::openDescriptor(int fd) {
    close();
    struct stat info;
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const auto size = regular ? static_cast<std::uintmax_t>(info.st_size) : 0;
    bool read = regular && size <= std::numeric_limits<std::size_t>::max();
    if (read && size > 0 && mappingAllowed) {
        void* mapped = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            ::madvise(mapped, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
            mapping = mapped;
            bytes = static_cast<const char*>(mapped);
            length = static_cast<std::size_t>(size);
        }
    }
    // Some file systems cannot map files; a read works everywhere.
    if (read && !mapping) {
        read = readAll(fd, static_cast<std::size_t>(size), buffer);
        bytes = buffer.data();
        length = buffer.size();
    }
    if (!read) close();
    return read;
}

void clFileBytes::discardBefore(std::size_t end) {
    static const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    if (!bytes || end > length || end <= discarded) return;
    // Only whole pages: a read buffer's partial first page may hold the
    // allocator's own bookkeeping.
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(bytes);
    const std::uintptr_t first = (begin + discarded + page - 1) / page * page;
    const std::uintptr_t last = (begin + end) / page * page;
    if (first >= last) return;
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    discarded = static_cast<std::size_t>(last - begin);
}

void clFileBytes::close() {
    if (mapping) ::munmap(mapping, length);
    mapping = nullptr;
    std::string().swap(buffer);
    bytes = nullptr;
    length = 0;
    discarded = 0;
}

}  // namespace platform
}  // namespace qor

#endif
