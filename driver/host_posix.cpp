// The tool's host layer on POSIX systems.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <limits>
#include <utility>

#include "common/platform.h"
#include "driver/host.h"

namespace host {

namespace {

// The mask new files are created with, read once before any file is.
mode_t creationMask = 022;

// Each pass of the loop that creates the locked file either removes a
// stale entry or follows a writer that has finished; this bounds a
// pathological file system, not a busy one.
constexpr int maxCreateAttempts = 1000;

// A file system without locks gives no turns, but still a whole file.
void lockWaiting(int fd) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

bool namesFile(const char* path, int fd) {
    struct stat opened, named;
    return ::fstat(fd, &opened) == 0 && ::lstat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// Something is at path where a new file must go. A file of this user that
// another run is writing is waited for; anything else (left by a killed
// run, another user's, a link, a FIFO) is removed, never followed, opened
// for writing or waited on. False when it stays in the way.
bool clearWay(const char* path) {
    struct stat seen;
    if (::lstat(path, &seen) != 0) return errno == ENOENT;
    if (S_ISDIR(seen.st_mode)) return false;
    if (S_ISREG(seen.st_mode) && seen.st_uid == ::geteuid() && seen.st_nlink == 1) {
        // A lock needs an open file; reading is enough for one.
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int held = ::open(path, O_RDONLY | flags);
        if (held < 0 && errno == EACCES) held = ::open(path, O_WRONLY | flags);
        if (held >= 0) {
            struct stat opened;
            if (::fstat(held, &opened) != 0 || opened.st_ino != seen.st_ino || opened.st_dev != seen.st_dev) {
                ::close(held);
                return true;  // replaced meanwhile: look again
            }
            lockWaiting(held);
            // Still there once its lock is free: its run was killed.
            const bool stale = namesFile(path, held);
            // Removed while locked, so a run waiting behind this one looks again.
            const bool removed = !stale || ::unlink(path) == 0 || errno == ENOENT;
            ::close(held);
            return removed;
        }
    }
    return ::unlink(path) == 0 || errno == ENOENT;
}

// Copies one extended attribute, where both files have them and this user
// may set it; anything else leaves fd as it is.
void copyExtendedAttribute(const std::string& model, int fd, const char* name) {
#ifdef __linux__
    const ssize_t size = ::getxattr(model.c_str(), name, nullptr, 0);
    if (size <= 0) return;
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::getxattr(model.c_str(), name, &value[0], value.size());
    if (got > 0) ::fsetxattr(fd, name, value.data(), static_cast<std::size_t>(got), 0);
#else
    (void)model, (void)fd, (void)name;
#endif
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool syncDirectory(const std::string& path) {
    const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    bool synced = true;
    while (::fsync(dir) != 0) {
        if (errno == EINTR) continue;
        synced = errno == EINVAL;  // a file system that cannot sync directories
        break;
    }
    ::close(dir);
    return synced;
}

}  // namespace

void (*beforeStep)(enStep step, const std::string& path) = nullptr;

void prepareProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    creationMask = ::umask(0);
    ::umask(creationMask);
}

enPathKind pathKind(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return PATH_MISSING;
    if (S_ISREG(info.st_mode)) return PATH_REGULAR;
    if (S_ISDIR(info.st_mode)) return PATH_DIRECTORY;
    return PATH_STREAM;
}

int ownDescriptor(const std::string& path) {
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t length = std::strlen(prefix);
        if (path.size() <= length || path.compare(0, length, prefix) != 0) continue;
        long long number = 0;
        for (std::size_t i = length; i < path.size(); ++i) {
            if (path[i] < '0' || path[i] > '9' || number > INT_MAX / 10) return -1;
            number = number * 10 + (path[i] - '0');
        }
        return number <= INT_MAX ? static_cast<int>(number) : -1;
    }
    return -1;
}

clOutputFile::~clOutputFile() { close(); }

bool clOutputFile::openExisting(const std::string& path) {
    close();
    // A FIFO's open waits for a reader, as any writer's does.
    do fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd >= 0;
}

bool clOutputFile::openDescriptor(int descriptor) {
    close();
    fd = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    return fd >= 0;
}

bool clOutputFile::createLocked(const std::string& path) {
    close();
    const char* const name = path.c_str();
    for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
        // Its owner's alone until all its data is written.
        const int created = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (created < 0) {
            if (errno != EEXIST || !clearWay(name)) return false;
            continue;
        }
        lockWaiting(created);
        // Another run may have taken it for stale before the lock was held.
        if (namesFile(name, created)) {
            fd = created;
            return true;
        }
        ::close(created);
    }
    return false;
}

