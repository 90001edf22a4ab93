// Where the tool's memory comes from while it builds a large tree.
#ifndef SWFUPGRADE_TREE_MEMORY_H
#define SWFUPGRADE_TREE_MEMORY_H

#include <cstdint>

namespace treeMemory {

// On Linux, from an input of 16 KiB on, a run's many small blocks (nodes,
// names, values) are cut in turn from one region that the host may back
// with huge pages: the first touch of each fresh page is a fault (zeroing
// it, and under a hypervisor a trap to the host), and one fault per 2 MiB
// costs far less than one per 4 KiB. Blocks cut there are never handed
// back one by one: the tree lives until the process ends, which returns
// the region whole. Smaller inputs, large blocks, everything once the
// region is full, and everything on other hosts use the general allocator.
// Call once, before the input loads. There tree_memory.cpp replaces the
// program's operator new and delete, so it belongs in the tool's own
// program, never in a library.
void prepare(std::uintmax_t inputBytes);

// True when block was cut from the region.
bool holds(const void* block);

}  // namespace treeMemory

#endif
