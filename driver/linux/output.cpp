// The output on Linux: written through as it is, or a new file created
// beside it, filled, synced and renamed over it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/linux/open_files.h"
#include "driver/linux/signals.h"

namespace host {

namespace {

// A fresh name collides only with a file made for the purpose; a few
// tries more than any chance collision needs, and a bound on one that is not.
constexpr int maxCreateAttempts = 100;

// Whether bytes more from offset at fit the file size limit and the offset type.
bool fitsLimits(off_t at, std::uintmax_t bytes) {
    const std::uintmax_t end = static_cast<std::uintmax_t>(at) + bytes;
    if (end > static_cast<std::uintmax_t>(std::numeric_limits<off_t>::max())) return false;
    struct rlimit limit;
    return !(::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur);
}

// Where the file system cannot reserve: whether its free space holds bytes.
bool fitsFreeSpace(int fd, std::uintmax_t bytes) {
    struct statvfs space;
    if (::fstatvfs(fd, &space) != 0 || space.f_frsize == 0) return true;
    const std::uintmax_t blocks = ::geteuid() == 0 ? space.f_bfree : space.f_bavail;
    return bytes / space.f_frsize < blocks;
}

}  // namespace

clOutputFile::~clOutputFile() { close(); }

bool clOutputFile::openThrough(const clPlace& place) {
    close();
    if (place.kind() == PLACE_DESCRIPTOR) {
        state.fd = ::fcntl(place.hostState().descriptor, F_DUPFD_CLOEXEC, 0);
    } else if (place.kind() == PLACE_STREAM) {
        // A FIFO's open waits for a reader, as any writer's does.
        state.fd = reopen(place, O_WRONLY | O_NOCTTY);
    }
    return state.fd >= 0;
}

bool clOutputFile::createBeside(const clPlace& place) {
    close();
    if (place.hostState().directory < 0) return false;
    state.directory = ::fcntl(place.hostState().directory, F_DUPFD_CLOEXEC, 0);
    if (state.directory < 0) return false;
    for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
        const std::string candidate = temporaryNameFor(place.lastName(), drawRandom());
        int error;
        {
            // A signal between the creation and the record of it would leave the file.
            const clEndingHeld held;
            // Its owner's alone until all its data is written.
            state.fd = ::openat(state.directory, candidate.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            error = errno;
            if (state.fd >= 0) {
                temporaryName = candidate;
                removeOnEndingSignal(state.directory, state.fd, candidate);
                return true;
            }
        }
        if (error != EEXIST && error != EINTR) break;
    }
    close();
    return false;
}

bool clOutputFile::reserve(std::uintmax_t bytes) {
    struct stat info;
    if (state.fd < 0) return false;
    if (bytes == 0 || ::fstat(state.fd, &info) != 0 || !S_ISREG(info.st_mode)) return true;
    const off_t at = ::lseek(state.fd, 0, SEEK_CUR);
    if (at < 0) return true;
    if (!fitsLimits(at, bytes)) return false;
    // The size stays what is written, so a reservation larger than the
    // writing leaves no bytes behind.
    int reserved;
    do reserved = ::fallocate(state.fd, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes));
    while (reserved != 0 && errno == EINTR);
    if (reserved == 0) return true;
    if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) return false;
    return fitsFreeSpace(state.fd, bytes);
}

std::streamsize clOutputFile::xsputn(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (state.fd >= 0 && done < n) {
        const ssize_t written = ::write(state.fd, s + done, static_cast<std::size_t>(n - done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += written;
    }
    // Storage starts taking the data while the rest is still produced, so
    // the sync before the rename has less left to wait for. Where the file
    // cannot be written back early (a pipe), nothing changes.
    constexpr long long writeBackStep = 256 << 10;
    state.writtenBytes += done;
    if (state.writtenBytes - state.writtenBackBytes >= writeBackStep) {
        // Whole steps only: a page still being written must not be under
        // write-back when the next write lands in it.
        const long long end = state.writtenBytes / writeBackStep * writeBackStep;
        ::sync_file_range(state.fd, state.writtenBackBytes, end - state.writtenBackBytes, SYNC_FILE_RANGE_WRITE);
        state.writtenBackBytes = end;
    }
    return done;
}

bool clOutputFile::syncData() {
    // The whole file, its new owner and permissions with its data.
    while (::fsync(state.fd) != 0) {
        if (errno == EINVAL) return true;  // a file that cannot be synced: nothing more to do
        if (errno != EINTR) return false;
    }
    return true;
}

bool clOutputFile::isOwnName() const {
    return state.fd >= 0 && state.directory >= 0 &&
           identityAt(state.directory, temporaryName) == identityOf(state.fd);
}

bool clOutputFile::replace(const clPlace& place, const clFileId* mustReplace) {
    const int directory = place.hostState().directory;
    // Whoever can write the directory may have swapped either name meanwhile.
    if (!isOwnName()) return false;
    if (mustReplace && !(identityAt(directory, place.lastName()) == *mustReplace)) return false;
    // What the sync after the rename needs is got before it. A directory
    // this user may write but not read cannot be opened to sync: the new
    // file's file system is synced instead.
    if (state.directoryToSync >= 0) ::close(state.directoryToSync);
    state.directoryToSync = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const clEndingHeld held;
    if (::renameat(state.directory, temporaryName.c_str(), directory, place.lastName().c_str()) != 0) return false;
    temporaryName.clear();
    keepOnEndingSignal();
    return true;
}

bool clOutputFile::syncReplacement() {
    const int toSync = state.directoryToSync >= 0 ? state.directoryToSync : state.fd;
    // This host's alone: the rename is durable only once this is synced.
    if (beforeStep) beforeStep(STEP_SYNC_DIRECTORY, toSync);
    if (state.directoryToSync < 0) return ::syncfs(state.fd) == 0;
    while (::fsync(state.directoryToSync) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL;  // a file system that cannot sync directories
    }
    return true;
}

void clOutputFile::discard() {
    const clEndingHeld held;
    if (!temporaryName.empty() && isOwnName()) ::unlinkat(state.directory, temporaryName.c_str(), 0);
    temporaryName.clear();
    keepOnEndingSignal();
}

bool clOutputFile::close() {
    state.writtenBytes = state.writtenBackBytes = 0;
    if (!temporaryName.empty()) {
        // Kept, as the caller chose: a signal no longer removes it.
        const clEndingHeld held;
        temporaryName.clear();
        keepOnEndingSignal();
    }
    if (state.directory >= 0) ::close(state.directory);
    if (state.directoryToSync >= 0) ::close(state.directoryToSync);
    state.directory = state.directoryToSync = -1;
    if (state.fd < 0) return true;
    // Even when interrupted, the descriptor is gone on Linux.
    const bool closed = ::close(state.fd) == 0 || errno == EINTR;
    state.fd = -1;
    return closed;
}

}  // namespace host
