#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <streambuf>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>

#include "support/child.h"
#endif

#include "support/documents.h"
#include "support/files.h"
#include "xml/writer.h"
#include "xml_fixture.h"

namespace {

using namespace qor_test;
using qor::utility::clXMLNodeComment;
using qor::utility::clXMLNodeDeclaration;
using qor::utility::clXMLNodeElement;
using qor::utility::clXMLNodeEmptyTag;
using qor::utility::clXMLNodeTag;

template <class Kind>
std::unique_ptr<Kind> loose(const std::string& key, const clXMLNode::tyAttributeList& attributes = {}) {
    std::unique_ptr<Kind> n(new Kind);
    n->setTag(key);
    n->setAttribute(attributes);
    return n;
}

template <class Kind>
Kind* node(clXMLNode* parent, const std::string& key, const clXMLNode::tyAttributeList& attributes = {}) {
    Kind* n = loose<Kind>(key, attributes).release();
    parent->addChild(n);
    return n;
}

std::string printOf(const clXMLNode& n, int width) {
    std::ostringstream out;
    n.print(&out, width);
    return out.str();
}

class Writer : public qor_test::XmlFixture {
protected:
    std::string exported() {
        EXPECT_TRUE(doc.exportFile(dir.path("export.xml")));
        return qor_test::readFile(dir.path("export.xml"));
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
        "  <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "  <!-- movie header -->\n"
        "  <swf version=\"10\" note=\"\">\n"
        "    <FileAttributes allowABC=\"1\" hidden=\"\"/>\n"
        "    <Title>Hello</Title>\n"
        "  </swf>\n";
    EXPECT_EQ(expected.size(), 173u);
    EXPECT_EQ(printOf(doc.root, 0), expected);
    // As a document, XML: the declaration starts the text.
    EXPECT_EQ(printed(), expected.substr(2));
    EXPECT_EQ(exported(), qor_test::hostLines(expected.substr(2)));  // 177 bytes where newlines are CR LF
}

// An export tells whether the file was written whole.
TEST_F(Writer, ExportAnswersFalseWhenTheFileIsNotWritten) {
    parse("<a>x</a>");
    EXPECT_FALSE(doc.exportFile(dir.path("missing/x.xml")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("missing")));
    EXPECT_FALSE(doc.exportFile(dir.path()));  // a directory is no file
#ifndef _WIN32
    // Files that may not grow past 100 bytes: a 400-byte export fails only
    // when the stream's buffer goes out at the close, an 84 KB one on the way.
    for (int levels : {10, 200}) {
        doc.root.removeChildren();
        clXMLNode* parent = &doc.root;
        for (int i = 0; i < levels; ++i) parent = node<clXMLNodeTag>(parent, "level");
        const auto cutShort = [&] {
            const rlimit limit{100, 100};
            std::signal(SIGXFSZ, SIG_IGN);
            return setrlimit(RLIMIT_FSIZE, &limit) != 0 ? 2 : doc.exportFile(dir.path("cut.xml")) ? 1 : 0;
        };
        EXPECT_EQ(qor_test::runChild(cutShort).status, 0) << levels << " levels: a cut-short export answered true";
    }
#endif
}

// What a writer said it would write, set against what it wrote.
void expectSizeOf(const std::string& bytes, qor::utility::writer::clTextSize size, const std::string& what) {
    EXPECT_EQ(size.bytes, bytes.size()) << what;
    EXPECT_EQ(size.newlines, static_cast<std::uintmax_t>(std::count(bytes.begin(), bytes.end(), '\n'))) << what;
}

void expectSizeOfExport(const clXML& doc, const std::string& what) {
    std::ostringstream out;
    doc.exportStream(&out);
    expectSizeOf(out.str(), qor::utility::writer::exportSize(doc), what);
    EXPECT_EQ(qor::utility::writer::exportSize(doc, false).bytes, out.str().size()) << what;
}

// A document is written as XML allows it: a leading byte-order mark bare,
// on a line of its own only when no declaration follows, and the
// declaration that opens the document at the start of its line. A
// node's own print, root's too, keeps the layout.
TEST_F(Writer, WritesTheDocumentsHeadAsXmlAllows) {
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    const std::pair<std::string, std::string> cases[] = {
        {declaration + "\r\n<a/>", declaration + "\n  <a/>\n"},
        {bom + declaration + "<a/>", bom + declaration + "\n  <a/>\n"},
        {bom + "\r\n \t" + declaration + "<a/>", bom + declaration + "\n  <a/>\n"},
        {bom + "\n<a/>", bom + "\n  <a/>\n"},
        {bom + "<!--c-->" + declaration, bom + "\n  <!--c-->\n  " + declaration + "\n"},
        {"<!--c-->" + declaration + "<a/>", "  <!--c-->\n  " + declaration + "\n  <a/>\n"},
        {"<?xml-stylesheet href=\"s\"?><a/>", "  <?xml-stylesheet href=\"s\"?>\n  <a/>\n"},
        {bom + "x<a/>", bom + "x\n  <a/>\n"},
        {"", ""},  // an empty document writes nothing, and its export empties the file
    };
    for (const auto& c : cases) {
        parse(c.first);
        EXPECT_EQ(printed(), c.second) << c.first;
        EXPECT_EQ(exported(), qor_test::hostLines(c.second)) << c.first;
        expectSizeOfExport(doc, c.first);
    }
    parse(bom + declaration);
    EXPECT_EQ(printOf(doc.root, 0), bom + "\n  " + declaration + "\n");
}

// Every tag writes each attribute as name="value", an empty value too; an
// instruction writes a name with an empty value bare. One with neither
// name nor value is left out. An empty opening tag is written on one line,
// never self-closing, and a comment as stored.
TEST_F(Writer, WritesEveryAttributeQuotedInEveryKind) {
    const clXMLNode::tyAttributeList attributes{{"e", ""}, {"", ""}, {"", "v"}, {"q", "say \"hi\""}, {"a", "it's"}};
    const std::string written = " e=\"\" =\"v\" q='say \"hi\"' a=\"it's\"";
    const struct {
        std::unique_ptr<clXMLNode> node;
        int width;
        std::string printed;
    } cases[] = {
        {loose<clXMLNodeTag>("t", attributes), 0, "<t" + written + "></t>\n"},
        {loose<clXMLNodeEmptyTag>("s", attributes), 0, "<s" + written + "/>\n"},
        {loose<clXMLNodeDeclaration>("d", attributes), 0, "<?d e =\"v\" q='say \"hi\"' a=\"it's\"?>\n"},
        {loose<clXMLNodeDeclaration>("xml"), 2, "  <?xml?>\n"},
        {loose<clXMLNodeTag>("a"), 2, "  <a></a>\n"},
        {loose<clXMLNodeTag>("a"), -4, "<a></a>\n"},
        {loose<clXMLNodeComment>(""), 2, "  <!---->\n"},
        {loose<clXMLNodeComment>("a", {{"x", "1"}}), 0, "<!--a-->\n"},
        {loose<clXMLNodeElement>("  <&\"\r\n"), 8, "  <&\"\r\n\n"},  // text as it is, at any width
    };
    for (const auto& c : cases) EXPECT_EQ(printOf(*c.node, c.width), c.printed);
}

// The quote is chosen from the bytes as they are copied, a word at a
// time: a '"' anywhere in a value of any length, and only a '"' (not a
// byte one bit away from it), sends the value between '\''; with a '\''
// too, it stays between '"' and the '"' is written "&quot;", as written
// and as measured.
TEST_F(Writer, QuotesEveryValueByWhatItHolds) {
    const std::string filler = "\xA2#!v";
    for (std::size_t length = 0; length <= 40; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {  // at == length: no '"'
            std::string value, escaped;
            for (std::size_t i = 0; i < length; ++i) {
                value += i == at ? '"' : filler[i % 4];
                escaped += i == at ? std::string("&quot;") : std::string(1, filler[i % 4]);
            }
            const std::string quote = at < length ? "'" : "\"";
            EXPECT_EQ(printOf(*loose<clXMLNodeEmptyTag>("s", {{"a", value}}), 0),
                      "<s a=" + quote + value + quote + "/>\n")
                << length << ' ' << at;
            const auto both = loose<clXMLNodeEmptyTag>("s", {{"a", value + "'"}});
            EXPECT_EQ(printOf(*both, 0), "<s a=\"" + escaped + "'\"/>\n") << length << ' ' << at;
            EXPECT_EQ(qor::utility::writer::printedSize(*both, 0).bytes, printOf(*both, 0).size()) << length << ' ' << at;
        }
    }
}

// Text that is an element's only content is written between its tags as
// it is: there every byte, white space too, is content. Text beside other
// nodes goes on lines of its own, flush left.
TEST_F(Writer, WritesTextOnlyElementsOnOneLineAndOtherTextFlushLeft) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a v=\"<&'\"><b>  x &amp; \"z\"\r\n\t</b></a>",
         "  <a v=\"<&'\">\n    <b>x &amp; \"z\"\r\n\t</b>\n  </a>\n"},
        {"<xmp:CreateDate>2020-07-28T11:57:36+02:00</xmp:CreateDate>",
         "  <xmp:CreateDate>2020-07-28T11:57:36+02:00</xmp:CreateDate>\n"},
        {"<t>ends in white space \t\r\n </t>", "  <t>ends in white space \t\r\n </t>\n"},
        {"<e></e><f x=\"1\">\r\n  </f>", "  <e></e>\n  <f x=\"1\"></f>\n"},
        {"<c>\n <![CDATA[ <b> ]]>\n</c>", "  <c><![CDATA[ <b> ]]></c>\n"},
        {"<m>a<b/>c</m>", "  <m>\na\n    <b/>\nc\n  </m>\n"},
        {"<m>a<!--c--></m>", "  <m>\na\n    <!--c-->\n  </m>\n"},
        {"<m>a<![CDATA[b]]></m>", "  <m>\na\n<![CDATA[b]]>\n  </m>\n"},
        // A parsed document round trips to its layout.
        {"<?xml version='1.0'?>\r\n<!DOCTYPE swf>\r\n<swf version=\"8\">\r\n  <a b=\"\" c = 'x\"y' />\r\n"
         "  <t>hi<![CDATA[ <b> ]]></t>\r\n\t<?pi x?>\r\n</swf>\r\n",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE swf>\n  <swf version=\"8\">\n    <a b=\"\" c='x\"y'/>\n    <t>\nhi\n"
         "<![CDATA[ <b> ]]>\n    </t>\n\t\n    <?pi x?>\n  </swf>\n"},
    };
    for (const auto& c : cases) {
        parse(c.first);
        EXPECT_EQ(printed(), c.second) << c.first;
    }
    // Character data with a node under it (built by hand) is not a text.
    clXMLNodeTag tag;
    tag.setTag("t");
    node<clXMLNodeComment>(node<clXMLNodeElement>(&tag, "x"), "c");
    EXPECT_EQ(printOf(tag, 0), "<t>\nx\n    <!--c-->\n</t>\n");
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
              "  <?d?>\n"
              "    <!--under-declaration-->\n"
              "    <under-plain/>\n");
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

