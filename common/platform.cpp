#include "common/platform.h"

#ifdef _WIN32

namespace qor {
namespace platform {

void prepareProcess() {}

void copyOwner(const std::string&, const std::string&) {}

void releasePages(char*, std::size_t) {}

}  // namespace platform
}  // namespace qor

#else

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>

namespace qor {
namespace platform {

void prepareProcess() { std::signal(SIGXFSZ, SIG_IGN); }

void copyOwner(const std::string& source, const std::string& target) {
    struct stat info;
    if (::stat(source.c_str(), &info) != 0) return;
    // Only a privileged user may give a file away; for anyone else the new
    // file keeps its creator as owner, as an editor saving it would.
    if (::chown(target.c_str(), info.st_uid, info.st_gid) != 0) return;
}

void releasePages(char* begin, std::size_t size) {
    static const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    // Only pages wholly inside the range: the allocator's own bookkeeping
    // on the partial pages at either end stays untouched.
    const std::uintptr_t first = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) / page * page;
    const std::uintptr_t last = (reinterpret_cast<std::uintptr_t>(begin) + size) / page * page;
    if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

}  // namespace platform
}  // namespace qor

#endif
