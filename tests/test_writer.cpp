#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "host_lines.h"
#include "xml_fixture.h"

namespace {

using qor::utility::clXMLNode;
using qor::utility::clXMLNodeComment;
using qor::utility::clXMLNodeDeclaration;
using qor::utility::clXMLNodeElement;
using qor::utility::clXMLNodeEmptyTag;
using qor::utility::clXMLNodeTag;

template <class Kind>
Kind* node(clXMLNode* parent, const std::string& key, const clXMLNode::tyAttributeList& attributes = {}) {
    Kind* n = new Kind;
    n->setTag(key);
    n->setAttribute(attributes);
    parent->addChild(n);
    return n;
}

template <class Kind>
std::unique_ptr<Kind> loose(const std::string& key, const clXMLNode::tyAttributeList& attributes = {}) {
    std::unique_ptr<Kind> n(new Kind);
    n->setTag(key);
    n->setAttribute(attributes);
    return n;
}

class Writer : public qor_test::XmlFixture {
protected:
    std::string printOf(const clXMLNode& n, int width) {
        std::ostringstream out;
        n.print(&out, width);
        return out.str();
    }

    std::string exported() {
        const std::string path =
            (std::filesystem::temp_directory_path() /
             (std::string("qor_writer_") + ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                .string();
        doc.exportFile(path);
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        std::remove(path.c_str());
        return bytes;
    }
};

TEST_F(Writer, WritesTheWorkedExample) {
    node<clXMLNodeDeclaration>(&doc.root, "xml", {{"version", "1.0"}, {"encoding", "UTF-8"}});
    node<clXMLNodeComment>(&doc.root, " movie header ");
    clXMLNode* swf = node<clXMLNodeTag>(&doc.root, "swf", {{"version", "10"}, {"note", ""}});
    node<clXMLNodeEmptyTag>(swf, "FileAttributes", {{"allowABC", "1"}, {"hidden", ""}});
    clXMLNode* title = node<clXMLNodeTag>(swf, "Title");
    node<clXMLNodeElement>(title, "Hello");
    const std::string expected =
        "  <xml version=\"1.0\" encoding=\"UTF-8\">\n"
        "  <!-- movie header -->\n"
        "  <swf version=\"10\" note=\"\">\n"
        "    <FileAttributes allowABC=\"1\" hidden/>\n"
        "    <Title>\n"
        "Hello\n"
        "    </Title>\n"
        "  </swf>\n";
    EXPECT_EQ(expected.size(), 174u);
    EXPECT_EQ(printed(), expected);
    EXPECT_EQ(exported(), qor_test::hostLines(expected));  // 182 bytes where newlines are CR LF
}

TEST_F(Writer, WritesNothingForAnEmptyDocumentAndEmptiesTheFile) {
    EXPECT_EQ(printed(), "");
    EXPECT_EQ(exported(), "");
    doc.exportFile("/nonexistent-dir/x.xml");  // silently writes nothing
}

TEST_F(Writer, NeverWritesAnOpeningTagAsSelfClosing) {
    clXMLNodeTag a;
    a.setTag("a");
    EXPECT_EQ(printOf(a, 2), "  <a>\n  </a>\n");
    EXPECT_EQ(printOf(a, -4), "<a>\n</a>\n");
}

TEST_F(Writer, WritesEmptyValuesByEachKindsRule) {
    const clXMLNode::tyAttributeList attributes{{"e", ""}, {"", ""}, {"/", ""}};
    EXPECT_EQ(printOf(*loose<clXMLNodeTag>("t", attributes), 0), "<t e=\"\" =\"\" /=\"\">\n</t>\n");
    EXPECT_EQ(printOf(*loose<clXMLNodeEmptyTag>("s", attributes), 0), "<s e  //>\n");
    EXPECT_EQ(printOf(*loose<clXMLNodeDeclaration>("d", attributes), 0), "<d e  />\n");
}

TEST_F(Writer, WritesBytesUnescapedAndTextFlushLeft) {
    parse("<a v=\"<&'\"><b>  x &amp; \"z\"\r\n\t</b></a>");
    EXPECT_EQ(printed(),
              "  <a v=\"<&'\">\n"
              "    <b>\n"
              "x &amp; \"z\"\r\n\t\n"
              "    </b>\n"
              "  </a>\n");
    clXMLNodeElement text;
    text.setElement("  <&\"\r\n");
    EXPECT_EQ(printOf(text, 8), "  <&\"\r\n\n");
}

TEST_F(Writer, WritesCommentsAsStored) {
    EXPECT_EQ(printOf(*loose<clXMLNodeComment>(""), 2), "  <!---->\n");
    EXPECT_EQ(printOf(*loose<clXMLNodeComment>("a", {{"x", "1"}}), 0), "<!--a-->\n");
}

TEST_F(Writer, IndentsChildrenOfEveryKindAndOfPlainNodes) {
    clXMLNode* text = node<clXMLNodeElement>(&doc.root, "t");
    node<clXMLNodeEmptyTag>(text, "under-text");
    clXMLNode* declaration = node<clXMLNodeDeclaration>(&doc.root, "d");
    node<clXMLNodeComment>(declaration, "under-declaration");
    clXMLNode* plain = node<clXMLNode>(&doc.root, "ignored", {{"x", "1"}});
    node<clXMLNodeEmptyTag>(plain, "under-plain");
    EXPECT_EQ(printed(),
              "t\n"
              "    <under-text/>\n"
              "  <d>\n"
              "    <!--under-declaration-->\n"
              "    <under-plain/>\n");
}

TEST_F(Writer, RoundTripsAParsedDocumentToItsLayout) {
    parse("<?xml version=\"1.0\"?>\r\n<swf version=\"8\">\r\n  <a b=\"\" />\r\n  <t>hi</t>\r\n</swf>\r\n");
    EXPECT_EQ(printed(),
              "  <xml version=\"1.0\">\n"
              "  <swf version=\"8\">\n"
              "    <a b //>\n"
              "    <t>\n"
              "hi\n"
              "    </t>\n"
              "  </swf>\n");
}

// A stream that counts flushes, to hold the writer to one per line.
class CountingBuffer : public std::stringbuf {
public:
    int syncs = 0;

protected:
    int sync() override {
        ++syncs;
        return std::stringbuf::sync();
    }
};

TEST_F(Writer, FlushesACallersStreamAtEveryLineEnd) {
    parse("<a><b/>text</a>");
    CountingBuffer buffer;
    std::ostream out(&buffer);
    doc.print(&out);
    EXPECT_EQ(buffer.str(), "  <a>\n    <b/>\ntext\n  </a>\n");
    EXPECT_EQ(buffer.syncs, 4);

    CountingBuffer blocks;  // an export hands over the same bytes unflushed
    std::ostream exported(&blocks);
    doc.exportStream(&exported);
    EXPECT_EQ(blocks.str(), buffer.str());
    EXPECT_EQ(blocks.syncs, 0);
}

}  // namespace