TEST_F(Writer, TellsTheSizeOfWhatItWrites) {
    // Each case's name, and how it builds doc.
    auto parsed = [this](const std::string& text) { return [this, text] { parse(text); }; };
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"empty", parsed("")},
        {"declarations", parsed("<?xml version=\"1.0\" encoding=\"UTF-8\"?><?e a=\"\" b?><!DOCTYPE x [\n]>")},
        {"quotes", parsed("<a b='\"' c=\"'\"/><d e=\"\" =''><![CDATA[\"\n]]></d>")},
        {"comments", parsed("<!-- one\ntwo\r\n --><!----><a><!--\n--></a><!-- open")},
        {"values", parsed("<t a=\"\" b=\"x\" c><s a=\"\" b=\"y\nz\"/><s/><?d a=\"\" b=\"\n\"?></t>")},
        {"text", parsed("<a>one\ntwo\r\nthree\r</a>\n\r\n<b>\r</b>")},
        {"newline in a name", parsed("<a\nb x=\"1\">t</a\nb><c\n/>")},
        {"deep", parsed(repeat("<d k=\"v\">", 2000) + "x" + repeat("</d>", 2000))},
        {"both quotes",
         [this] {
             doc.root.removeChildren();
             node<clXMLNodeEmptyTag>(&doc.root, "s", {{"q", "'\"" + std::string(40, '"')}, {"r", "\"'\n"}});
             node<clXMLNodeDeclaration>(&doc.root, "d", {{"q", "\"'"}});
         }},
        {"built by hand",
         [this] {
             doc.root.removeChildren();
             clXMLNode* tag = node<clXMLNodeTag>(&doc.root, "t", {{"a", ""}});
             clXMLNode* plain = node<clXMLNode>(tag, "plain", {{"x", "1"}});
             node<clXMLNodeElement>(plain, "deeper\n");
             clXMLNode* empty = node<clXMLNodeEmptyTag>(tag, "s", {{"b", ""}, {"c", "2"}});
             node<clXMLNodeTag>(empty, "under-empty");
             node<clXMLNodeComment>(node<clXMLNodeElement>(empty, "x\ny"), "c\n", {{"n", "\n"}});
             node<clXMLNodeDeclaration>(&doc.root, "", {{"", ""}, {"", "\"\n"}, {"n\n", ""}});
         }},
    };
    for (const auto& [name, build] : cases) {
        build();
        expectSizeOfExport(doc, name);
    }
}

