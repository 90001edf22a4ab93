#include "driver/heap_prefault.h"

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>
#include <thread>

namespace {

// Below this a run is too short for a thread to pay: at 1 MB it cost
// more time than it saved, at 3 MB it saved a tenth.
constexpr std::uintmax_t smallestInput = 3000000;

// glibc serves small blocks from the heap below the program break and
// grows it by the request plus this pad, so the helper has pages to take
// ahead of the allocator. mallopt(3) gives the default.
constexpr int growthPad = 2 << 20;
constexpr int defaultPad = 128 * 1024;

// The current program break, asked of the kernel, so no state shared
// with the allocator is read.
std::uintptr_t programBreak() { return static_cast<std::uintptr_t>(::syscall(SYS_brk, 0)); }

}  // namespace

struct clHeapPrefault::clHelper {
    std::atomic<bool> stopping{false};
    std::thread thread;

    clHelper() {
        try {
            thread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return;  // no thread to spare: the tree is built without help
        }
        ::mallopt(M_TOP_PAD, growthPad);
    }

    ~clHelper() {
        if (!thread.joinable()) return;
        stopping = true;
        thread.join();
        ::mallopt(M_TOP_PAD, defaultPad);
    }

    void run() {
        static const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        std::uintptr_t done = programBreak() / page * page;  // pages below are faulted in
        while (!stopping) {
            const std::uintptr_t top = programBreak() / page * page;
            if (top <= done) {
                done = top;  // the heap shrank, or has not grown
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            // Populating faults pages in as a write would, without writing:
            // bytes the allocator has already handed out stay as they are.
            if (::madvise(reinterpret_cast<void*>(done), top - done, MADV_POPULATE_WRITE) != 0 &&
                errno == EINVAL) {
                return;  // a kernel without it
            }
            done = top;
        }
    }
};

clHeapPrefault::clHeapPrefault(std::uintmax_t inputBytes)
    : helper(inputBytes >= smallestInput ? new clHelper : nullptr) {}

#else

struct clHeapPrefault::clHelper {};
clHeapPrefault::clHeapPrefault(std::uintmax_t) {}

#endif

clHeapPrefault::~clHeapPrefault() = default;
