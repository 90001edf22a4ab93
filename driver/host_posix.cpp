// The tool's host layer on POSIX systems.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/random.h>
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "common/platform.h"
#include "driver/host.h"

#ifndef O_PATH
#define O_PATH O_RDONLY  // where the host cannot open a name only to look at it
#endif

namespace host {

namespace {

// The mask new files are created with, read once before any file is.
mode_t creationMask = 022;

// As many links as the host itself follows before it calls a chain a loop.
constexpr int maxLinksFollowed = 40;

// A fresh name collides only with a file made for the purpose; a few
// tries more than any chance collision needs, and a bound on one that is not.
constexpr int maxCreateAttempts = 100;

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

// The identity of what name in directory stands for now, links not followed.
clFileId identityAt(int directory, const std::string& name) {
    struct stat info;
    return ::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 ? identityOf(info) : clFileId();
}

// The descriptor of this process that path names (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N and the like), or -1 when it names none.
int ownDescriptorNamed(const std::string& path) {
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    if (path == "/dev/stdin") return STDIN_FILENO;
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

// The directory part of a path, "." when it has none: for the step seam.
std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string joined(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + '/' + name;
}

// Whether a link of owner may lead anywhere: root's and this user's own
// links may; another user's only to what that user owns.
bool isTrusted(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

// Opens what place holds for real use: through its own entry in /proc,
// which cannot lead anywhere else, or where /proc is missing, by its name
// in the held directory. Either way it must be the file place found.
int reopen(int held, int directory, const std::string& name, const clFileId& found, int flags) {
    const std::string own = "/proc/self/fd/" + std::to_string(held);
    int fd;
    do fd = ::open(own.c_str(), flags | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ENOENT && directory >= 0) {
        do fd = ::openat(directory, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
    }
    if (fd >= 0 && !(identityOf(fd) == found)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Copies one extended attribute, where both files have them and this user
// may set it; anything else leaves fd as it is.
void copyExtendedAttribute(int model, int fd, const char* name) {
#ifdef __linux__
    const ssize_t size = ::fgetxattr(model, name, nullptr, 0);
    if (size <= 0) return;
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(model, name, &value[0], value.size());
    if (got > 0) ::fsetxattr(fd, name, value.data(), static_cast<std::size_t>(got), 0);
#else
    (void)model, (void)fd, (void)name;
#endif
}

std::uint64_t randomBits() {
    std::uint64_t bits = 0;
#ifdef __linux__
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
#endif
    // Any name will do where none can be drawn: a taken one is only tried again.
    static std::uint64_t counter = 0;
    bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (bits ^ (static_cast<std::uint64_t>(::getpid()) << 32)) + 0x9E3779B97F4A7C15ull * ++counter;
}

bool syncDirectory(int held) {
    const clFd directory(::openat(held, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0) return false;
    while (::fsync(directory.get()) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL;  // a file system that cannot sync directories
    }
    return true;
}

}  // namespace

void (*beforeStep)(enStep step, const std::string& path) = nullptr;

void prepareProcess() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    creationMask = ::umask(0);
    ::umask(creationMask);
}

clPlace::~clPlace() { reset(); }

void clPlace::reset() {
    if (directory >= 0) ::close(directory);
    if (held >= 0) ::close(held);
    directory = held = descriptor = -1;
    placeKind = PLACE_UNREACHABLE;
    fileId = clFileId();
    spelled.clear();
    name.clear();
}

enPlaceKind clPlace::resolve(const std::string& path) {
    reset();
    if (path.empty()) return placeKind;

    // The names still to walk, the next one last. A link's target takes its
    // place, followed by a mark: when the walk reaches the mark, what it
    // stands on is what the link finally names.
    struct clStep {
        std::string name;
        bool linkEnd = false;
        uid_t linkOwner = 0;
    };
    std::vector<clStep> steps;
    auto pushNames = [&steps](const std::string& text) {
        std::vector<clStep> names;
        for (std::size_t begin = 0; begin < text.size();) {
            std::size_t end = text.find('/', begin);
            if (end == std::string::npos) end = text.size();
            // "." is looked up too: it asks, as the kernel does, for a directory.
            if (end > begin) names.push_back({text.substr(begin, end - begin)});
            begin = end + 1;
        }
        steps.insert(steps.end(), names.rbegin(), names.rend());
    };
    auto namesLeft = [&steps] {
        for (const clStep& step : steps)
            if (!step.linkEnd) return true;
        return false;
    };
    // Marks still pending when the walk ends at an own descriptor or a missing name.
    auto marksAllow = [&steps](const struct stat* reached) {
        for (const clStep& step : steps) {
            if (step.linkEnd && (!reached || reached->st_uid != step.linkOwner)) return false;
        }
        return true;
    };

    int own = ownDescriptorNamed(path);
    if (own >= 0) {
        // Named as itself, not through anyone's link.
        descriptor = own;
        spelled = path;
        return placeKind = PLACE_DESCRIPTOR;
    }

    // Where the walk stands: an open directory or file, or nothing (a
    // missing name), with the directory that holds it and its name there.
    clFd at(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat atInfo;
    if (at.get() < 0 || ::fstat(at.get(), &atInfo) != 0) return placeKind;
    std::string atPath = path[0] == '/' ? "/" : "";
    clFd holder;
    std::string atName;
    bool missing = false;
    int linksFollowed = 0;
    pushNames(path);

    while (!steps.empty()) {
        const clStep step = steps.back();
        steps.pop_back();
        if (step.linkEnd) {
            if (missing || atInfo.st_uid != step.linkOwner) return placeKind;
            continue;
        }
        // A name is looked up only inside a directory that is there.
        if (missing || !S_ISDIR(atInfo.st_mode)) return placeKind;
        holder = std::move(at);
        const std::string holderPath = atPath;
        int found;
        do found = ::openat(holder.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        while (found < 0 && errno == EINTR);
        atName = step.name;
        atPath = joined(holderPath, step.name);
        if (found < 0) {
            if (errno != ENOENT) return placeKind;
            missing = true;
            continue;
        }
        at.reset(found);
        if (::fstat(at.get(), &atInfo) != 0) return placeKind;
        if (!S_ISLNK(atInfo.st_mode)) continue;

        // A link: the walk goes on from where its target starts, and its
        // target's names take its place.
        if (++linksFollowed > maxLinksFollowed) return placeKind;
        std::string target(PATH_MAX, '\0');
        const ssize_t size = ::readlinkat(at.get(), "", &target[0], target.size());
        if (size <= 0 || static_cast<std::size_t>(size) >= target.size()) return placeKind;
        target.resize(static_cast<std::size_t>(size));
        if (!isTrusted(atInfo.st_uid)) steps.push_back({"", true, atInfo.st_uid});
        const bool absolute = target[0] == '/';
        const std::string targetPath = absolute ? target : joined(holderPath, target);
        own = ownDescriptorNamed(targetPath);
        if (own >= 0 && !namesLeft()) {
            // What the link names is the descriptor's file, whoever it is.
            struct stat info;
            if (::fstat(own, &info) != 0 || !marksAllow(&info)) return placeKind;
            descriptor = own;
            spelled = targetPath;
            return placeKind = PLACE_DESCRIPTOR;
        }
        pushNames(target);
        at.reset(absolute ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : ::dup(holder.get()));
        if (at.get() < 0 || ::fstat(at.get(), &atInfo) != 0) return placeKind;
        atPath = absolute ? "/" : holderPath;
    }

    // A path that ends in a slash names a directory or nothing.
    if (path.back() == '/' && (missing || !S_ISDIR(atInfo.st_mode))) return placeKind;
    spelled = atPath;
    name = atName;
    directory = holder.release();
    if (missing) return placeKind = directory >= 0 ? PLACE_MISSING : PLACE_UNREACHABLE;
    held = at.release();
    fileId = identityOf(atInfo);
    if (S_ISREG(atInfo.st_mode)) return placeKind = PLACE_REGULAR;
    if (S_ISDIR(atInfo.st_mode)) return placeKind = PLACE_DIRECTORY;
    return placeKind = PLACE_STREAM;
}

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
        fd = ::fcntl(place.descriptor, F_DUPFD_CLOEXEC, 0);
        if (fd < 0 || ::fstat(fd, &info) != 0) return false;
        // The caller's own pipe, socket or terminal, as a shell's process
        // substitution hands it over; any other device is refused.
        stream = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode) || (S_ISCHR(info.st_mode) && ::isatty(fd));
        break;
    case PLACE_STREAM:
        // A FIFO of root's or this user's own: no one else can stall or
        // feed the run. The open does not wait for a writer; the read does.
        if (::fstat(place.held, &info) != 0 || !S_ISFIFO(info.st_mode) || !isTrusted(info.st_uid)) return false;
        fd = reopen(place.held, place.directory, place.name, place.file(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
        stream = true;
        break;
    case PLACE_REGULAR:
        // Without O_NONBLOCK, a named pipe put there meanwhile would wait for a writer.
        fd = reopen(place.held, place.directory, place.name, place.file(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
        break;
    default:
        return false;
    }
    if (fd < 0 || ::fstat(fd, &info) != 0 || (!stream && !S_ISREG(info.st_mode))) return false;
    fileId = identityOf(info);
    bytes = stream ? 0 : static_cast<std::uintmax_t>(info.st_size);
    return true;
}

clOutputFile::~clOutputFile() { close(); }

bool clOutputFile::openThrough(const clPlace& place) {
    close();
    if (place.kind() == PLACE_DESCRIPTOR) {
        fd = ::fcntl(place.descriptor, F_DUPFD_CLOEXEC, 0);
    } else if (place.kind() == PLACE_STREAM) {
        // A FIFO's open waits for a reader, as any writer's does.
        fd = reopen(place.held, place.directory, place.name, place.file(), O_WRONLY | O_NOCTTY);
    }
    return fd >= 0;
}

bool clOutputFile::createBeside(const clPlace& place) {
    close();
    if (place.directory < 0) return false;
    directory = ::fcntl(place.directory, F_DUPFD_CLOEXEC, 0);
    if (directory < 0) return false;
    for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
        const std::string candidate = temporaryNameFor(place.name, randomBits());
        // Its owner's alone until all its data is written.
        do fd = ::openat(directory, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        while (fd < 0 && errno == EINTR);
        if (fd >= 0) {
            temporaryName = candidate;
            temporaryPath = joined(directoryOf(place.resolvedPath()), candidate);
            return true;
        }
        if (errno != EEXIST) break;
    }
    close();
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

bool clOutputFile::takeAttributes(const clPlace& place) {
    if (beforeStep) beforeStep(STEP_SET_ATTRIBUTES, temporaryPath);
    if (fd < 0) return false;
    struct stat info;
    if (place.held < 0 || ::fstat(place.held, &info) != 0) return ::fchmod(fd, 0666 & ~creationMask) == 0;
    // Only a privileged user may give a file away; the group may still be
    // one that this user belongs to.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0 && ::fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
        // The file keeps this user's group, as an editor's save would.
    }
    if (::fchmod(fd, info.st_mode & 07777) != 0) return false;
    // The held name is only looked at; its lists are read from a real open.
    const clFd model(reopen(place.held, place.directory, place.name, place.file(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (model.get() >= 0) {
        copyExtendedAttribute(model.get(), fd, "system.posix_acl_access");
        copyExtendedAttribute(model.get(), fd, "security.selinux");
    }
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
    if (beforeStep) beforeStep(STEP_SYNC_DATA, temporaryPath);
    // The whole file, its new owner and permissions with its data.
    while (::fsync(fd) != 0) {
        if (errno == EINVAL) return true;  // a file that cannot be synced: nothing more to do
        if (errno != EINTR) return false;
    }
    return true;
}

bool clOutputFile::isOwnName() const {
    return fd >= 0 && directory >= 0 && identityAt(directory, temporaryName) == identityOf(fd);
}

bool clOutputFile::replace(const clPlace& place, const clFileId* mustReplace) {
    if (beforeStep) beforeStep(STEP_RENAME, temporaryPath);
    // Whoever can write the directory may have swapped either name meanwhile.
    if (!isOwnName()) return false;
    if (mustReplace && !(identityAt(place.directory, place.name) == *mustReplace)) return false;
    if (::renameat(directory, temporaryName.c_str(), place.directory, place.name.c_str()) != 0) return false;
    temporaryName.clear();
    // The rename itself reaches storage only with its directory.
    if (beforeStep) beforeStep(STEP_SYNC_DIRECTORY, directoryOf(place.resolvedPath()));
    return syncDirectory(place.directory);
}

void clOutputFile::discard() {
    if (!temporaryName.empty() && isOwnName()) ::unlinkat(directory, temporaryName.c_str(), 0);
    temporaryName.clear();
}

bool clOutputFile::close() {
    writtenBytes = writtenBackBytes = 0;
    temporaryName.clear();
    temporaryPath.clear();
    if (directory >= 0) ::close(directory);
    directory = -1;
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
}

clBusErrorExit::~clBusErrorExit() {
    ::sigaction(SIGBUS, &busErrorBefore, nullptr);
}

}  // namespace host

#endif
