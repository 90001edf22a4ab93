#include "common/platform.h"

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

clFileBytes::~clFileBytes() { close(); }

}  // namespace platform
}  // namespace qor

#ifdef _WIN32

namespace qor {
namespace platform {

void prepareProcess() {}

// Files are read, not mapped, here.
clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {}
clBusErrorExit::~clBusErrorExit() = default;

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
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <limits>

namespace qor {
namespace platform {

void prepareProcess() { std::signal(SIGXFSZ, SIG_IGN); }

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
