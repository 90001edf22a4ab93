// What a new output takes from the file it replaces on Linux: owner,
// group, permissions, access list and security label.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "driver/host.h"
#include "driver/linux/open_files.h"
#include "driver/linux/process.h"

namespace host {

namespace {

// Gives fd the extended attribute name that the old file has, unless fd
// has the same already; false when that fails. The old file's value is
// read through path (its entry in /proc, which needs no permission to read
// the file), or where path is empty through model. A refusal counts as a
// failure unless mayBeRefused: a security label is the policy's to allow.
bool copyExtendedAttribute(const std::string& path, int model, int fd, const char* name, bool mayBeRefused) {
    auto read = [&](void* to, std::size_t size) {
        return path.empty() ? ::fgetxattr(model, name, to, size) : ::getxattr(path.c_str(), name, to, size);
    };
    std::string value;
    for (;;) {
        const ssize_t size = read(nullptr, 0);
        if (size < 0) return errno == ENODATA || errno == ENOTSUP;  // the old file has none
        value.assign(static_cast<std::size_t>(size), '\0');
        const ssize_t got = read(&value[0], value.size());
        if (got >= 0) {
            value.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) return false;  // ERANGE: it grew meanwhile
    }
    std::string has(value.size(), '\0');
    if (::fgetxattr(fd, name, &has[0], has.size()) == static_cast<ssize_t>(value.size()) && has == value) return true;
    if (::fsetxattr(fd, name, value.data(), value.size(), 0) == 0) return true;
    return mayBeRefused && (errno == EPERM || errno == EACCES);
}

// Whether this user may give a file group: it is the user's own group or
// one of its supplementary groups.
bool isMemberOf(gid_t group) {
    if (group == ::getegid()) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// Gives fd, whose status is now, the owner, group and permissions of old,
// as far as this user may. Only root may give a file away; a member of a
// group may give it that group.
bool copyOwnerAndPermissions(int fd, const struct stat& now, const struct stat& old) {
    const bool root = ::geteuid() == 0;
    const uid_t owner = root && old.st_uid != now.st_uid ? old.st_uid : static_cast<uid_t>(-1);
    const gid_t group =
        (root || isMemberOf(old.st_gid)) && old.st_gid != now.st_gid ? old.st_gid : static_cast<gid_t>(-1);
    if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) && ::fchown(fd, owner, group) != 0) {
        return false;
    }
    // After the owner: a change of owner clears the set-user-ID bits.
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

// Gives fd the access list and security label of what place holds. The
// held name is only looked at: its lists are read through its entry in
// /proc or, where that is missing, from a real open.
bool copyListAndLabel(int fd, const clPlace& place) {
    std::string own = "/proc/self/fd/" + std::to_string(place.hostState().held);
    clFd model;
    if (::getxattr(own.c_str(), "system.posix_acl_access", nullptr, 0) < 0 && errno == ENOENT) {
        own.clear();
        model.reset(reopen(place, O_RDONLY | O_NONBLOCK | O_NOCTTY));
        if (model.get() < 0) return false;
    }
    return copyExtendedAttribute(own, model.get(), fd, "system.posix_acl_access", false) &&
           copyExtendedAttribute(own, model.get(), fd, "security.selinux", true);
}

}  // namespace

bool clOutputFile::takeAttributes(const clPlace& place) {
    struct stat old, now;
    if (state.fd < 0 || ::fstat(state.fd, &now) != 0) return false;
    if (place.hostState().held < 0) return ::fchmod(state.fd, 0666 & ~creationMask()) == 0;
    if (::fstat(place.hostState().held, &old) != 0) return false;
    return copyOwnerAndPermissions(state.fd, now, old) && copyListAndLabel(state.fd, place);
}

}  // namespace host
