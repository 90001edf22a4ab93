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

// What the tool would write for the document, and a check that the room
// it sets aside covers it.
std::string replacement(const qor::utility::clXML& document) {
    std::stringbuf file;
    EXPECT_TRUE(writeReplacement(document, file));
    EXPECT_GE(replacementSize(document), file.str().size());
    return file.str();
}

TEST_F(OutputText, ReplacesTheDocumentsOwnDeclaration) {
    parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<swf version=\"10\">\xE9</swf>");
    EXPECT_EQ(replacement(doc), declaration + hostLines("\n  <swf version=\"10\">\n\xE9\n  </swf>\n"));
}

TEST_F(OutputText, CutsOnlyADeclarationsLine) {
    parse("<swf><a/></swf>");
    EXPECT_FALSE(exportOpensWithDeclaration(doc));
    EXPECT_EQ(replacement(doc), declaration + hostLines("  <swf>\n    <a/>\n  </swf>\n"));

    parse("<!-- c --><?xml version=\"1.0\"?><a/>");
    EXPECT_FALSE(exportOpensWithDeclaration(doc));
    parse("a>b<?xml version=\"1.0\"?><a/>");
    EXPECT_FALSE(exportOpensWithDeclaration(doc));
    parse("\xEF\xBB\xBF<?xml version=\"1.0\"?><a/>");
    EXPECT_TRUE(exportOpensWithDeclaration(doc));
    EXPECT_EQ(replacement(doc), declaration + hostLines("\n  <a/>\n"));
    EXPECT_FALSE(exportOpensWithDeclaration(qor::utility::clXML()));
}

TEST_F(OutputText, FindsTheDeclarationsEndWhereverItLies) {
    const std::string longText(5000, 'x');
    parse(longText + "<?xml version=\"" + longText + "\"?><a/>");
    EXPECT_EQ(replacement(doc), declaration + hostLines("\n  <a/>\n"));
    parse("<?xml v=\"x\"?><a/>");
    doc.find("xml")->searchAttribute("v")->second = "a>b";  // a '>' the writer puts before the real end
    EXPECT_FALSE(exportOpensWithDeclaration(doc));
}

}  // namespace
