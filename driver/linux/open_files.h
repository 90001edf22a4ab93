// What the Linux host's files share about the files they hold open: a
// descriptor that closes itself, identities, and the reopening of a held
// name for real use.
#ifndef SWFUPGRADE_LINUX_OPEN_FILES_H
#define SWFUPGRADE_LINUX_OPEN_FILES_H

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "driver/host.h"

namespace host {

// One descriptor, closed with its owner.
class clFd {
public:
    explicit clFd(int fd = -1) : fd(fd) {}
    ~clFd() { reset(); }
    clFd(clFd&& other) noexcept : fd(other.release()) {}
    clFd& operator=(clFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    clFd(const clFd&) = delete;
    clFd& operator=(const clFd&) = delete;
    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
    void reset(int to = -1) {
        if (fd >= 0) ::close(fd);
        fd = to;
    }

private:
    int fd;
};

clFileId identityOf(const struct stat& info);
clFileId identityOf(int fd);
// The identity of what name in directory stands for now, links not followed.
clFileId identityAt(int directory, const std::string& name);

// Whether owner is root or the user running the tool: their links may
// lead anywhere, and their FIFOs may feed the run.
bool isTrusted(uid_t owner);

// Opens what place holds for real use: through its own entry in /proc,
// which cannot lead anywhere else, or where /proc is missing, by its name
// in the held directory. Either way it must be the file place found; -1
// when it is not or cannot be opened.
int reopen(const clPlace& place, int flags);

}  // namespace host

#endif
