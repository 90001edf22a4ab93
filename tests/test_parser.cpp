#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <tuple>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "support/child.h"
#endif

#include "support/files.h"
#include "xml_fixture.h"

namespace {

using namespace qor_test;

// Each text, parsed alone, and the tree it must give.
struct ParseCase {
    std::string text;
    std::string tree;
};

class Parser : public XmlFixture {
protected:
    void expectTrees(const std::vector<ParseCase>& cases) {
        for (const ParseCase& c : cases) {
            parse(c.text);
            EXPECT_EQ(tree(), c.tree) << c.text;
        }
    }
};

// The '/' or '?' just before the '>' ends a name whatever the kind; only
// the kind's own byte is taken off the attributes.
TEST_F(Parser, EndsANameAtTheByteBeforeTheTagEnd) {
    expectTrees({
        {"<?xml?>", "P[xml]\n"},
        {"<?pi a=\"1\" ?>", "P[pi] [a=1]\n"},
        {"<?pi a=b?>", "P[pi] [a=b]\n"},
        {"<?>", "P[]\n"},
        {"<?a/>", "P[a] [/=]\n"},
        {"<a?>", "T[a] [?=]\n"},
        {"<a/>", "S[a]\n"},
        // A self-closing tag is told by the slash before its end.
        {"<a/><b /><c d/><e f=\"1\"/><g f=\"1\" /><h/ ><i j=/><k l= />",
         "S[a]\nS[b]\nS[c] [d=]\nS[e] [f=1]\nS[g] [f=1]\nT[h/]\n  S[i] [j=]\n  S[k] [l=]\n"},
    });
}

// A processing instruction ends at its first "?>", whatever its data holds.
TEST_F(Parser, EndsAnInstructionAtItsFirstEnd) {
    expectTrees({
        {"<?php if ($a > 1) ?><a/>", "P[php] [if=] [($a=] [>=] [1)=]\nS[a]\n"},
        {"<?pi don't?><a b='1'/>", "P[pi] [don't=]\nS[a] [b=1]\n"},
        {"<?pi a=\"?>\"?><b/>", "P[pi] [a=]\nD[\"?>]\nS[b]\n"},
        {"<?pi a=\"x>y\"", "P[pi]\n"},  // no "?>": as any other tag
        // The usual declaration, a sibling of the root.
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<swf version=\"8\">\n</swf>\n",
         "P[xml] [version=1.0] [encoding=UTF-8]\nT[swf] [version=8]\n"},
    });
}

// Character data is kept as it stands, a byte-order mark and text before
// the first markup among it; only spaces and line breaks before it go.
TEST_F(Parser, TrimsOnlySpacesAndLineBreaksBeforeCharacterData) {
    expectTrees({
        {"<a>\r\n   hello world \r\n</a>\n\t<b/>\n  \r\n<c/>tail", "T[a]\n  D[hello world \r\n]\nD[\t]\nS[b]\nS[c]\n"},
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?><a/>", "D[\xEF\xBB\xBF]\nP[xml] [version=1.0]\nS[a]\n"},
        {"lead<a/>", "D[lead]\nS[a]\n"},
    });
}

// A closing tag closes the innermost open tag, whatever its name, and none
// while none is open; markup right after a tag is read as any other.
TEST_F(Parser, ClosesTheInnermostTagWhateverTheClosingName) {
    expectTrees({
        {"<a><b></a>x<c/></zzz><d/>", "T[a]\n  T[b]\n  D[x]\n  S[c]\nS[d]\n"},
        {"</x></y><a/>", "S[a]\n"},
        {"<a><b/></a><c>x</c>", "T[a]\n  S[b]\nT[c]\n  D[x]\n"},
    });
}

