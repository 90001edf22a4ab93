#include "common/platform.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace qor {
namespace platform {

namespace {

// Reads a whole regular file through the standard library, which every
// host has. A file that shrinks meanwhile gives what could be read.
bool readWhole(const std::string& path, std::string& buffer) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size >= buffer.max_size()) return false;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) return false;
    buffer.assign(static_cast<std::size_t>(size), '\0');
    in.read(&buffer[0], static_cast<std::streamsize>(size));
    buffer.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

}  // namespace

void (*beforeSync)(const std::string& path) = nullptr;

clFileBytes::~clFileBytes() { close(); }

clOutputFile::~clOutputFile() { close(); }

clOutputFile::int_type clOutputFile::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

namespace {

// Each pass of the loop that opens a locked file either removes a stale
// entry or follows a writer that has finished; this bounds a pathological
// file system, not a busy one.
constexpr int maxOpenAttempts = 1000;

}  // namespace

}  // namespace platform
}  // namespace qor

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace qor {
namespace platform {

void prepareProcess() {}

namespace {

// Opens what is at path without creating it; a console asks for an
// access right before it tells what it is.
HANDLE openExistingForQuery(const std::string& path) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = CreateFileA(path.c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        handle = CreateFileA(path.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return handle;
}

bool isSameFile(HANDLE handle, const std::string& path) {
    const HANDLE other = openExistingForQuery(path);
    if (other == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    const bool same = GetFileInformationByHandle(handle, &a) && GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

}  // namespace

enPathKind pathKind(const std::string& path) {
    const HANDLE handle = openExistingForQuery(path);
    if (handle == INVALID_HANDLE_VALUE) return PATH_MISSING;
    enPathKind kind = PATH_STREAM;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        const bool directory = GetFileInformationByHandle(handle, &info) &&
                               (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        kind = directory ? PATH_DIRECTORY : PATH_REGULAR;
    }
    CloseHandle(handle);
    return kind;
}

bool clOutputFile::openExisting(const std::string& target) {
    close();
    const HANDLE opened = CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    handle = opened;
    path = target;
    return true;
}

bool clOutputFile::openLocked(const std::string& target) {
    close();
    // Others may rename the file while it is open here, as this run will.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (int attempt = 0; attempt < maxOpenAttempts; ++attempt) {
        const HANDLE opened = CreateFileA(target.c_str(), GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (opened == INVALID_HANDLE_VALUE) return false;
        if (GetFileType(opened) != FILE_TYPE_DISK) {
            CloseHandle(opened);
            return false;
        }
        // The lock is on one byte far past any data: locks here bind every
        // reader too, and other programs may read the file meanwhile.
        OVERLAPPED lockedByte = {};
        lockedByte.OffsetHigh = 0x40000000;
        LockFileEx(opened, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockedByte);  // a file system without locks: no turns
        if (!isSameFile(opened, target)) {  // renamed or removed by the writer before
            CloseHandle(opened);
            continue;
        }
        if (SetFilePointer(opened, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(opened)) {
            CloseHandle(opened);
            return false;
        }
        handle = opened;
        path = target;
        return true;
    }
    return false;
}

std::streamsize clOutputFile::xsputn(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (handle && done < n) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::streamsize>(n - done, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle), s + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    return done;
}

bool clOutputFile::syncData() {
    if (beforeSync) beforeSync(path);
    return handle && FlushFileBuffers(static_cast<HANDLE>(handle));
}

bool clOutputFile::close() {
    if (!handle) return true;
    const bool closed = CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
    return closed;
}

// Files are read, not mapped, here.
clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {}
clBusErrorExit::~clBusErrorExit() = default;

bool replaceFile(const std::string& from, const std::string& to) {
    // A file that another program holds open cannot be replaced here. Such
    // holds are brief (another run checking the path, a virus scanner, an
    // indexer), so the move is tried again for about two seconds before
    // the refusal stands.
    constexpr DWORD patience = 2000;
    for (DWORD waited = 0, pause = 1;; waited += pause, pause = std::min<DWORD>(pause * 2, 100)) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || waited >= patience) return false;
        Sleep(pause);
    }
}

void copyOwner(const std::string&, const std::string&) {}

bool clFileBytes::open(const std::string& path) {
    close();
    if (!readWhole(path, buffer)) return false;
    bytes = buffer.data();
    length = buffer.size();
    return true;
}

void clFileBytes::discardBefore(std::size_t) {}

void clFileBytes::close() {
    std::string().swap(buffer);
    bytes = nullptr;
    length = 0;
}

}  // namespace platform
}  // namespace qor

#else

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <limits>

namespace qor {
namespace platform {

// A write past a file-size limit, or into a pipe whose reader has gone,
// then fails with an error instead of killing the process.
void prepareProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

enPathKind pathKind(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return PATH_MISSING;
    if (S_ISREG(info.st_mode)) return PATH_REGULAR;
    if (S_ISDIR(info.st_mode)) return PATH_DIRECTORY;
    return PATH_STREAM;
}

bool clOutputFile::openExisting(const std::string& target) {
    close();
    // A FIFO's open waits for a reader, as any writer's does.
    do fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    path = target;
    return fd >= 0;
}

bool clOutputFile::openLocked(const std::string& target) {
    close();
    const char* const name = target.c_str();
    for (int attempt = 0; attempt < maxOpenAttempts; ++attempt) {
        struct stat seen;
        if (::lstat(name, &seen) == 0 && !S_ISREG(seen.st_mode)) {
            if (S_ISDIR(seen.st_mode) || ::unlink(name) != 0) return false;
            continue;
        }
        // Non-blocking, so a FIFO put there meanwhile cannot stall the open.
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int opened = ::open(name, O_WRONLY | O_CREAT | flags, 0666);
        const bool writable = opened >= 0;
        // A killed run may have left its file with the output's read-only
        // mode; locked, it can still be told stale and removed.
        if (!writable && errno == EACCES) opened = ::open(name, O_RDONLY | flags);
        if (opened < 0) {
            if (errno == ELOOP || errno == ENXIO) continue;  // replaced meanwhile by a link or a FIFO
            return false;
        }
        // A file system without locks gives no turns, but still a whole file.
        while (::flock(opened, LOCK_EX) != 0 && errno == EINTR) {
        }
        // The writer before may have renamed or removed the file while this
        // run waited for it.
        struct stat locked, now;
        const bool current = ::fstat(opened, &locked) == 0 && S_ISREG(locked.st_mode) &&
                             ::lstat(name, &now) == 0 && locked.st_dev == now.st_dev &&
                             locked.st_ino == now.st_ino;
        if (!current || !writable) {
            const bool removed = !current || ::unlink(name) == 0;
            ::close(opened);
            if (!removed) return false;
            continue;
        }
        if (::ftruncate(opened, 0) != 0) {
            ::close(opened);
            return false;
        }
        fd = opened;
        path = target;
        return true;
    }
    return false;
}

std::streamsize clOutputFile::xsputn(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (fd >= 0 && done < n) {
        const ssize_t written = ::write(fd, s + done, static_cast<std::size_t>(n - done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += written;
    }
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
    // Storage starts taking the data while the rest is still produced, so
    // the sync before the rename has less left to wait for. Where the file
    // cannot be written back early (a pipe), nothing changes.
    constexpr long long writeBackStep = 256 << 10;
    writtenBytes += done;
    if (writtenBytes - writtenBackBytes >= writeBackStep) {
        // Whole steps only: a page still being written must not be under
        // write-back when the next write lands in it.
        const long long end = writtenBytes / writeBackStep * writeBackStep;
        ::sync_file_range(fd, writtenBackBytes, end - writtenBackBytes, SYNC_FILE_RANGE_WRITE);
        writtenBackBytes = end;
    }
#endif
    return done;
}

bool clOutputFile::syncData() {
    if (beforeSync) beforeSync(path);
    while (::fdatasync(fd) != 0) {
        if (errno == EINVAL) return true;  // a file that cannot be synced: nothing more to do
        if (errno != EINTR) return false;
    }
    return true;
}

bool clOutputFile::close() {
    writtenBytes = writtenBackBytes = 0;
    if (fd < 0) return true;
    // Even when interrupted, the descriptor is gone on Linux.
    const bool closed = ::close(fd) == 0 || errno == EINTR;
    fd = -1;
    return closed;
}

namespace {

// What the handler writes; only plain data, as a signal handler may read.
const char* busErrorLine = nullptr;
std::size_t busErrorSize = 0;
struct sigaction busErrorBefore;

extern "C" void endOnBusError(int) {
    ssize_t written = ::write(STDOUT_FILENO, busErrorLine, busErrorSize);
    (void)written;  // nothing is left to do about a failed write
    ::_exit(1);
}

}  // namespace

clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {
    busErrorLine = message.data();
    busErrorSize = message.size();
    struct sigaction action = {};
    action.sa_handler = endOnBusError;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &busErrorBefore);
}

clBusErrorExit::~clBusErrorExit() { ::sigaction(SIGBUS, &busErrorBefore, nullptr); }

bool replaceFile(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

void copyOwner(const std::string& source, const std::string& target) {
    struct stat info;
    if (::stat(source.c_str(), &info) != 0) return;
    // Only a privileged user may give a file away; for anyone else the new
    // file keeps its creator as owner, as an editor saving it would.
    if (::chown(target.c_str(), info.st_uid, info.st_gid) != 0) return;
}

bool clFileBytes::open(const std::string& path) {
    close();
    // Without O_NONBLOCK, opening a named pipe would wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info;
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const auto size = regular ? static_cast<std::uintmax_t>(info.st_size) : 0;
    if (regular && size > 0 && size <= std::numeric_limits<std::size_t>::max()) {
        void* mapped = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            ::madvise(mapped, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
            mapping = mapped;
            bytes = static_cast<const char*>(mapped);
            length = static_cast<std::size_t>(size);
        }
    }
    ::close(fd);
    if (!regular) return false;
    // Some file systems cannot map files; a read works everywhere.
    if (!mapping && size > 0) {
        if (!readWhole(path, buffer)) return false;
        bytes = buffer.data();
        length = buffer.size();
    }
    return true;
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
