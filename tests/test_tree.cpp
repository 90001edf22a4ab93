#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/multi_tree.h"
#include "xml/xml.h"
#include "xml/xml_node.h"

namespace {

using qor::utility::clXMLNode;
using Tree = qor::common::clMultiTree<std::string>;

// A new node of key, the last child of parent.
Tree* add(Tree& parent, const std::string& key) {
    Tree* node = new Tree;
    node->key = key;
    parent.addChild(node);
    return node;
}

TEST(MultiTree, LinksChildrenInOrder) {
    Tree root;
    Tree* a = add(root, "a");
    Tree* b = add(root, "b");
    EXPECT_EQ(root.getFirstChild(), a);
    EXPECT_EQ(root.getLastChild(), b);
    EXPECT_EQ(a->getNextSibling(), b);
    EXPECT_EQ(b->getNextSibling(), nullptr);
    EXPECT_EQ(a->getParent(), &root);
    EXPECT_EQ(b->getParent(), &root);
    EXPECT_TRUE(root.ownsChildren);
}

TEST(MultiTree, FindsTheFirstMatchInPreorder) {
    Tree root;
    Tree* first = add(root, "first");
    add(root, "x");
    Tree* grandchild = add(*first, "x");
    EXPECT_EQ(root.find("x"), grandchild);
    EXPECT_EQ(root.find(""), &root);
    EXPECT_EQ(root.find("X"), nullptr);
    EXPECT_EQ(first->find("x"), grandchild);
    EXPECT_EQ(grandchild->find("first"), nullptr);  // a search stays inside its subtree
    first->key = "x";
    EXPECT_EQ(root.find("x"), first);
}

TEST(MultiTree, RemovesChildrenAndCanDoItAgain) {
    Tree root;
    add(*add(root, "a"), "c");
    add(root, "b");
    root.removeChildren();
    EXPECT_EQ(root.getFirstChild(), nullptr);
    EXPECT_EQ(root.getLastChild(), nullptr);
    root.removeChildren();
    Tree single;
    single.removeChildren();
    EXPECT_EQ(single.getFirstChild(), nullptr);
}

// Records the order in which nodes are destroyed.
std::vector<std::string> destroyed;

class Recorded : public Tree {
public:
    explicit Recorded(const std::string& name) { key = name; }
    ~Recorded() override { destroyed.push_back(key); }
};

TEST(MultiTree, DeletesEachNodeOnceInPreorder) {
    destroyed.clear();
    {
        Tree root;
        Tree* a = new Recorded("a");
        Tree* b = new Recorded("b");
        root.addChild(a);
        root.addChild(b);
        Tree* a1 = new Recorded("a1");
        a->addChild(a1);
        a1->addChild(new Recorded("a1x"));
        a->addChild(new Recorded("a2"));
        b->addChild(new Recorded("b1"));
    }
    EXPECT_EQ(destroyed, (std::vector<std::string>{"a", "a1", "a1x", "a2", "b", "b1"}));
}

TEST(MultiTree, DetachesWithoutDeletingWhenItDoesNotOwn) {
    Tree root;
    root.ownsChildren = false;
    Tree child;
    root.addChild(&child);
    root.removeChildren();
    EXPECT_EQ(child.getParent(), nullptr);
    EXPECT_EQ(root.getFirstChild(), nullptr);
}

TEST(XmlNode, ReportsItsKind) {
    EXPECT_EQ(clXMLNode().getType(), clXMLNode::TYPE_NONE);
    EXPECT_EQ(qor::utility::clXMLNodeTag().getType(), 1);
    EXPECT_EQ(qor::utility::clXMLNodeEmptyTag().getType(), 2);
    EXPECT_EQ(qor::utility::clXMLNodeElement().getType(), 3);
    EXPECT_EQ(qor::utility::clXMLNodeDeclaration().getType(), 4);
    EXPECT_EQ(qor::utility::clXMLNodeComment().getType(), 5);
    EXPECT_EQ(sizeof(clXMLNode::enType), 4u);
}

TEST(XmlNode, ServesTagAndTextFromOneString) {
    qor::utility::clXMLNodeElement text;
    text.setElement("hello");
    text.setTag("swf");
    EXPECT_EQ(text.getElement(), "swf");
    qor::utility::clXMLNodeTag tag;
    tag.setTag("Header");
    EXPECT_EQ(tag.getElement(), "Header");
}

class Attributes : public ::testing::Test {
protected:
    void SetUp() override { node.setAttribute({{"a", "1"}, {"b", "2"}, {"a", "3"}, {"", ""}}); }
    clXMLNode node;
};

TEST_F(Attributes, SearchFindsTheFirstOfAName) {
    ASSERT_NE(node.searchAttribute("a"), nullptr);
    EXPECT_EQ(node.searchAttribute("a")->second, "1");
    EXPECT_EQ(node.searchAttribute("A"), nullptr);
    EXPECT_EQ(node.searchAttribute(nullptr), nullptr);
    EXPECT_EQ(node.searchAttribute("")->second, "");
    EXPECT_EQ(clXMLNode().searchAttribute("a"), nullptr);
    const clXMLNode& constant = node;
    EXPECT_EQ(constant.searchAttribute("b")->second, "2");
}

TEST_F(Attributes, SearchGivesWriteAccessInPlace) {
    node.searchAttribute("b")->second = "20";
    EXPECT_EQ(node.getAttribute()[1], (clXMLNode::tyAttribute{"b", "20"}));
}

TEST_F(Attributes, SetMakesAnExactCopy) {
    const clXMLNode::tyAttribute two[] = {{"x", "9"}, {"y", ""}};
    node.setAttribute(two, 2);
    EXPECT_EQ(node.getAttribute(), (clXMLNode::tyAttributeList{{"x", "9"}, {"y", ""}}));
    node.setAttribute({{"p", "1"}, {"q", "2"}, {"r", "3"}});
    EXPECT_EQ(node.getAttribute().size(), 3u);
    EXPECT_EQ(node.getAttribute()[2].first, "r");
    node.setAttribute(node.getAttribute());
    EXPECT_EQ(node.getAttribute(), (clXMLNode::tyAttributeList{{"p", "1"}, {"q", "2"}, {"r", "3"}}));
    node.setAttribute(node.getAttribute().data(), 1);
    EXPECT_EQ(node.getAttribute(), (clXMLNode::tyAttributeList{{"p", "1"}}));
    node.setAttribute(two, 0);
    EXPECT_TRUE(node.getAttribute().empty());
}

// A loaded document can be returned and kept in a vector: the tree goes to
// the new owner, nodes and all, and the old one is left empty.
TEST(XmlDocument, MovesItsTree) {
    using qor::utility::clXML;
    clXML first;
    first.loadText("<a><b/></a><c/>");
    clXMLNode* b = first.findTag("b");
    std::vector<clXML> documents;
    documents.push_back(std::move(first));
    documents.emplace_back().loadText("<d/>");
    documents.reserve(documents.capacity() + 1);  // moves both again
    EXPECT_FALSE(first.isLoad());
    EXPECT_EQ(first.getLoadResult(), clXML::LOAD_NO_MARKUP);
    EXPECT_EQ(documents[0].findTag("b"), b);
    EXPECT_EQ(documents[0].findTag("c")->getParent(), &documents[0].root);
    EXPECT_EQ(documents[0].getLoadResult(), clXML::LOAD_OK);

    clXML target;
    target.loadText("<old/>");
    target = std::move(documents[0]);
    EXPECT_EQ(target.findTag("old"), nullptr);
    EXPECT_EQ(target.findTag("b"), b);
    EXPECT_EQ(b->getParent()->getParent(), &target.root);
    EXPECT_FALSE(documents[0].isLoad());
    EXPECT_NE(documents[1].findTag("d"), nullptr);
}

}  // namespace
