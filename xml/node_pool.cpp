#include "xml/node_pool.h"

#include <atomic>
#include <cstdint>
#include <new>

#ifdef __has_feature
#define QOR_HAS_FEATURE(x) __has_feature(x)
#else
#define QOR_HAS_FEATURE(x) 0
#endif

// A parse builds millions of nodes at once, and a general-purpose
// allocation for each costs more than the rest of the work on it. Each
// thread instead cuts blocks in turn from a chunk of its own, with no
// lock; a chunk goes back when the last of its blocks does. Nodes die
// with their subtrees, which were cut in order, so chunks empty cleanly.

namespace qor {
namespace utility {
namespace nodePool {

namespace {

constexpr std::size_t chunkSize = 32 * 1024;  // chunks are aligned to it
constexpr std::size_t blockAlign = alignof(std::max_align_t);
// Raised on a chunk while a thread still cuts from it, so that blocks
// given back meanwhile cannot bring the count to zero.
constexpr long long filling = 1LL << 40;

struct clChunk {
    // While a thread cuts from the chunk, filling less the blocks given
    // back; after, the blocks cut and not yet given back. At zero the
    // chunk itself goes back.
    std::atomic<long long> live{filling};
};
constexpr std::size_t firstBlock = (sizeof(clChunk) + blockAlign - 1) / blockAlign * blockAlign;

void drop(clChunk* chunk, long long count) noexcept {
    if (chunk->live.fetch_sub(count, std::memory_order_acq_rel) == count) {
        chunk->~clChunk();
        ::operator delete(static_cast<void*>(chunk), std::align_val_t(chunkSize));
    }
}

// The chunk this thread cuts from.
struct clCutter {
    clChunk* chunk = nullptr;
    char* next = nullptr;
    char* end = nullptr;
    long long cut = 0;  // blocks cut from chunk, published when it is left

    ~clCutter() { leave(); }

    void leave() noexcept {
        if (chunk) drop(chunk, filling - cut);
        chunk = nullptr;
        next = end = nullptr;
        cut = 0;
    }

    void* take(std::size_t size) {
        if (static_cast<std::size_t>(end - next) < size) {
            void* memory = ::operator new(chunkSize, std::align_val_t(chunkSize));
            leave();
            chunk = new (memory) clChunk;
            next = static_cast<char*>(memory) + firstBlock;
            end = static_cast<char*>(memory) + chunkSize;
        }
        void* block = next;
        next += size;
        ++cut;
        return block;
    }
};

thread_local clCutter cutter;

}  // namespace

#if defined(__SANITIZE_ADDRESS__) || QOR_HAS_FEATURE(address_sanitizer)

// Under AddressSanitizer every node is its own allocation, so a node used
// after it was deleted is still caught.
void* allocate(std::size_t size) { return ::operator new(size); }
void release(void* block) noexcept { ::operator delete(block); }

#else

void* allocate(std::size_t size) {
    return cutter.take((size + blockAlign - 1) / blockAlign * blockAlign);
}

void release(void* block) noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    drop(reinterpret_cast<clChunk*>(address & ~std::uintptr_t(chunkSize - 1)), 1);
}

#endif

}  // namespace nodePool
}  // namespace utility
}  // namespace qor