bool clOutputFile::reserve(std::uintmax_t bytes) {
    struct stat info;
    if (fd < 0) return false;
    if (bytes == 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return true;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return true;
    const std::uintmax_t end = static_cast<std::uintmax_t>(at) + bytes;
    if (end > static_cast<std::uintmax_t>(std::numeric_limits<off_t>::max())) return false;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur) return false;
#ifdef __linux__
    // The size stays what is written, so a reservation larger than the
    // writing leaves no bytes behind.
    int reserved;
    do reserved = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes));
    while (reserved != 0 && errno == EINTR);
    if (reserved == 0) return true;
    if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) return false;
#endif
    // The file system cannot reserve: its free space has to do.
    struct statvfs space;
    if (::fstatvfs(fd, &space) != 0 || space.f_frsize == 0) return true;
    const std::uintmax_t blocks = ::geteuid() == 0 ? space.f_bfree : space.f_bavail;
    return bytes / space.f_frsize < blocks;
}

bool clOutputFile::takeAttributes(const std::string& model) {
    if (beforeStep) beforeStep(STEP_SET_ATTRIBUTES, model);
    struct stat info;
    if (fd < 0) return false;
    if (::stat(model.c_str(), &info) != 0) return ::fchmod(fd, 0666 & ~creationMask) == 0;
    // Only a privileged user may give a file away; the group may still be
    // one that this user belongs to.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
        // The file keeps this user's group, as an editor's save would.
    }
    if (::fchmod(fd, info.st_mode & 07777) != 0) return false;
    copyExtendedAttribute(model, fd, "system.posix_acl_access");
    copyExtendedAttribute(model, fd, "security.selinux");
    return true;
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
    if (beforeStep) beforeStep(STEP_SYNC_DATA, "");
    // The whole file, its new owner and permissions with its data.
    while (::fsync(fd) != 0) {
        if (errno == EINVAL) return true;  // a file that cannot be synced: nothing more to do
        if (errno != EINTR) return false;
    }
    return true;
}

bool clOutputFile::isAt(const std::string& path) const { return fd >= 0 && namesFile(path.c_str(), fd); }

void clOutputFile::removeIfAt(const std::string& path) {
    if (isAt(path)) ::unlink(path.c_str());
}

bool clOutputFile::close() {
    writtenBytes = writtenBackBytes = 0;
    if (fd < 0) return true;
    // Even when interrupted, the descriptor is gone on Linux.
    const bool closed = ::close(fd) == 0 || errno == EINTR;
    fd = -1;
    return closed;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (beforeStep) beforeStep(STEP_RENAME, from);
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The rename itself reaches storage only with its directory.
    const std::string directory = directoryOf(to);
    if (beforeStep) beforeStep(STEP_SYNC_DIRECTORY, directory);
    return syncDirectory(directory);
}

namespace {

// What the handler writes; only plain data, as a signal handler may read.
const char* busErrorLine = nullptr;
std::size_t busErrorSize = 0;
struct sigaction busErrorBefore;

void endOnBusError(int) {
    const ssize_t written = ::write(STDOUT_FILENO, busErrorLine, busErrorSize);
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
    qor::platform::setFileMapping(true);
}

clBusErrorExit::~clBusErrorExit() {
    qor::platform::setFileMapping(false);
    ::sigaction(SIGBUS, &busErrorBefore, nullptr);
}

}  // namespace host

#endif
