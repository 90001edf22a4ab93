// Inputs that break a naive tree or parser: deep nesting that overflows a
// recursive walk, and markup that makes a rescanning parser quadratic.
// Each must finish within the CTest timeout set for this suite.
#include <gtest/gtest.h>

#include "support/documents.h"
#include "support/files.h"
#include "xml_fixture.h"

namespace {

using qor::utility::clXMLNode;
using qor::utility::clXMLNodeElement;

constexpr int depth = 1000000;

using Scale = qor_test::XmlFixture;
using qor_test::repeat;

TEST_F(Scale, ParsesSearchesAndDestroysAMillionNestedTags) {
    parse(repeat("<a>", depth));
    ASSERT_TRUE(doc.isLoad());
    EXPECT_EQ(doc.find("absent"), nullptr);
    const clXMLNode* deepest = &doc.root;
    int levels = 0;
    while (deepest->getFirstChild()) {
        deepest = static_cast<const clXMLNode*>(deepest->getFirstChild());
        ++levels;
    }
    EXPECT_EQ(levels, depth);
    doc.root.removeChildren();
    EXPECT_FALSE(doc.isLoad());
}

TEST_F(Scale, PrintsAndExportsAMillionDeepChain) {
    clXMLNode* parent = &doc.root;
    for (int i = 0; i < depth; ++i) {
        clXMLNode* text = new clXMLNodeElement;
        text->setElement("t");
        parent->addChild(text);
        parent = text;
    }
    const std::string expected = repeat("t\n", depth);
    EXPECT_TRUE(printed() == expected);
    doc.exportFile(dir.path("chain.xml"));
    // No diff of a million lines.
    EXPECT_TRUE(qor_test::readFile(dir.path("chain.xml")) == qor_test::hostLines(expected));
}

TEST_F(Scale, ReadsMillionsOfUnclosedCommentOpenersInOnePass) {
    parse(repeat("<!--", 2000000) + "<a/>");
    EXPECT_EQ(doc.find("a")->getType(), clXMLNode::TYPE_EMPTY_TAG);
    EXPECT_EQ(static_cast<const clXMLNode*>(doc.root.getFirstChild()->getNextSibling())->getTag(), "<!--");
}

TEST_F(Scale, ReadsMillionsOfOpenersWithoutATagEnd) {
    parse("<b/>" + repeat("<", 4000000));
    EXPECT_EQ(static_cast<const clXMLNode*>(doc.find("b")->getNextSibling())->getTag(), repeat("<", 4000000 - 1));
    parse("<b/>" + repeat("<a ", 2000000));
    EXPECT_NE(doc.find("a"), nullptr);
}

TEST_F(Scale, ReadsATagHoldingMillionsOfSpacesOrAttributes) {
    parse("<a" + repeat(" \t\r\n", 1000000) + "b = \"1\"/>");
    const clXMLNode* a = doc.find("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getAttribute(), (clXMLNode::tyAttributeList{{"b", "1"}}));

    parse("<a" + repeat(" k", 2000000) + " b='1'/>");
    a = doc.find("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getAttribute().size(), 2000001u);
    EXPECT_EQ(a->getAttribute().back(), (clXMLNode::tyAttribute{"b", "1"}));
}

// Each of these makes every item search to the end of the text for an end
// it never finds, unless what one search found missing is remembered.
TEST_F(Scale, ReadsMillionsOfItemsWhoseEndIsMissingInOnePass) {
    // Every tag's walk meets a '<' only outside quotes and ends inside one.
    parse(repeat("<a \">\" ", 1000000) + "\"");
    EXPECT_EQ(doc.find("a")->getAttribute(), (clXMLNode::tyAttributeList{{"\"", ""}}));
    for (const std::string item : {"<!x[>", "<!DOCTYPE a [>", "<![CDATA[>"}) {
        parse(repeat(item, 1000000));
        EXPECT_EQ(doc.find(item)->getType(), clXMLNode::TYPE_ELEMENT) << item;
    }
}

}  // namespace
