// Memory for XML nodes, carved from large chunks.
#ifndef QOR_UTILITY_NODE_POOL_H
#define QOR_UTILITY_NODE_POOL_H

#include <cstddef>

namespace qor {
namespace utility {
namespace nodePool {

// Blocks up to this size come from the pool; the caller sends larger ones
// to the general allocator.
constexpr std::size_t largestBlock = 256;

// A block of size bytes, aligned for any node. Throws std::bad_alloc when
// memory runs out.
void* allocate(std::size_t size);

// Gives back a block from allocate, from any thread.
void release(void* block) noexcept;

}  // namespace nodePool
}  // namespace utility
}  // namespace qor

#endif