TEST_F(Writer, TellsTheSizeOfASubtreeAtAnyWidth) {
    parse("<a x=\"1\"><b>t\n</b><c/></a>");
    const clXMLNode& a = *static_cast<const clXMLNode*>(doc.root.getFirstChild());
    for (int width : {-5, 0, 3, 40}) {
        expectSizeOf(printOf(a, width), qor::utility::writer::printedSize(a, width), std::to_string(width));
    }
}

TEST_F(Writer, TellsTheSizeOfEveryCorpusFile) {
    const std::filesystem::path source = std::filesystem::path(__FILE__).parent_path().parent_path();
    std::vector<std::filesystem::path> files{source / "examples" / "movie.xml"};
    for (const auto& entry : std::filesystem::directory_iterator(source / "fuzz" / "corpus")) {
        files.push_back(entry.path());
    }
    ASSERT_GT(files.size(), 1u);
    for (const auto& file : files) {
        doc.load(file.string());
        expectSizeOfExport(doc, file.string());
    }
}

// The kinds' rules, counting the lines they are asked for, to see the walk stop.
struct CountedRules : qor::utility::writer::clKindRules {
    static long formatted;
    bool opening(const clXMLNode& node, qor::utility::writer::clLines& line, int width) const {
        ++formatted;
        return clKindRules::opening(node, line, width);
    }
};
long CountedRules::formatted = 0;

