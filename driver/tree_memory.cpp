#include "driver/tree_memory.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TREE_MEMORY_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TREE_MEMORY_UNDER_ASAN 1
#endif

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Linux only: elsewhere, and under AddressSanitizer (which must see every
// block), the general allocator serves everything.
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(TREE_MEMORY_UNDER_ASAN)

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

// Below this input size a tree takes too few pages for a huge one to pay.
constexpr std::uintmax_t smallestInput = 16 * 1024;
// Blocks this large or larger are few, and are given back when freed.
constexpr std::size_t largestBlock = std::size_t(1) << 20;
constexpr std::size_t hugePage = std::size_t(2) << 20;
// Blocks are cut in multiples of this, which keeps each aligned for any type.
constexpr std::size_t unit = alignof(std::max_align_t);
// The most address space the region takes, whatever the input.
constexpr std::uintmax_t largestRegion = std::uintmax_t(64) << 30;

// The region starts at begin, is aligned to a huge page and lasts until
// the process ends. Blocks are cut upward from its start; used is the
// offset of the next one.
char* begin = nullptr;
std::size_t regionSize = 0;
std::atomic<std::size_t> used{0};

void* cut(std::size_t size, std::size_t align) {
    if (!begin || size >= largestBlock || align > unit) return nullptr;
    const std::size_t rounded = size == 0 ? unit : (size + unit - 1) / unit * unit;
    std::size_t block = used.load(std::memory_order_relaxed);
    do {
        if (regionSize - block < rounded) return nullptr;  // full: the general allocator takes over
    } while (!used.compare_exchange_weak(block, block + rounded, std::memory_order_relaxed));
    return begin + block;
}

void* allocate(std::size_t size, std::size_t align) {
    if (void* block = cut(size, align)) return block;
    void* block = align <= unit ? std::malloc(size ? size : 1)
                                : std::aligned_alloc(align, (size + align - 1) / align * align);
    if (!block) throw std::bad_alloc();
    return block;
}

// Blocks cut from the region stay with it.
void release(void* block) {
    if (!treeMemory::holds(block)) std::free(block);
}

}  // namespace

namespace treeMemory {

void prepare(std::uintmax_t inputBytes) {
    if (inputBytes < smallestInput || begin) return;
    // A tree takes about four times its input; the rest of the region is
    // address space only, for inputs that make more nodes than most.
    const std::uintmax_t wanted = inputBytes < largestRegion / 8 ? (inputBytes * 8 + hugePage) / hugePage * hugePage
                                                                 : largestRegion;
    if (wanted > SIZE_MAX - hugePage) return;
    const std::size_t size = static_cast<std::size_t>(wanted);
    void* mapped = ::mmap(nullptr, size + hugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED) return;
    // Huge pages need an aligned start; the slack on either side goes back.
    char* const raw = static_cast<char*>(mapped);
    const std::size_t before = (hugePage - reinterpret_cast<std::uintptr_t>(raw) % hugePage) % hugePage;
    if (before > 0) ::munmap(raw, before);
    if (before < hugePage) ::munmap(raw + before + size, hugePage - before);
    ::madvise(raw + before, size, MADV_HUGEPAGE);  // a host without them: small pages, as ever
    regionSize = size;
    begin = raw + before;
}

bool holds(const void* block) {
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    return begin && address >= start && address - start < regionSize;
}

}  // namespace treeMemory

// The replaceable allocation functions; the array and nothrow forms call
// these.
void* operator new(std::size_t size) { return allocate(size, alignof(std::max_align_t)); }
void* operator new(std::size_t size, std::align_val_t align) {
    return allocate(size, static_cast<std::size_t>(align));
}
void operator delete(void* block) noexcept { release(block); }
void operator delete(void* block, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { release(block); }

#else

namespace treeMemory {

void prepare(std::uintmax_t) {}
bool holds(const void*) { return false; }

}  // namespace treeMemory

#endif
