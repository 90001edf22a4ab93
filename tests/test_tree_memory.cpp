// The tool's memory, in a program of its own: tree_memory.cpp replaces
// operator new and delete for the whole program, gtest's blocks included.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "driver/tree_memory.h"

namespace {

struct clBlock {
    unsigned char* bytes;
    std::size_t size;
    std::size_t align;
};

bool aligned(const void* p, std::size_t align) { return reinterpret_cast<std::uintptr_t>(p) % align == 0; }

// Fills each block with its own byte, then checks that no other block's
// bytes landed on it.
void expectApart(const std::vector<clBlock>& blocks) {
    for (std::size_t i = 0; i < blocks.size(); ++i) std::memset(blocks[i].bytes, int(i % 251), blocks[i].size);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        for (std::size_t b = 0; b < blocks[i].size; ++b) {
            ASSERT_EQ(blocks[i].bytes[b], i % 251) << "block " << i << " overlaps another";
        }
    }
}

clBlock take(std::size_t size, std::size_t align) {
    void* p = align > alignof(std::max_align_t) ? ::operator new(size, std::align_val_t(align)) : ::operator new(size);
    return {static_cast<unsigned char*>(p), size, align};
}

void give(const std::vector<clBlock>& blocks) {
    for (const clBlock& block : blocks) {
        block.align > alignof(std::max_align_t) ? ::operator delete(block.bytes, std::align_val_t(block.align))
                                                : ::operator delete(block.bytes);
    }
}

TEST(TreeMemory, CutsBlocksFromOneRegionUntilItIsFull) {
    const auto before = std::make_unique<int>(1);
    treeMemory::prepare(1000);  // a small input changes nothing
    const auto small = std::make_unique<int>(2);
    EXPECT_FALSE(treeMemory::holds(before.get()));
    EXPECT_FALSE(treeMemory::holds(small.get()));

    treeMemory::prepare(16 * 1024);  // a region of one huge page
    const auto probe = std::make_unique<int>(3);  // from the region, it stays there when freed
    if (!treeMemory::holds(probe.get())) GTEST_SKIP() << "the general allocator serves everything on this host";

    // Ordinary blocks come from the region, over-aligned ones from the
    // general allocator, each aligned as asked.
    std::vector<clBlock> blocks;
    for (std::size_t size : {1, 7, 16, 24, 100, 255, 4096}) blocks.push_back(take(size, alignof(std::max_align_t)));
    for (std::size_t i = 0; i < 8; ++i) {
        blocks.push_back(take(32 * 1024, 32 * 1024));
        blocks.push_back(take(40 + i, alignof(std::max_align_t)));
        blocks.push_back(take(100, 64));
    }
    for (const clBlock& block : blocks) {
        EXPECT_EQ(treeMemory::holds(block.bytes), block.align <= alignof(std::max_align_t));
        EXPECT_TRUE(aligned(block.bytes, block.align));
    }

    // Large blocks go to the general allocator and back to it.
    void* large = ::operator new(std::size_t(1) << 20);
    EXPECT_FALSE(treeMemory::holds(large));
    ::operator delete(large);

    // Once the region is full, every block still comes, from elsewhere.
    std::size_t held = 0;
    for (int i = 0; i < 1000; ++i) {
        blocks.push_back(take(i % 2 ? 4096 : 8192, alignof(std::max_align_t)));
        if (treeMemory::holds(blocks.back().bytes)) held += blocks.back().size;
    }
    EXPECT_LE(held, std::size_t(2) << 20);
    EXPECT_FALSE(treeMemory::holds(blocks.back().bytes));
    expectApart(blocks);
    give(blocks);
}

TEST(TreeMemory, ThreadsCutBlocksApart) {
    treeMemory::prepare(1 << 20);
    std::vector<clBlock> perThread[4];
    std::vector<std::thread> threads;
    for (auto& blocks : perThread) {
        threads.emplace_back([&blocks] {
            for (int i = 0; i < 2000; ++i) blocks.push_back(take(16 + i % 64, i % 50 ? 16 : 32 * 1024));
        });
    }
    for (std::thread& thread : threads) thread.join();
    std::vector<clBlock> all;
    for (const auto& blocks : perThread) all.insert(all.end(), blocks.begin(), blocks.end());
    for (const clBlock& block : all) EXPECT_TRUE(aligned(block.bytes, block.align));
    expectApart(all);
    give(all);
}

}  // namespace