// Space, tab, LF and CR separate alike, any number of them, and may stand
// around '='; they never make an attribute of their own.
TEST_F(Parser, ReadsAttributesWhateverTheWhiteSpaceAroundThem) {
    // Past the separators the tag walk keeps, the pieces are cut by a
    // second walk; both must give the same pieces.
    std::string manyAttributes = "<a", manyRead = "S[a]";
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(i);
        manyAttributes += i % 5 == 4 ? " e" + n : " k" + n + "=\"v " + n + "\"";
        manyRead += i % 5 == 4 ? " [e" + n + "=]" : " [k" + n + "=v " + n + "]";
    }
    expectTrees({
        {"<a  b=\"1\">", "T[a] [b=1]\n"},
        {"<a b=\"1\" >", "T[a] [b=1]\n"},
        {"<a b = \"1\">", "T[a] [b=1]\n"},
        {"<a\tb=\"1\"/>", "S[a] [b=1]\n"},
        {"<a\r\n    b=\"1\"\r\n\tc\t=\t'2'\n/>", "S[a] [b=1] [c=2]\n"},
        {"<a b=\"1\"c='2'>", "T[a] [b=1] [c=2]\n"},
        {"<a\n>", "T[a]\n"},
        {manyAttributes + " />", manyRead + "\n"},
    });
}

TEST_F(Parser, ReadsValuesInEitherQuoteOrNone) {
    expectTrees({
        {"<a u=1 s='x' e=\"\" f='' n/>", "S[a] [u=1] [s=x] [e=] [f=] [n=]\n"},
        {"<a s='say \"hi\"' d=\"it's\"/>", "S[a] [s=say \"hi\"] [d=it's]\n"},
        {"<a b=\"x y\" c='p>q' d=\"&lt;&amp;\"/><z/>", "S[a] [b=x y] [c=p>q] [d=&lt;&amp;]\nS[z]\n"},
        {"<a q=\"a=b\" =\"v\" =>", "T[a] [q=a=b] [=v] [=]\n"},
        {"<a x=1=2 y=>", "T[a] [x=1=2] [y=]\n"},
        {"<swf version='8'>", "T[swf] [version=8]\n"},
        // Malformed: quotes in names and unquoted values are bytes of them.
        {"<a m= q=\"a=b\"tail w=\"x\"y\"/>", "S[a] [m=q=\"a=b\"tail] [w=x] [y\"=]\n"},
        {"<a b\"c=\"1\"/>", "S[a] [b\"c=1]\n"},
    });
}

// A quoted value still open at a '<' or at the end of the text cannot be
// in well-formed XML; the item then ends at its first '>' as ever.
TEST_F(Parser, EndsATagWithAnUnclosedValueAtItsFirstTagEnd) {
    expectTrees({
        {"<a b=\"x>y<c/>", "T[a] [b=x]\n  D[y]\n  S[c]\n"},
        {"<a b=\"x<c/>", "S[a] [b=x<c]\n"},
        {"<a b='x>y", "T[a] [b=x]\n"},
        {"<a b=\"x>y\" c", "T[a]\n"},  // no '>' outside the quotes: the tag runs to the end
        {"<a b=\"1\"><c d=\"x>\"y\" e=\"<\"/>", "T[a] [b=1]\n  T[c] [d=x]\n    D[\"y\" e=\"]\n    S[\"]\n"},
    });
}

