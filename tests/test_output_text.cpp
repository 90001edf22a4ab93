#include <gtest/gtest.h>

#include <vector>

#include "driver/host.h"
#include "driver/output_text.h"
#include "support/documents.h"
#include "xml_fixture.h"

namespace {

using namespace qor_test;
using OutputText = qor_test::XmlFixture;

// What the tool would write for the document, and a check that the room
// it sets aside is exactly that.
std::string replacement(const qor::utility::clXML& document) {
    std::stringbuf file;
    EXPECT_TRUE(writeReplacement(document, file));
    EXPECT_EQ(replacementSize(document), file.str().size());
    return file.str();
}

// A declaration named xml that holds the text's first '>' gives way to the
// line, with whatever comes before it; so does a byte-order mark before the
// first markup. Every other head is kept.
TEST_F(OutputText, ReplacesOnlyTheDocumentsOwnDeclaration) {
    // Each input, and what follows the declaration line, before the host's line ends.
    const std::pair<std::string, std::string> cases[] = {
        {"<?xml version=\"1.0\"?>\n<swf/>", "\n  <swf/>\n"},
        {"<?xml version='1.0' standalone=\"yes\" ?><swf/>", "\n  <swf/>\n"},
        {"<swf><a/></swf>", "  <swf>\n    <a/>\n  </swf>\n"},
        {"<?xml-stylesheet href=\"s.xsl\"?><swf/>", "  <?xml-stylesheet href=\"s.xsl\"?>\n  <swf/>\n"},
        {"<?xml version=\"1.0\"?><?xml-stylesheet href=\"s.xsl\"?><swf/>",
         "\n  <?xml-stylesheet href=\"s.xsl\"?>\n  <swf/>\n"},
        {"<!-- c --><?xml version=\"1.0\"?><a/>", "  <!-- c -->\n  <?xml version=\"1.0\"?>\n  <a/>\n"},
        {"a>b<?xml version=\"1.0\"?><a/>", "a>b\n  <?xml version=\"1.0\"?>\n  <a/>\n"},
        {"<a/><?xml version=\"1.0\"?>", "  <a/>\n  <?xml version=\"1.0\"?>\n"},
        {"lead text\n<?xml version=\"1.0\"?>\n<swf/>", "\n  <swf/>\n"},
        {"\t<?xml version=\"1.0\"?><a/>", "\n  <a/>\n"},
        {"\xEF\xBB<?xml version=\"1.0\"?><a/>", "\n  <a/>\n"},
        {std::string(1, '\0') + "<?xml version=\"1.0\"?><a/>", "\n  <a/>\n"},
        {"<!--<?xml version=\"1.0\"?><a/>", "\n  <a/>\n"},
        {bom + "x<?xml version=\"1.0\"?><a/>", "\n  <a/>\n"},
        {"lead<?xml-stylesheet href=\"s.xsl\"?><a/>", "lead\n  <?xml-stylesheet href=\"s.xsl\"?>\n  <a/>\n"},
        {bom + "<?xml version=\"1.0\"?><a/>", "\n  <a/>\n"},
        {bom + " \r\n\t<?xml version=\"1.0\"?>\r\n<a/>", "\n  <a/>\n"},
        {bom + "\n<a/>", "  <a/>\n"},
        {bom + "x<a/>", bom + "x\n  <a/>\n"},
        {std::string(5000, 'x') + "<?xml version=\"" + std::string(5000, 'v') + "\"?><a/>", "\n  <a/>\n"},
        {"<?xml version=\"" + std::string(5000, 'v') + "\"?><a/>", "\n  <a/>\n"},
    };
    for (const auto& [input, body] : cases) {
        parse(input);
        EXPECT_EQ(replacement(doc), declaration + hostLines(body)) << input;
    }
    EXPECT_EQ(replacement(qor::utility::clXML()), declaration);
}

// The bytes are never converted, so the line names the encoding they are in.
TEST_F(OutputText, NamesTheEncodingTheDocumentsDeclarationNames) {
    // Each declaration, and the encoding the line names for it.
    const std::pair<std::string, std::string> cases[] = {
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "ISO-8859-1"},
        {"<?xml version='1.0' encoding='windows-1252'?>", "windows-1252"},
        {"<?xml version=\"1.0\" encoding = \"Shift_JIS\" ?>", "Shift_JIS"},
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?>", "UTF-8"},
        {"<?xml version=\"1.0\" encoding=\"Utf8\"?>", "UTF-8"},
        {"<?xml version=\"1.0\"?>", "UTF-8"},
        {"<?xml version=\"1.0\" encoding=\"\"?>", "UTF-8"},
        {"<?xml version=\"1.0\" encoding=\"8bit\"?>", "UTF-8"},          // no encoding name
        {"<?xml version=\"1.0\" encoding='a\"b'?>", "UTF-8"},            // would break the line
        {"<?xml version=\"1.0\" encoding=\"latin 1\"?>", "UTF-8"},
        {"<?xml version=\"1.0\" encoding=\"" + std::string(300, 'E') + "\"?>", std::string(300, 'E')},
        {"<?xml-stylesheet encoding=\"ISO-8859-1\"?>", "UTF-8"},         // not the document's own
        {"lead\t<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "ISO-8859-1"},
    };
    for (const auto& [head, named] : cases) {
        parse(head + "<swf version=\"10\">\xE9</swf>");
        const std::string written = replacement(doc);
        EXPECT_EQ(written.substr(0, written.find('\n') + 1),
                  "<?xml version=\"1.0\" encoding=\"" + named + "\"?>\n")
            << head;
        EXPECT_NE(written.find("\xE9"), std::string::npos) << head;
    }
}

// A host whose text mode ends lines in CR LF gives a CR to each LF but one
// that already follows a CR, even in a later piece of the text.
TEST(TextMode, WritesNoLineEndTwice) {
    // The pieces, one after the other, and the text written for them with CR LF.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"a\nb\n"}, "a\r\nb\r\n"},
        {{"alpha\r\nbeta\n"}, "alpha\r\nbeta\r\n"},
        {{"p\r\r\nq"}, "p\r\r\nq"},
        {{"\n\n", "\n"}, "\r\n\r\n\r\n"},
        {{"a\r", "\nb"}, "a\r\nb"},
        {{"a\r", "", "\n"}, "a\r\n"},
        {{"a\r", "b", "\n"}, "a\rb\r\n"},
        {{"\r\n\r", "\n\rx"}, "\r\n\r\n\rx"},
    };
    for (const auto& [pieces, withCrLf] : cases) {
        for (const std::string lineEnd : {"\r\n", "\n"}) {
            std::string out, whole;
            bool afterCarriageReturn = false;
            for (const std::string& piece : pieces) {
                appendTextMode(out, piece, lineEnd, afterCarriageReturn);
                whole += piece;
            }
            EXPECT_EQ(out, lineEnd == "\n" ? whole : withCrLf) << withCrLf;
        }
    }
}

// The document's own CR LF, in text and in values, comes out once.
TEST_F(OutputText, KeepsTheDocumentsOwnLineEnds) {
    const std::string lineEnd(host::textLineEnd);
    parse("<?xml version=\"1.0\"?>\r\nalpha\r\nbeta\r<a v=\"p\r\nq\"/>");
    EXPECT_EQ(replacement(doc), declaration + lineEnd + "alpha\r\nbeta\r\n  <a v=\"p\r\nq\"/>" + lineEnd);
}

}  // namespace
