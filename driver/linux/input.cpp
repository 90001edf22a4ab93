// The input on Linux: a regular file, or a stream read to its end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/host.h"
#include "driver/linux/open_files.h"

namespace host {

clInputFile::~clInputFile() { close(); }

void clInputFile::close() {
    // What the file's identity tells stays true: place holds the file open.
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool clInputFile::open(const std::string& path) {
    struct stat info;
    switch (place.resolve(path)) {
    case PLACE_DESCRIPTOR:
        fd = ::fcntl(place.hostState().descriptor, F_DUPFD_CLOEXEC, 0);
        if (fd < 0 || ::fstat(fd, &info) != 0) return false;
        // The caller's own pipe, socket or terminal, as a shell's process
        // substitution hands it over; any other device is refused.
        stream = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || (S_ISCHR(info.st_mode) && ::isatty(fd));
        break;
    case PLACE_STREAM:
        // A FIFO of root's or this user's own: no one else can stall or
        // feed the run. The open does not wait for a writer; the read does.
        if (::fstat(place.hostState().held, &info) != 0 || !S_ISFIFO(info.st_mode) || !isTrusted(info.st_uid)) {
            return false;
        }
        fd = reopen(place, O_RDONLY | O_NONBLOCK | O_NOCTTY);
        stream = true;
        break;
    case PLACE_REGULAR:
        // Without O_NONBLOCK, a named pipe put there meanwhile would wait for a writer.
        fd = reopen(place, O_RDONLY | O_NONBLOCK | O_NOCTTY);
        break;
    default:
        return false;
    }
    if (fd < 0 || ::fstat(fd, &info) != 0 || (!stream && !S_ISREG(info.st_mode))) return false;
    fileId = identityOf(info);
    bytes = stream ? 0 : static_cast<std::uintmax_t>(info.st_size);
    return true;
}

}  // namespace host
