#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "driver/output_text.h"
#include "host_lines.h"
#include "xml_fixture.h"

namespace {

using qor_test::hostLines;
using OutputText = qor_test::XmlFixture;

const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const std::string bom = "\xEF\xBB\xBF";

// What the tool would write for the document, and a check that the room
// it sets aside covers it.
std::string replacement(const qor::utility::clXML& document) {
    std::stringbuf file;
    EXPECT_TRUE(writeReplacement(document, file));
    EXPECT_GE(replacementSize(document), file.str().size());
    return file.str();
}

// Only a leading declaration named xml gives way to the line, and with it
// a byte-order mark before the first markup; every other head is kept.
TEST_F(OutputText, ReplacesOnlyTheDocumentsOwnDeclaration) {
    struct Case {
        std::string input;
        std::string body;  // after the declaration line, before the host's line ends
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?>\n<swf/>", "\n  <swf/>\n"},
        {"<?xml version='1.0' standalone=\"yes\" ?><swf/>", "\n  <swf/>\n"},
        {"<swf><a/></swf>", "  <swf>\n    <a/>\n  </swf>\n"},
        {"<?xml-stylesheet href=\"s.xsl\"?><swf/>", "  <?xml-stylesheet href=\"s.xsl\"?>\n  <swf/>\n"},
        {"<?xml version=\"1.0\"?><?xml-stylesheet href=\"s.xsl\"?><swf/>",
         "\n  <?xml-stylesheet href=\"s.xsl\"?>\n  <swf/>\n"},
        {"<!-- c --><?xml version=\"1.0\"?><a/>", "  <!-- c -->\n  <?xml version=\"1.0\"?>\n  <a/>\n"},
        {"a>b<?xml version=\"1.0\"?><a/>", "a>b\n  <?xml version=\"1.0\"?>\n  <a/>\n"},
        {bom + "<?xml version=\"1.0\"?><a/>", "\n  <a/>\n"},
        {bom + " \r\n\t<?xml version=\"1.0\"?>\r\n<a/>", "\n  <a/>\n"},
        {bom + "\n<a/>", "  <a/>\n"},
        {bom + "x<a/>", bom + "x\n  <a/>\n"},
        {std::string(5000, 'x') + "<?xml version=\"" + std::string(5000, 'v') + "\"?><a/>",
         std::string(5000, 'x') + "\n  <?xml version=\"" + std::string(5000, 'v') + "\"?>\n  <a/>\n"},
        {"<?xml version=\"" + std::string(5000, 'v') + "\"?><a/>", "\n  <a/>\n"},
    };
    for (const Case& c : cases) {
        parse(c.input);
        EXPECT_EQ(replacement(doc), declaration + hostLines(c.body)) << c.input;
    }
    EXPECT_EQ(replacement(qor::utility::clXML()), declaration);
}

// The bytes are never converted, so the line names the encoding they are in.
TEST_F(OutputText, NamesTheEncodingTheDocumentsDeclarationNames) {
    struct Case {
        std::string declaration;
        std::string named;
    };
    const Case cases[] = {
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
    };
    for (const Case& c : cases) {
        parse(c.declaration + "<swf version=\"10\">\xE9</swf>");
        const std::string written = replacement(doc);
        EXPECT_EQ(written.substr(0, written.find('\n') + 1),
                  "<?xml version=\"1.0\" encoding=\"" + c.named + "\"?>\n")
            << c.declaration;
        EXPECT_NE(written.find("\xE9"), std::string::npos) << c.declaration;
    }
}

}  // namespace
