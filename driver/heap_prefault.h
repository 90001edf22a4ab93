// Faulting in the heap's fresh pages ahead of the allocator, on a helper
// thread, while a large tree is built.
#ifndef SWFUPGRADE_HEAP_PREFAULT_H
#define SWFUPGRADE_HEAP_PREFAULT_H

#include <cstdint>
#include <memory>

// On hosts where the first touch of each new page is costly (zeroing, and
// under a hypervisor a trap to the host), building a tree of millions of
// nodes spends a large share of its time waiting on page faults. While an
// object of this class lives, a second thread takes those faults instead,
// on the pages the heap has grown by but not yet handed out. It changes
// no byte of memory. For an input of fewer than about 3 MB, or where the
// host or allocator gives no such heap, it does nothing.
class clHeapPrefault {
public:
    explicit clHeapPrefault(std::uintmax_t inputBytes);
    ~clHeapPrefault();  // stops the helper and waits for it

    clHeapPrefault(const clHeapPrefault&) = delete;
    clHeapPrefault& operator=(const clHeapPrefault&) = delete;

private:
    struct clHelper;
    std::unique_ptr<clHelper> helper;
};

#endif
