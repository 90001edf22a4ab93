// Resolving a path on Linux: walked name by name with O_PATH, each link
// read through the descriptor that holds it (readlinkat(fd, "")) and
// followed by the walk itself, never by the kernel.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "driver/host.h"
#include "driver/linux/open_files.h"

namespace host {

namespace {

// As many links as the host itself follows before it calls a chain a loop.
constexpr int maxLinksFollowed = 40;

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

// What one step of a walk came to.
enum enWalkOutcome {
    WALK_REFUSED,       // the path is unreachable
    WALK_ON,            // the walk stands on the next name, or on nothing there
    WALK_AT_DESCRIPTOR  // the path ends at one of this process's descriptors
};

// A walk along a path, name by name from the directory it starts in. It
// stands on an open directory or file, or on nothing (a missing name),
// with the directory that holds it and its name there.
class clWalk {
public:
    // False when the directory the path starts in cannot be opened.
    bool start(const std::string& path);
    bool isDone() const { return names.empty(); }
    enWalkOutcome next();

    clFd at;
    struct stat atInfo = {};
    clFd holder;
    std::string atName;
    bool missing = false;
    int descriptor = -1;  // at WALK_AT_DESCRIPTOR: which of this process's descriptors

private:
    // A name still to walk; or a mark, where a link of someone not trusted
    // ends: when the walk reaches the mark, what it stands on is what the
    // link finally names.
    struct clName {
        std::string name;
        bool linkEnd = false;
        uid_t linkOwner = 0;
    };
    void pushNames(const std::string& text);
    bool namesLeft() const;
    bool marksAllow(const struct stat& reached) const;
    enWalkOutcome passMark(const clName& mark) const;
    enWalkOutcome lookUp(const std::string& name);
    enWalkOutcome follow();

    std::vector<clName> names;  // the next one last
    int linksFollowed = 0;
};

bool clWalk::start(const std::string& path) {
    at.reset(::open(path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (at.get() < 0 || ::fstat(at.get(), &atInfo) != 0) return false;
    pushNames(path);
    return true;
}

// Puts text's names before those still to walk.
void clWalk::pushNames(const std::string& text) {
    std::vector<clName> found;
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find('/', begin);
        if (end == std::string::npos) end = text.size();
        // "." is looked up too: it asks, as the kernel does, for a directory.
        if (end > begin) found.push_back({text.substr(begin, end - begin)});
        begin = end + 1;
    }
    names.insert(names.end(), found.rbegin(), found.rend());
}

bool clWalk::namesLeft() const {
    for (const clName& name : names)
        if (!name.linkEnd) return true;
    return false;
}

// Whether the marks still pending when the walk ends at one of this
// process's descriptors allow the file it holds.
bool clWalk::marksAllow(const struct stat& reached) const {
    for (const clName& name : names) {
        if (name.linkEnd && reached.st_uid != name.linkOwner) return false;
    }
    return true;
}

enWalkOutcome clWalk::next() {
    const clName step = names.back();
    names.pop_back();
    if (step.linkEnd) return passMark(step);
    // A name is looked up only inside a directory that is there.
    if (missing || !S_ISDIR(atInfo.st_mode)) return WALK_REFUSED;
    holder = std::move(at);
    const int own = namesLeft() ? -1 : descriptorNumbered(step.name);
    if (own >= 0 && isOwnDescriptorDirectory(holder.get())) {
        // What the path names is the descriptor's file, whoever it is.
        struct stat info;
        if (::fstat(own, &info) != 0 || !marksAllow(info)) return WALK_REFUSED;
        descriptor = own;
        return WALK_AT_DESCRIPTOR;
    }
    return lookUp(step.name);
}

// A link of someone not trusted leads only to what that someone owns.
enWalkOutcome clWalk::passMark(const clName& mark) const {
    return missing || atInfo.st_uid != mark.linkOwner ? WALK_REFUSED : WALK_ON;
}

// Steps from the holding directory onto name, or onto nothing there.
enWalkOutcome clWalk::lookUp(const std::string& name) {
    int found;
    do found = ::openat(holder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    while (found < 0 && errno == EINTR);
    atName = name;
    if (found < 0) {
        if (errno != ENOENT) return WALK_REFUSED;
        missing = true;
        return WALK_ON;
    }
    at.reset(found);
    if (::fstat(at.get(), &atInfo) != 0) return WALK_REFUSED;
    return S_ISLNK(atInfo.st_mode) ? follow() : WALK_ON;
}

// Standing on a link: the walk goes on from where its target starts, and
// its target's names take its place.
enWalkOutcome clWalk::follow() {
    if (++linksFollowed > maxLinksFollowed) return WALK_REFUSED;
    std::string target(PATH_MAX, '\0');
    const ssize_t size = ::readlinkat(at.get(), "", &target[0], target.size());
    if (size <= 0 || static_cast<std::size_t>(size) >= target.size()) return WALK_REFUSED;
    target.resize(static_cast<std::size_t>(size));
    if (!isTrusted(atInfo.st_uid)) names.push_back({"", true, atInfo.st_uid});
    pushNames(target);
    at.reset(target[0] == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)
                              : ::fcntl(holder.get(), F_DUPFD_CLOEXEC, 0));
    return at.get() >= 0 && ::fstat(at.get(), &atInfo) == 0 ? WALK_ON : WALK_REFUSED;
}

}  // namespace

clPlace::~clPlace() { reset(); }

void clPlace::reset() {
    if (state.directory >= 0) ::close(state.directory);
    if (state.held >= 0) ::close(state.held);
    state = clPlaceState();
    placeKind = PLACE_UNREACHABLE;
    fileId = clFileId();
    name.clear();
}

enPlaceKind clPlace::resolve(const std::string& path) {
    reset();
    if (path.empty()) return placeKind;
    state.descriptor = ownDescriptorNamed(path);
    // Named as itself, not through anyone's link.
    if (state.descriptor >= 0) return placeKind = PLACE_DESCRIPTOR;
    clWalk walk;
    if (!walk.start(path)) return placeKind;
    while (!walk.isDone()) {
        const enWalkOutcome outcome = walk.next();
        if (outcome == WALK_REFUSED) return placeKind;
        if (outcome == WALK_AT_DESCRIPTOR) {
            state.descriptor = walk.descriptor;
            return placeKind = PLACE_DESCRIPTOR;
        }
    }
    // A path that ends in a slash names a directory or nothing.
    if (path.back() == '/' && (walk.missing || !S_ISDIR(walk.atInfo.st_mode))) return placeKind;
    name = walk.atName;
    state.directory = walk.holder.release();
    if (walk.missing) return placeKind = state.directory >= 0 ? PLACE_MISSING : PLACE_UNREACHABLE;
    state.held = walk.at.release();
    fileId = identityOf(walk.atInfo);
    if (S_ISREG(walk.atInfo.st_mode)) return placeKind = PLACE_REGULAR;
    if (S_ISDIR(walk.atInfo.st_mode)) return placeKind = PLACE_DIRECTORY;
    return placeKind = PLACE_STREAM;
}

}  // namespace host
