// The tool's host layer on Linux. It holds names open without opening
// them (O_PATH), reopens them through /proc, and reads the links it holds
// with readlinkat(fd, ""): calls other POSIX systems lack or give another
// meaning, so configuration refuses them.
#ifdef __linux__

#include <fcntl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
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

// The descriptor a name of digits stands for, or -1.
int descriptorNumbered(const std::string& digits, std::size_t from = 0) {
    if (digits.size() <= from) return -1;
    long long number = 0;
    for (std::size_t i = from; i < digits.size(); ++i) {
        if (digits[i] < '0' || digits[i] > '9' || number > INT_MAX / 10) return -1;
        number = number * 10 + (digits[i] - '0');
    }
    return number <= INT_MAX ? static_cast<int>(number) : -1;
}

// The descriptor of this process that path names (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N and the like), or -1 when it names none.
int ownDescriptorNamed(const std::string& path) {
    if (path == "/dev/stdout") return STDOUT_FILENO;
    if (path == "/dev/stderr") return STDERR_FILENO;
    if (path == "/dev/stdin") return STDIN_FILENO;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t length = std::strlen(prefix);
        if (path.compare(0, length, prefix) == 0) return descriptorNumbered(path, length);
    }
    return -1;
}

// Whether directory is this process's own directory of descriptors, where
// /dev/fd and /proc/self/fd lead: its entries are not files but links that
// stand for what each descriptor holds.
bool isOwnDescriptorDirectory(int directory) {
    struct stat at, own;
    return ::fstat(directory, &at) == 0 && ::stat("/proc/self/fd", &own) == 0 && at.st_dev == own.st_dev &&
           at.st_ino == own.st_ino;
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

std::uint64_t randomBits() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
    // Any name will do where none can be drawn: a taken one is only tried again.
    static std::uint64_t counter = 0;
    bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return (bits ^ (static_cast<std::uint64_t>(::getpid()) << 32)) + 0x9E3779B97F4A7C15ull * ++counter;
}

// The new file that SIGINT, SIGTERM or SIGHUP remove before they end the
// process: plain data a handler may read, changed only while those
// signals are held back.
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int endingSignalCount = sizeof endingSignals / sizeof endingSignals[0];
struct sigaction endingBefore[endingSignalCount];
bool endingCaught[endingSignalCount] = {};
int pendingDirectory = -1;
int pendingFile = -1;
char pendingName[256] = "";  // a directory entry's name, 255 bytes at most

