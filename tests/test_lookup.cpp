#include <gtest/gtest.h>

#include "xml_fixture.h"

namespace {

using Lookup = qor_test::XmlFixture;
using qor::utility::clXMLNode;

TEST_F(Lookup, FindsTheFirstNodeInDocumentOrder) {
    parse("<a><swf v=\"1\"/></a><swf v=\"2\"><swf v=\"3\"/></swf>");
    ASSERT_NE(doc.find("swf"), nullptr);
    EXPECT_EQ(doc.find("swf")->searchAttribute("v")->second, "1");
    parse("<swf v=\"outer\"><swf v=\"inner\"/></swf>");
    EXPECT_EQ(doc.find("swf")->searchAttribute("v")->second, "outer");
}

TEST_F(Lookup, ComparesWholeKeysExactly) {
    parse("<swf/>");
    for (const char* key : {"SWF", " swf", "sw", "a/swf"}) EXPECT_EQ(doc.find(key), nullptr) << key;
    EXPECT_NE(doc.find("swf"), nullptr);
}

TEST_F(Lookup, MatchesTextAndCommentsAndDeclarationsByTheirKeys) {
    parse("<?xml version=\"1.0\"?><!--swf--><t>swf</t><swf/>");
    EXPECT_EQ(doc.find("xml")->getType(), clXMLNode::TYPE_DECLARATION);
    EXPECT_EQ(doc.find("swf")->getType(), clXMLNode::TYPE_COMMENT);
    parse("<t>swf</t><swf/>");
    EXPECT_EQ(doc.find("swf")->getType(), clXMLNode::TYPE_ELEMENT);
}

TEST_F(Lookup, TheEmptyNameFindsTheRoot) {
    EXPECT_EQ(doc.find(""), &doc.root);
    EXPECT_EQ(doc.find("swf"), nullptr);
    parse("text<a/>");
    EXPECT_EQ(doc.getElement(""), "text");
    parse("<a/>");
    EXPECT_EQ(doc.getElement(""), "");
}

TEST_F(Lookup, GetElementReadsOnlyTheFirstChildsText) {
    parse("<version>10</version><e/><c><!--x-->text</c><two>a<b/>b</two><empty></empty>");
    EXPECT_EQ(doc.getElement("version"), "10");
    EXPECT_EQ(doc.getElement("two"), "a");
    const std::string& miss = doc.getElement("missing");
    EXPECT_EQ(miss, "");
    for (const char* key : {"e", "c", "empty"}) EXPECT_EQ(&doc.getElement(key), &miss) << key;
}

TEST_F(Lookup, ConstAndMutableFindAgree) {
    parse("<a><b/></a>");
    const qor::utility::clXML& constant = doc;
    EXPECT_EQ(constant.find("b"), doc.find("b"));
    doc.find("b")->setAttribute({{"k", "v"}});
    EXPECT_EQ(constant.find("b")->getAttribute().size(), 1u);
}

// findTag passes over text, comments and instructions of the name; a
// node's children come as nodes, in order, to change or to read.
TEST_F(Lookup, FindsTagsAndWalksChildren) {
    parse("<?swf v=\"0\"?><!--swf--><t>swf</t><a><swf v=\"1\"/></a><swf v=\"2\"></swf>");
    ASSERT_NE(doc.findTag("swf"), nullptr);
    EXPECT_EQ(doc.findTag("swf")->searchAttribute("v")->second, "1");
    EXPECT_EQ(doc.findTag("t")->getType(), clXMLNode::TYPE_TAG);
    EXPECT_EQ(doc.findTag("SWF"), nullptr);
    EXPECT_EQ(doc.findTag(""), nullptr);
    const qor::utility::clXML& constant = doc;
    EXPECT_EQ(constant.findTag("swf"), doc.findTag("swf"));

    std::string keys;
    for (const clXMLNode& child : constant.root.getChildren()) keys += child.getTag() + ',';
    EXPECT_EQ(keys, "swf,swf,t,a,swf,");
    for (clXMLNode& child : doc.findTag("a")->getChildren()) child.setTag("b");
    EXPECT_EQ(tree(), "P[swf] [v=0]\nC[swf]\nT[t]\n  D[swf]\nT[a]\n  S[b] [v=1]\nT[swf] [v=2]\n");
    EXPECT_TRUE(doc.findTag("b")->getChildren().empty());
}

}  // namespace