// A disk that fills up: takes the first room bytes, then refuses every
// write, noting how many lines had been formatted when it first refused.
class FullDisk : public std::streambuf {
public:
    explicit FullDisk(std::streamsize bytes) : room(bytes) {}
    long formattedAtRefusal = -1;

protected:
    std::streamsize xsputn(const char*, std::streamsize count) override {
        const std::streamsize taken = std::min(count, room);
        room -= taken;
        if (taken < count && formattedAtRefusal < 0) formattedAtRefusal = CountedRules::formatted;
        return taken;
    }
    int_type overflow(int_type c) override {
        const char byte = traits_type::to_char_type(c);
        return traits_type::eq_int_type(c, traits_type::eof()) || xsputn(&byte, 1) == 1 ? traits_type::not_eof(c)
                                                                                          : traits_type::eof();
    }

private:
    std::streamsize room;
};

TEST_F(Writer, StopsAtTheFirstWriteTheStreamRefuses) {
    // 3000 levels write 18 MB; the disk takes 100 KB of it.
    clXMLNode* parent = &doc.root;
    for (int i = 0; i < 3000; ++i) parent = node<clXMLNodeTag>(parent, "level");
    // Line by line, as print writes, and in blocks, as an export does.
    for (const bool flushEachLine : {true, false}) {
        CountedRules::formatted = 0;
        FullDisk disk(100000);
        std::ostream out(&disk);
        qor::utility::writer::clLines text;
        qor::utility::writer::write(doc.root, text, &out, 0, flushEachLine, CountedRules());
        EXPECT_TRUE(out.bad()) << flushEachLine;
        EXPECT_GT(disk.formattedAtRefusal, 0) << flushEachLine;
        EXPECT_EQ(CountedRules::formatted, disk.formattedAtRefusal) << flushEachLine;

        CountedRules::formatted = 0;  // a stream failed already gets nothing
        qor::utility::writer::write(doc.root, text, &out, 0, flushEachLine, CountedRules());
        EXPECT_EQ(CountedRules::formatted, 0) << flushEachLine;
    }
}

}  // namespace