// CDATA sections and document types are kept whole, as character data,
// and open no level; nothing inside them is read as markup.
TEST_F(Parser, KeepsOtherBangMarkupWholeAsCharacterData) {
    expectTrees({
        {"<!DOCTYPE swf><swf/>", "D[<!DOCTYPE swf>]\nS[swf]\n"},
        {"<!DOCTYPE swf [\n<!ENTITY e \"v\">\n<!ELEMENT swf ANY>\n] ><swf/>",
         "D[<!DOCTYPE swf [\n<!ENTITY e \"v\">\n<!ELEMENT swf ANY>\n] >]\nS[swf]\n"},
        {"<a> x <![CDATA[<b>&amp;]]> y <![CDATA[]]]]><![CDATA[>]]></a>",
         "T[a]\n  D[x ]\n  D[<![CDATA[<b>&amp;]]>]\n  D[y ]\n  D[<![CDATA[]]]]>]\n  D[<![CDATA[>]]>]\n"},
        // Without "]]>" a section is read as any other "<!" item.
        {"<![CDATA[x>y<a/>", "D[<![CDATA[x>]\nD[y]\nS[a]\n"},
        // A document type ends where XML ends it, whatever its literals,
        // comments and instructions hold.
        {"<!DOCTYPE a SYSTEM \"x[1].dtd\"><a><![CDATA[x]]></a>",
         "D[<!DOCTYPE a SYSTEM \"x[1].dtd\">]\nT[a]\n  D[<![CDATA[x]]>]\n"},
        {"<!DOCTYPE a PUBLIC 'p' 'a>b'><a/>", "D[<!DOCTYPE a PUBLIC 'p' 'a>b'>]\nS[a]\n"},
        {"<!DOCTYPE a [<!ENTITY e \"]>\"><!-- ]> ' --><?pi ]> \"?>] ><a/>",
         "D[<!DOCTYPE a [<!ENTITY e \"]>\"><!-- ]> ' --><?pi ]> \"?>] >]\nS[a]\n"},
        // A '[' with no "]" and '>' after it: the item ends at its first '>'.
        {"<!DOCTYPE a [ x><a/>", "D[<!DOCTYPE a [ x>]\nS[a]\n"},
        {"<!DOCTYPE a \"x><a/>", "D[<!DOCTYPE a \"x>]\nS[a]\n"},
        {"<!x [ ><b/>]\t>", "D[<!x [ ><b/>]\t>]\n"},
        {"<!x [ y> <b/>", "D[<!x [ y>]\nS[b]\n"},
        {"<a/><!DOCTYPE a", "S[a]\nD[<!DOCTYPE a]\n"},
        {"<a/><!", "S[a]\nD[<!]\n"},
        // A comment is kept verbatim, never looked into, and no opener
        // closes itself; one left open is character data up to the next
        // markup, from its opener on, and earlier text is not repeated.
        {"<!-- <a> \"q\" --><!---->-->after<b/>", "C[ <a> \"q\" ]\nC[]\nD[-->after]\nS[b]\n"},
        {"<!-->x--><a/>", "C[>x]\nS[a]\n"},
        {"<a/>  \n<!-- open <b/>", "S[a]\nD[<!-- open ]\nS[b]\n"},
        {"<a/>before<!--x<!--y<b/>", "S[a]\nD[before]\nD[<!--x]\nD[<!--y]\nS[b]\n"},
    });
}

// An item, a tag left open among them, runs to the end of the text where
// nothing ends it first.
TEST_F(Parser, ReadsAnItemThatRunsToTheEndOfTheFile) {
    expectTrees({
        {"<a/><b", "S[a]\nT[b]\n"},
        {"<b/", "S[b]\n"},
        {"<", "T[]\n"},
        {"<?pi", "P[pi]\n"},
        {"<a b=\"1\" /", "S[a]\n"},
        {"<a b=\"1\" c", "T[a]\n"},
        {"<a\tb", "T[a]\n"},
        {"<?pi?", "P[pi]\n"},
        {"<a b=\"1\">", "T[a] [b=1]\n"},  // the attributes of a tag closed by the last byte
        {"<a><b><c/>", "T[a]\n  T[b]\n    S[c]\n"},
    });
}

TEST_F(Parser, MakesNothingOfBlankOrMarkupFreeText) {
    for (const char* text : {"", "   \r\n  \n", "just text, no markup"}) {
        parse(text);
        EXPECT_FALSE(doc.isLoad()) << text;
    }
    parse("<");
    EXPECT_TRUE(doc.isLoad());
}

TEST_F(Parser, ReadsAttributeTextOnItsOwn) {
    std::string name = "old", value = "old";
    const std::string piece = " \tk = 'v=w'x y";
    doc.parseAttribute(&name, &value, piece.data(), piece.data() + piece.size());
    EXPECT_EQ(name, "k");
    EXPECT_EQ(value, "v=w");
    doc.parseAttribute(nullptr, &value, piece.data(), piece.data() + piece.size());
    EXPECT_EQ(value, "v=w");
    const std::string blank = " \r\n";
    doc.parseAttribute(&name, &value, blank.data(), blank.data() + blank.size());
    EXPECT_EQ(name + value, "");

    clXMLNode::tyAttribute pairs[4] = {{"", ""}, {"", ""}, {"", ""}, {"kept", "as it was"}};
    doc.parseAttributes(pairs, 4, piece.data(), piece.data() + piece.size());
    EXPECT_EQ(clXMLNode::tyAttributeList(pairs, pairs + 4),
              (clXMLNode::tyAttributeList{{"k", "v=w"}, {"x", ""}, {"y", ""}, {"kept", "as it was"}}));
    doc.parseAttributes(pairs, 1, blank.data(), blank.data());
    doc.parseAttributes(nullptr, 1, piece.data(), piece.data() + piece.size());
    // An open quote runs to the end of the text.
    const std::string open = "a=\"1 b=2";
    doc.parseAttributes(pairs, 2, open.data(), open.data() + open.size());
    EXPECT_EQ(pairs[0], (clXMLNode::tyAttribute{"a", "1 b=2"}));
}

