#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "xml/xml_node.h"

namespace {

using qor::utility::clXMLNode;
using qor::utility::clXMLNodeEmptyTag;
using qor::utility::clXMLNodeTag;

// A flat run of count children keyed prefix0, prefix1, ... under parent:
// enough to fill many of the allocator's chunks.
void addNumbered(clXMLNode& parent, const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i) {
        clXMLNode* node = new clXMLNodeEmptyTag;
        node->setTag(prefix + std::to_string(i));
        parent.addChild(node);
    }
}

::testing::AssertionResult holdsNumbered(const clXMLNode& parent, const std::string& prefix, int count) {
    int i = 0;
    for (auto* n = parent.getFirstChild(); n; n = n->getNextSibling(), ++i) {
        if (n->key != prefix + std::to_string(i)) return ::testing::AssertionFailure() << "child " << i << " is " << n->key;
    }
    if (i != count) return ::testing::AssertionFailure() << i << " children, not " << count;
    return ::testing::AssertionSuccess();
}

// Overwrites recently freed memory, so a node whose memory went back too
// early no longer holds its key.
void churnTheHeap() {
    std::vector<std::string> filler;
    for (int i = 0; i < 20000; ++i) filler.emplace_back(96, 'x');
}

TEST(NodePool, InterleavedTreesSurviveEachOthersTeardown) {
    clXMLNode kept;
    for (int round = 0; round < 3; ++round) {
        // Each pair of nodes shares chunks: one stays, one goes.
        clXMLNode dropped;
        for (int i = 0; i < 5000; ++i) {
            addNumbered(dropped, "d", 1);
            clXMLNode* node = new clXMLNodeTag;
            node->setTag("k" + std::to_string(round * 5000 + i));
            kept.addChild(node);
        }
        dropped.removeChildren();
        churnTheHeap();
    }
    EXPECT_TRUE(holdsNumbered(kept, "k", 15000));
}

TEST(NodePool, NodesBuiltOnOneThreadDieOnAnother) {
    clXMLNode parent;
    std::thread builder([&parent] { addNumbered(parent, "n", 40000); });
    builder.join();  // the builder's thread is gone; its nodes live on
    churnTheHeap();
    EXPECT_TRUE(holdsNumbered(parent, "n", 40000));

    std::thread remover([&parent] { parent.removeChildren(); });
    remover.join();
    EXPECT_EQ(parent.getFirstChild(), nullptr);
    addNumbered(parent, "again", 40000);  // memory given back is usable again
    EXPECT_TRUE(holdsNumbered(parent, "again", 40000));
}

// A node class of its own, larger than the pool serves, is still created
// and deleted through the node's own new and delete.
struct clLargeNode : clXMLNode {
    char payload[4096] = {};
};

TEST(NodePool, NodesOfAnySizeComeAndGo) {
    clXMLNode parent;
    for (int i = 0; i < 100; ++i) {
        clXMLNode* node = new clLargeNode;
        node->setTag("large" + std::to_string(i));
        parent.addChild(node);
    }
    EXPECT_TRUE(holdsNumbered(parent, "large", 100));
    parent.removeChildren();
}

}  // namespace
