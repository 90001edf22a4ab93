#include "driver/linux/open_files.h"

#include <fcntl.h>

#include <cerrno>

namespace host {

clFileId identityOf(const struct stat& info) {
    clFileId id;
    id.device = static_cast<std::uint64_t>(info.st_dev);
    id.index = static_cast<std::uint64_t>(info.st_ino);
    id.known = true;
    return id;
}

clFileId identityOf(int fd) {
    struct stat info;
    return ::fstat(fd, &info) == 0 ? identityOf(info) : clFileId();
}

clFileId identityAt(int directory, const std::string& name) {
    struct stat info;
    return ::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? identityOf(info) : clFileId();
}

bool isTrusted(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

int reopen(const clPlace& place, int flags) {
    const clPlaceState& held = place.hostState();
    const std::string own = "/proc/self/fd/" + std::to_string(held.held);
    int fd;
    do fd = ::open(own.c_str(), flags | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ENOENT && held.directory >= 0) {
        do fd = ::openat(held.directory, place.lastName().c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
    }
    if (fd >= 0 && !(identityOf(fd) == place.file())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace host