TEST_F(Parser, ReportsTheEndOfEachItem) {
    const std::string text = std::string("<a b=\"1\">text</a>") + '\0';
    // Bytes, and the kind, key and end of the item they start with.
    const std::tuple<std::string, clXMLNode::enType, std::string, std::size_t> cases[] = {
        {text, clXMLNode::TYPE_TAG, "a", 9},
        // The byte at start is taken for the '<' and never read, nor any before it.
        {">>" + std::string(100, 'x'), clXMLNode::TYPE_TAG, "", 2},
        // A CDATA section is one item, read as character data.
        {std::string("<![CDATA[<a>]]><b/>") + '\0', clXMLNode::TYPE_ELEMENT, "<![CDATA[<a>]]>", 15},
    };
    for (const auto& [bytes, type, key, end] : cases) {
        std::size_t next = 0;
        const std::unique_ptr<clXMLNode> item(doc.parseTag(&next, bytes, 0));
        ASSERT_NE(item, nullptr) << bytes;
        EXPECT_EQ(item->getType(), type) << bytes;
        EXPECT_EQ(item->getTag(), key) << bytes;
        EXPECT_EQ(next, end) << bytes;
    }

    std::size_t next = 0;
    EXPECT_EQ(doc.parseTag(&next, text, 13), nullptr);
    EXPECT_EQ(next, 17u);
    EXPECT_EQ(doc.parseTag(nullptr, text, 0), nullptr);
    next = 5;
    EXPECT_EQ(doc.parseTag(&next, text, text.size()), nullptr);  // nothing left to read
    EXPECT_EQ(next, 5u);
}

class Loader : public XmlFixture {
protected:
    std::string write(const std::string& name, const std::string& bytes) {
        qor_test::writeFile(dir.path(name), bytes);
        return dir.path(name);
    }
};

// Every byte of a file, NUL among them; an item left open runs to the end
// of the file, its own last byte and all. (No file is named "nul": on
// Windows that is a device.)
TEST_F(Loader, ReadsAFileByteForByte) {
    const ParseCase cases[] = {
        {std::string("<a>\r\nx\0y\r\n</a>", 14), "N[]\n  T[a]\n    D[" + std::string("x\0y\r\n", 5) + "]\n"},
        {std::string("<a/><b\0", 7), "N[]\n  S[a]\n  T[" + std::string("b\0", 2) + "]\n"},
    };
    for (const ParseCase& c : cases) EXPECT_EQ(qor_test::describe(clXML(write("bytes.xml", c.text)).root), c.tree);
}

TEST_F(Loader, EmptiesTheDocumentWhenAFileDoesNotLoad) {
    // A directory opens as a stream on this host.
    for (const std::string& path : {dir.path("missing.xml"), dir.path(), write("empty.xml", "")}) {
        doc.load(write("m.xml", "<a/>"));
        ASSERT_TRUE(doc.isLoad());
        doc.load(path);
        EXPECT_FALSE(doc.isLoad()) << path;
    }
}

TEST_F(Loader, ReadsALargeFileAsTheSameBytesInMemory) {
    // Large enough that the loader hands parsed pages back many times over.
    std::string bytes = "<?xml version=\"1.0\"?>\n<swf version=\"8\">\n";
    for (int i = 0; bytes.size() < (std::size_t(48) << 20); ++i) {
        bytes += "  <LineTo x=\"" + std::to_string(i) + "\" y=\"-7\"/>\n  <!-- c" + std::to_string(i) + " -->\n";
        if (i % 1000 == 0) bytes += "<data>" + std::string(70000, 'A' + i % 26) + "</data><!-- open ";
    }
    bytes += "</swf>\n";
    clXML loaded(write("large.xml", bytes));
    parse(bytes);
    std::ostringstream fromFile, fromMemory;
    loaded.exportStream(&fromFile);
    doc.exportStream(&fromMemory);
    EXPECT_TRUE(fromFile.str() == fromMemory.str());
    EXPECT_GT(fromFile.str().size(), bytes.size());
}