void removePendingAndEnd(int signal) {
    const int saved = errno;
    struct stat named, own;
    // Only while the name is still the file's own, as discard checks.
    if (pendingName[0] != '\0' && ::fstatat(pendingDirectory, pendingName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        ::fstat(pendingFile, &own) == 0 && named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
        ::unlinkat(pendingDirectory, pendingName, 0);
    }
    pendingName[0] = '\0';
    // Then the signal does what it would have done without this handler.
    for (int i = 0; i < endingSignalCount; ++i) {
        if (endingSignals[i] == signal) ::sigaction(signal, &endingBefore[i], nullptr);
    }
    ::raise(signal);
    errno = saved;
}

// Holds back the signals that end a run, while alive.
class clEndingHeld {
public:
    clEndingHeld() {
        sigset_t ending;
        sigemptyset(&ending);
        for (const int signal : endingSignals) sigaddset(&ending, signal);
        ::sigprocmask(SIG_BLOCK, &ending, &before);
    }
    ~clEndingHeld() { ::sigprocmask(SIG_SETMASK, &before, nullptr); }
    clEndingHeld(const clEndingHeld&) = delete;
    clEndingHeld& operator=(const clEndingHeld&) = delete;

private:
    sigset_t before;
};

// Called only while the ending signals are held back. A signal that was
// ignored when the run began stays ignored.
void setPending(int directory, int file, const std::string& name) {
    pendingDirectory = directory;
    pendingFile = file;
    name.copy(pendingName, sizeof pendingName - 1);
    pendingName[std::min(name.size(), sizeof pendingName - 1)] = '\0';
    for (int i = 0; i < endingSignalCount; ++i) {
        struct sigaction now;
        if (endingCaught[i] || ::sigaction(endingSignals[i], nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = removePendingAndEnd;
        sigemptyset(&action.sa_mask);
        for (const int signal : endingSignals) sigaddset(&action.sa_mask, signal);
        endingCaught[i] = ::sigaction(endingSignals[i], &action, &endingBefore[i]) == 0;
    }
}

void clearPending() {
    pendingName[0] = '\0';
    for (int i = 0; i < endingSignalCount; ++i) {
        if (endingCaught[i]) ::sigaction(endingSignals[i], &endingBefore[i], nullptr);
        endingCaught[i] = false;
    }
}

}  // namespace

void (*beforeStep)(enStep step, tyStepFile file) = nullptr;
std::uint64_t (*drawRandom)() = randomBits;

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
    // Whether the marks still pending when the walk ends at one of this
    // process's descriptors allow the file it holds.
    auto marksAllow = [&steps](const struct stat& reached) {
        for (const clStep& step : steps) {
            if (step.linkEnd && reached.st_uid != step.linkOwner) return false;
        }
        return true;
    };

    int own = ownDescriptorNamed(path);
    if (own >= 0) {
        // Named as itself, not through anyone's link.
        descriptor = own;
        return placeKind = PLACE_DESCRIPTOR;
    }

    // Where the walk stands: an open directory or file, or nothing (a
    // missing name), with the directory that holds it and its name there.
    clFd at(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat atInfo;
    if (at.get() < 0 || ::fstat(at.get(), &atInfo) != 0) return placeKind;
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
        own = namesLeft() ? -1 : descriptorNumbered(step.name);
        if (own >= 0 && isOwnDescriptorDirectory(holder.get())) {
            // What the path names is the descriptor's file, whoever it is.
            struct stat info;
            if (::fstat(own, &info) != 0 || !marksAllow(info)) return placeKind;
            descriptor = own;
            return placeKind = PLACE_DESCRIPTOR;
        }
        int found;
        do found = ::openat(holder.get(), step.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        while (found < 0 && errno == EINTR);
        atName = step.name;
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
        pushNames(target);
        at.reset(target[0] == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                                  : ::fcntl(holder.get(), F_DUPFD_CLOEXEC, 0));
        if (at.get() < 0 || ::fstat(at.get(), &atInfo) != 0) return placeKind;
    }

    // A path that ends in a slash names a directory or nothing.
    if (path.back() == '/' && (missing || !S_ISDIR(atInfo.st_mode))) return placeKind;
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

tyStepFile clInputFile::stepFile() const { return fd; }

bool clInputFile::open(const std::string& path) {
    switch (place.resolve(path)) {
    case PLACE_DESCRIPTOR:
        fd = ::fcntl(place.descriptor, F_DUPFD_CLOEXEC, 0);
        break;
    case PLACE_REGULAR:
        // Without O_NONBLOCK, a named pipe put there meanwhile would wait for a writer.
        fd = reopen(place.held, place.directory, place.name, place.file(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
        break;
    default:
        return false;
    }
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    fileId = identityOf(info);
    bytes = static_cast<std::uintmax_t>(info.st_size);
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
        const std::string candidate = temporaryNameFor(place.name, drawRandom());
        int error;
        {
            // A signal between the creation and the record of it would leave the file.
            const clEndingHeld held;
            // Its owner's alone until all its data is written.
            fd = ::openat(directory, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            error = errno;
            if (fd >= 0) {
                temporaryName = candidate;
                setPending(directory, fd, candidate);
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
    if (fd < 0) return false;
    if (bytes == 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return true;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return true;
    const std::uintmax_t end = static_cast<std::uintmax_t>(at) + bytes;
    if (end > static_cast<std::uintmax_t>(std::numeric_limits<off_t>::max())) return false;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && end > limit.rlim_cur) return false;
    // The size stays what is written, so a reservation larger than the
    // writing leaves no bytes behind.
    int reserved;
    do reserved = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes));
    while (reserved != 0 && errno == EINTR);
    if (reserved == 0) return true;
    if (errno == ENOSPC || errno == EFBIG || errno == EDQUOT) return false;
    // The file system cannot reserve: its free space has to do.
    struct statvfs space;
    if (::fstatvfs(fd, &space) != 0 || space.f_frsize == 0) return true;
    const std::uintmax_t blocks = ::geteuid() == 0 ? space.f_bfree : space.f_bavail;
    return bytes / space.f_frsize < blocks;
}

bool clOutputFile::takeAttributes(const clPlace& place) {
    if (beforeStep) beforeStep(STEP_SET_ATTRIBUTES, fd);
    struct stat info, now;
    if (fd < 0 || ::fstat(fd, &now) != 0) return false;
    if (place.held < 0) return ::fchmod(fd, 0666 & ~creationMask) == 0;
    if (::fstat(place.held, &info) != 0) return false;
    // Only root may give a file away; a member of a group may give it that group.
    const bool root = ::geteuid() == 0;
    const uid_t owner = root && info.st_uid != now.st_uid ? info.st_uid : static_cast<uid_t>(-1);
    const gid_t group =
        (root || isMemberOf(info.st_gid)) && info.st_gid != now.st_gid ? info.st_gid : static_cast<gid_t>(-1);
    if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) && ::fchown(fd, owner, group) != 0) {
        return false;
    }
    // After the owner: a change of owner clears the set-user-ID bits.
    if (::fchmod(fd, info.st_mode & 07777) != 0) return false;
    // The held name is only looked at: its lists are read through its entry
    // in /proc or, where that is missing, from a real open.
    std::string own = "/proc/self/fd/" + std::to_string(place.held);
    clFd model;
    if (::getxattr(own.c_str(), "system.posix_acl_access", nullptr, 0) < 0 && errno == ENOENT) {
        own.clear();
        model.reset(reopen(place.held, place.directory, place.name, place.file(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
        if (model.get() < 0) return false;
    }
    return copyExtendedAttribute(own, model.get(), fd, "system.posix_acl_access", false) &&
           copyExtendedAttribute(own, model.get(), fd, "security.selinux", true);
}

std::streamsize clOutputFile::xsputn(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (fd >= 0 && done < n) {
        const ssize_t written = ::write(fd, s + done, static_cast<std::size_t>(n - done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += written;
    }
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
    return done;
}

bool clOutputFile::syncData() {
    if (beforeStep) beforeStep(STEP_SYNC_DATA, fd);
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
    if (beforeStep) beforeStep(STEP_RENAME, fd);
    // Whoever can write the directory may have swapped either name meanwhile.
    if (!isOwnName()) return false;
    if (mustReplace && !(identityAt(place.directory, place.name) == *mustReplace)) return false;
    // What the sync after the rename needs is got before it. A directory
    // this user may write but not read cannot be opened to sync: the new
    // file's file system is synced instead.
    if (directoryToSync >= 0) ::close(directoryToSync);
    directoryToSync = ::openat(place.directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const clEndingHeld held;
    if (::renameat(directory, temporaryName.c_str(), place.directory, place.name.c_str()) != 0) return false;
    temporaryName.clear();
    clearPending();
    return true;
}

bool clOutputFile::syncReplacement() {
    const int toSync = directoryToSync >= 0 ? directoryToSync : fd;
    if (beforeStep) beforeStep(STEP_SYNC_DIRECTORY, toSync);
    if (directoryToSync < 0) return ::syncfs(fd) == 0;
    while (::fsync(directoryToSync) != 0) {
        if (errno == EINTR) continue;
        return errno == EINVAL;  // a file system that cannot sync directories
    }
    return true;
}

void clOutputFile::discard() {
    const clEndingHeld held;
    if (!temporaryName.empty() && isOwnName()) ::unlinkat(directory, temporaryName.c_str(), 0);
    temporaryName.clear();
    clearPending();
}

bool clOutputFile::close() {
    writtenBytes = writtenBackBytes = 0;
    if (!temporaryName.empty()) {
        // Kept, as the caller chose: a signal no longer removes it.
        const clEndingHeld held;
        temporaryName.clear();
        clearPending();
    }
    if (directory >= 0) ::close(directory);
    if (directoryToSync >= 0) ::close(directoryToSync);
    directory = directoryToSync = -1;
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
    qor::platform::setFileMapping(true);
}

clBusErrorExit::~clBusErrorExit() {
    qor::platform::setFileMapping(false);
    ::sigaction(SIGBUS, &busErrorBefore, nullptr);
}

}  // namespace host

#endif
