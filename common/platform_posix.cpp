// The library's host layer on POSIX systems.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "common/platform.h"

namespace qor {
namespace platform {

namespace {

// Reads fd from its start up to expected bytes, the size it had when it
// was opened: a read that fails or ends before that is no file at all.
bool readWhole(int fd, std::size_t expected, std::string& buffer) {
    buffer.resize(expected);
    std::size_t done = 0;
    while (done < expected) {
        const ssize_t got = ::pread(fd, &buffer[done], expected - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

// Reads a pipe, a socket or a terminal to its end. Waiting for input
// before each read lets a descriptor opened without blocking (a FIFO
// whose writer is still to come) be read too.
enFileResult readToEnd(int fd, std::string& buffer) {
    std::size_t done = 0;
    for (;;) {
        if (!growForRead(buffer, done)) return FILE_TOO_LARGE;
        struct pollfd ready = {fd, POLLIN, 0};
        if (::poll(&ready, 1, -1) < 0) {
            if (errno == EINTR) continue;
            return FILE_READ_FAILED;
        }
        const ssize_t got = ::read(fd, &buffer[done], buffer.size() - done);
        if (got == 0) break;
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (got < 0) return FILE_READ_FAILED;
        done += static_cast<std::size_t>(got);
    }
    buffer.resize(done);
    return FILE_READ;
}

}  // namespace

clFileBytes::~clFileBytes() { close(); }

bool clFileBytes::open(const std::string& path) {
    close();
    // Without O_NONBLOCK, opening a named pipe would wait for a writer; it
    // is refused anyway, as any file that is not regular.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        // A socket, or a device with nothing behind it, is there but opens as no file.
        outcome = errno == ENXIO || errno == ENODEV ? FILE_NOT_READABLE : FILE_CANNOT_OPEN;
        return false;
    }
    const bool held = openDescriptor(fd);
    ::close(fd);
    return held;
}

bool clFileBytes::openDescriptor(int fd, unsigned access) {
    close();
    outcome = readUnlessTooLarge([&] { return read(fd, access); });
    if (outcome != FILE_READ) {
        close();
        return false;
    }
    if (!mapping) {
        bytes = buffer.data();
        length = buffer.size();
    }
    return true;
}

enFileResult clFileBytes::read(int fd, unsigned access) {
    struct stat info;
    if (::fstat(fd, &info) != 0) return FILE_CANNOT_OPEN;
    if (S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uintmax_t>(info.st_size);
        // Past what a string can hold (in a 32-bit build) it cannot be loaded.
        if (size > buffer.max_size()) return FILE_TOO_LARGE;
        if (size > 0 && (access & ACCESS_MAP)) {
            void* mapped = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped != MAP_FAILED) {
                ::madvise(mapped, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
                mapping = mapped;
                bytes = static_cast<const char*>(mapped);
                length = static_cast<std::size_t>(size);
                return FILE_READ;
            }
        }
        // Some file systems cannot map files; a read works everywhere.
        return readWhole(fd, static_cast<std::size_t>(size), buffer) ? FILE_READ : FILE_READ_FAILED;
    }
    const bool stream = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || (S_ISCHR(info.st_mode) && ::isatty(fd));
    if (!stream || !(access & ACCESS_STREAM)) return FILE_NOT_READABLE;
    return readToEnd(fd, buffer);
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