TEST_F(Loader, ReplacesTheWholeTreeOnEachLoad) {
    doc.load(write("a.xml", "<a/>"));
    doc.load(write("b.xml", "<b/><c/>"));
    EXPECT_EQ(tree(), "S[b]\nS[c]\n");
}


// Text loads as a file of the same bytes does: a trailing NUL is content
// there too, and the document is emptied first.
TEST_F(Loader, LoadsTextAsAFileOfTheSameBytes) {
    const std::string texts[] = {"<a>\r\nx</a>", std::string("<a/><b\0", 7), "", " \r\n", "<!-- c -->"};
    for (const std::string& text : texts) {
        clXML file(write("same.xml", text));
        doc.loadText("<old/>");
        doc.loadText(text);
        EXPECT_EQ(tree(), qor_test::describe(file.root, false)) << text;
        EXPECT_EQ(doc.getLoadResult(), file.getLoadResult()) << text;
    }
}

#ifndef _WIN32
#if !defined(__SANITIZE_ADDRESS__)
// A load of a regular file as large as the address space allows is told
// by its result, in a child whose memory is bounded; the file is sparse.
int loadResultUnderBoundedMemory(const std::string& path) {
    return qor_test::runChild([&] {
        const rlimit size{std::uintmax_t(16) << 30, std::uintmax_t(16) << 30};
        const rlimit memory{std::uintmax_t(512) << 20, std::uintmax_t(512) << 20};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0 || truncate(path.c_str(), off_t(8) << 30) != 0) return 100;
        if (setrlimit(RLIMIT_AS, &memory) != 0) return 101;
        return static_cast<int>(clXML(path).getLoadResult());
    }).status;
}
#endif

// Every way a load ends has a result of its own, and only LOAD_OK leaves
// nodes in the document.
TEST_F(Loader, SaysWhyALoadEnded) {
    const std::string fifo = dir.path("pipe.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string markup = write("m.xml", "<a/>");
    const std::string zeros = dir.path("zero.xml");
    // A node of the endless zero device, made here, which is never read to an end.
    const bool madeDevice = ::mknod(zeros.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0;
    if (!madeDevice) std::cout << "not root: no device is made, and its row loads the pipe\n";
    // What is loaded, how, and the result that tells it.
    const std::tuple<const char*, std::function<void(clXML&)>, clXML::enLoadResult> cases[] = {
        {"a file", [&](clXML& d) { d.load(markup); }, clXML::LOAD_OK},
        {"text", [](clXML& d) { d.loadText("<a/>"); }, clXML::LOAD_OK},
        {"a missing file", [&](clXML& d) { d.load(dir.path("missing.xml")); }, clXML::LOAD_CANNOT_OPEN},
        {"no descriptor", [](clXML& d) { d.load(-1); }, clXML::LOAD_CANNOT_OPEN},
        {"a directory", [&](clXML& d) { d.load(dir.path()); }, clXML::LOAD_NOT_READABLE},
        {"a named pipe by path, refused without waiting for a writer", [&](clXML& d) { d.load(fifo); },
         clXML::LOAD_NOT_READABLE},
        {"a device", [&](clXML& d) { d.load(madeDevice ? zeros : fifo); }, clXML::LOAD_NOT_READABLE},
        {"a descriptor that cannot read",
         [&](clXML& d) {
             const int fd = ::open(markup.c_str(), O_WRONLY | O_CLOEXEC);
             d.load(fd);
             ::close(fd);
         },
         clXML::LOAD_READ_FAILED},
        {"no markup", [&](clXML& d) { d.load(write("blank.xml", " \r\n")); }, clXML::LOAD_NO_MARKUP},
        {"no text", [](clXML& d) { d.loadText(""); }, clXML::LOAD_NO_MARKUP},
    };
    for (const auto& [what, load, result] : cases) {
        doc.loadText("<old/>");
        load(doc);
        EXPECT_EQ(doc.getLoadResult(), result) << what;
        EXPECT_EQ(doc.isLoad(), result == clXML::LOAD_OK) << what;
    }
    EXPECT_EQ(clXML().getLoadResult(), clXML::LOAD_NO_MARKUP);
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory cannot live under a bounded address space";
#else
    EXPECT_EQ(loadResultUnderBoundedMemory(write("huge.xml", "")), clXML::LOAD_TOO_LARGE);
#endif
}
#endif

}  // namespace
