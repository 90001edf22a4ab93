// Well-formed in, well-formed out: legal XML in each of its forms, and a
// few hundred random documents, through the built tool and the library's
// export, each output held to its input by a real XML parser
// (xml_equivalence.py, Python's expat).
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <utility>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "support/tool_run.h"
#include "xml/xml.h"

namespace {

using namespace qor_test;

struct Form {
    std::string name;  // a file name
    std::string text;
    std::string lead = "";  // bytes before the text that make it no XML
};

#ifndef _WIN32
// Runs the checker on pairs of input and output paths, never through a
// shell; it must find every pair the same, or, unless same, tell a change.
void expectChecked(const ScratchDir& dir, std::vector<std::string> args, bool same = true) {
    args.insert(args.begin(), {PYTHON3_PATH, XML_EQUIVALENCE_SCRIPT});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const std::string reportPath = dir.beside("checker.out");
    const int status = runChild([&] {
                           if (redirect(reportPath.c_str())) execv(argv[0], argv.data());
                           return 127;
                       }).status;
    const std::string report = readFile(reportPath);
    EXPECT_EQ(status, same ? 0 : 1) << report;
    EXPECT_EQ(report.empty(), same) << report;
}
#endif

class XmlForms : public ToolFixture {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the checker runs on POSIX hosts";
#else
        if (std::string(PYTHON3_PATH).empty()) GTEST_SKIP() << "no Python 3 found: install python3 to check XML forms";
#endif
    }

    // Runs the tool on each document behind its lead, and the checker on
    // each output against the document alone; for a document without a
    // lead, on the library's export of it too.
    void expectKeptByTheTool(const std::vector<Form>& forms) {
#ifndef _WIN32
        std::vector<std::string> pairs, exports{"--export"};
        for (const Form& form : forms) {
            const std::string input = dir.path(form.name + ".xml"), document = dir.path(form.name + ".document.xml");
            const std::string output = dir.path(form.name + ".out.xml");
            writeFile(input, form.lead + form.text);
            writeFile(document, form.text);
            EXPECT_TRUE(endedWith(run({input, output}), 0, bothChanged)) << form.name;
            pairs.insert(pairs.end(), {document, output});
            if (!form.lead.empty()) continue;
            const std::string exported = dir.path(form.name + ".export.xml");
            EXPECT_TRUE(qor::utility::clXML(input).exportFile(exported)) << form.name;
            exports.insert(exports.end(), {input, exported});
        }
        for (const std::vector<std::string>& paths : {pairs, exports}) {
            if (paths.size() >= 2) expectChecked(dir, paths);  // fewer: no export to check
        }
#else
        (void)forms;
#endif
    }
};

// A movie in the converter's own style, around what each form adds.
std::string movie(const std::string& head, const std::string& fileAttributes, const std::string& body) {
    return head + "<swf version=\"8\" compressed=\"1\">\n  <Header framerate=\"24\" frames=\"1\">\n    <tags>\n      " +
           fileAttributes + "\n" + body + "    </tags>\n  </Header>\n</swf>\n";
}
const std::string plainFileAttributes = "<FileAttributes hasMetaData=\"0\" useNetwork=\"1\"/>";
// Such a movie with the usual declaration and FileAttributes.
std::string plainMovie(const std::string& body = "") { return movie(declaration, plainFileAttributes, body); }

TEST_F(XmlForms, EveryLegalFormComesOutWellFormedAndTheSame) {
    expectKeptByTheTool({
        {"empty_values",
         plainMovie("      <FrameLabel label=\"\"/>\n      <DoAction>\n        <actions>\n"
                    "          <GetURL url=\"\" target=\"\"/>\n          <PushData><items><StackString value=\"\"/>"
                    "</items></PushData>\n        </actions>\n      </DoAction>\n")},
        {"space_before_slash",
         movie(declaration, "<FileAttributes hasMetaData=\"0\" />", "      <ShowFrame />\n      <a x=\"1\" />\n")},
        {"single_quotes",
         "<?xml version='1.0' encoding='UTF-8'?>\n<swf version='8'>\n  <FileAttributes hasMetaData='0'/>\n"
         "  <FrameLabel label='a'/>\n  <StackString value='say \"hi\"'/>\n  <t a=\"it's\" b=''/>\n</swf>\n"},
        {"attributes_on_several_lines",
         movie(declaration, "<FileAttributes\n          hasMetaData=\"0\"\n          useNetwork=\"1\"/>",
               "      <Rectangle\n        left=\"0\"\n        right=\"11000\"\n      >\n      </Rectangle>\n")},
        {"tab_after_the_name",
         movie(declaration, "<FileAttributes\thasMetaData=\"0\"\tuseNetwork=\"1\"/>", "      <Color\tred=\"1\"/>\n")},
        {"spaces_around_equals",
         "<?xml version = \"1.0\" encoding = \"UTF-8\" ?>\n<swf version = \"8\">\n"
         "  <FileAttributes hasMetaData =\"0\" useNetwork= '1'/>\n  <a x = \"1\" y\t=\t\"2\"/>\n</swf>\n"},
        {"tag_end_in_a_value", plainMovie("      <FrameLabel label=\"a>b\"/>\n      <a v='1 > 0' w=\"/>\"/>\n")},
        {"cdata",
         plainMovie("      <data><![CDATA[<b>&amp; & ]] ]> </b>]]></data>\n      <data>x <![CDATA[]]> y</data>\n"
                    "      <![CDATA[\n  kept\n]]>\n")},
        {"doctype", movie(declaration + "<!DOCTYPE swf>\n", plainFileAttributes, "")},
        {"doctype_with_internal_subset",
         movie(declaration + "<!DOCTYPE swf [\n  <!ENTITY who \"world\">\n  <!ENTITY arrow \"->\">\n"
                             "  <!ELEMENT swf ANY>\n  <!-- about the movie -->\n]>\n",
               plainFileAttributes, "      <Title>Hello &who; &arrow;</Title>\n")},
        {"processing_instructions",
         movie(declaration + "<?xml-stylesheet type=\"text/xsl\" href=\"movie.xsl\"?>\n", plainFileAttributes,
               "      <?page break?>\n      <?php if ($a > 1) echo 'x'; ?>\n")},
        {"leading_processing_instruction",
         "<?xml-stylesheet href=\"movie.xsl\"?>\n<swf version=\"8\"><FileAttributes/></swf>\n"},
        {"entities",
         plainMovie("      <t a=\"&amp;&lt;&gt;&quot;&apos;&#65;&#x42;\">&amp; &lt; &gt; &quot; &apos; &#65; &#x42;</t>\n")},
        {"byte_order_mark", bom + plainMovie()},
        {"byte_order_mark_without_declaration", bom + movie("", plainFileAttributes, "")},
        {"crlf",
         "<?xml version=\"1.0\"?>\r\n<swf version=\"8\">\r\n  <FileAttributes\r\n    hasMetaData=\"0\"/>\r\n"
         "  <t>one\r\ntwo</t>\r\n  <!-- c\r\n-->\r\n</swf>\r\n"},
        {"tab_indentation",
         "<?xml version=\"1.0\"?>\n<swf version=\"8\">\n\t<Header>\n\t\t<FileAttributes hasMetaData=\"0\"/>\n"
         "\t\t<t>\ttext\t</t>\n\t</Header>\n</swf>\n"},
        {"no_declaration", movie("", plainFileAttributes, "")},
        {"comment_before_the_root",
         "<?xml version=\"1.0\"?>\n<!-- made by hand: <swf version=\"7\"> -->\n<swf version=\"8\">"
         "<FileAttributes/></swf>\n<!-- after -->\n"},
        {"other_encoding",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<swf version=\"8\"><FileAttributes/>"
         "<Title name=\"caf\xE9\">caf\xE9</Title></swf>\n"},
        {"file_attributes_with_content",
         "<swf version=\"8\"><FileAttributes hasMetaData=\"0\"></FileAttributes></swf>"},
        {"namespaces",
         "<swf xmlns:x=\"urn:x\" version=\"8\"><x:a x:b=\"1\"/><FileAttributes x:c=\"\"/></swf>"},
        {"metadata",
         movie(declaration, "<FileAttributes hasMetaData=\"1\" useNetwork=\"1\"/>",
               "      <Metadata>\n"
               "        <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
               "          <rdf:Description rdf:about=\"\" xmlns:xmp=\"urn:example:xmp/1.0/\"\n"
               "              xmlns:xmpMM=\"urn:example:xmp/1.0/mm/\">\n"
               "            <xmp:CreatorTool>Authoring Tool 11.0</xmp:CreatorTool>\n"
               "            <xmp:CreateDate>2020-07-28T11:57:36+02:00</xmp:CreateDate>\n"
               "            <xmp:MetadataDate>2020-07-28T11:58:02+02:00</xmp:MetadataDate>\n"
               "            <xmpMM:InstanceID>xmp.iid:2C1D7A3B4F20681188C6E1A2B3C4D5E6</xmpMM:InstanceID>\n"
               "            <xmpMM:DocumentID>xmp.did:2C1D7A3B4F20681188C6E1A2B3C4D5E6</xmpMM:DocumentID>\n"
               "          </rdf:Description>\n"
               "        </rdf:RDF>\n"
               "      </Metadata>\n")},
        {"empty_elements",
         plainMovie("      <Title></Title>\n      <Label name=\"a\">\n      </Label>\n      <Text>  \r\n  </Text>\n")},
        {"cdata_only",
         plainMovie("      <Script><![CDATA[ if (a < b) trace(\"x\"); ]]></Script>\n"
                    "      <Script>\n        <![CDATA[\n  kept\n]]>\n      </Script>\n")},
        {"text_ending_in_white_space",
         plainMovie("      <Title>Hello \t</Title>\n      <Caption>two lines\n</Caption>\n"
                    "      <Note>\tindented\n      </Note>\n")},
        {"standalone_declaration",
         "<?xml version='1.0' encoding='utf-8' standalone='yes' ?>\n<swf version=\"8\"><FileAttributes/></swf>"},
    });
}

// A text, a comment or an instruction named like an element is left alone,
// and the element itself is changed.
TEST_F(XmlForms, TheRulesChangeElementsOnly) {
    expectKeptByTheTool({
        {"text_named_file_attributes",
         "<swf version=\"7\"><Label>FileAttributes</Label><FileAttributes a=\"1\"/></swf>"},
        {"instruction_named_swf", "<?swf version=\"7\"?><swf version=\"7\"><FileAttributes/></swf>"},
        {"comment_named_swf", "<!--swf--><swf version=\"8\"><FileAttributes/></swf>"},
        {"comment_and_text_named_alike",
         declaration + "<!--FileAttributes--><swf version=\"6\"><t>swf</t><FileAttributes></FileAttributes></swf>"},
        {"instruction_with_allow_abc",
         "<?FileAttributes allowABC=\"0\"?><swf version=\"8\"><FileAttributes/></swf>"},
    });
}

// Whatever stands before the document's own declaration goes with it.
TEST_F(XmlForms, WhatComesBeforeTheDeclarationIsLeftOut) {
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
    const std::string plain = plainMovie();
    expectKeptByTheTool({
        {"lead_text", plain, "lead text\n"},
        {"lead_tab", plain, "\t"},
        {"lead_partial_mark", plain, "\xEF\xBB"},
        {"lead_nul", plain, std::string(1, '\0')},
        {"lead_unclosed_comment", plain, "<!-- "},
        {"lead_after_mark", plain, bom + "x\r\n"},
        {"lead_other_encoding", movie(latin1, plainFileAttributes, "      <t a=\"caf\xE9\"/>\n"), "lead "},
    });
}

// Random well-formed documents, the same on every run: a fixed seed, and
// only the generator's raw output used, which the standard fixes.
class DocumentMaker {
public:
    explicit DocumentMaker(unsigned seed) : random(seed) {}

    std::string make() {
        latin1 = below(8) == 0;
        const bool crlf = below(4) == 0;
        indentUnit = below(3) == 0 ? "\t" : "  ";
        entityDeclared = false;
        fileAttributesDone = false;
        std::string text;
        if (below(10) == 0 && !latin1) text += "\xEF\xBB\xBF";
        if (latin1 || below(5) != 0) text += xmlDeclaration() + "\n";
        if (below(4) == 0) text += doctype() + "\n";
        for (unsigned i = below(3); i > 0; --i) text += misc() + "\n";
        text += "<swf" + space() + "version" + equals() + quoted("8") + attributes(below(3), {"compressed", "note"}) +
                optionalSpace() + ">" + content(1) + "\n</swf>\n";
        for (unsigned i = below(3); i > 0; --i) text += misc() + "\n";
        if (!crlf) return text;
        std::string withCrlf;
        for (char c : text) withCrlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return withCrlf;
    }

private:
    unsigned below(unsigned n) { return static_cast<unsigned>(random() % n); }
    template <std::size_t N>
    const char* pick(const char* const (&choices)[N]) {
        return choices[below(N)];
    }

    std::string space() {
        static const char* const spaces[] = {" ", " ", " ", "  ", "\t", "\n    ", "\r\n\t", " \n"};
        return pick(spaces);
    }
    std::string optionalSpace() { return below(3) == 0 ? space() : ""; }
    std::string equals() { return optionalSpace() + "=" + optionalSpace(); }
    std::string nonAscii() { return latin1 ? "\xE9" : "\xC3\xA9"; }

    // A value between either quote; one that holds a quote gets the other.
    std::string quoted(const std::string& value) {
        char quote = below(2) ? '"' : '\'';
        if (value.find(quote) != std::string::npos) quote = quote == '"' ? '\'' : '"';
        return quote + value + quote;
    }

    std::string value() {
        static const char* const pieces[] = {"1", "-20", "x y", "label", "&amp;", "&lt;", "&gt;", "&quot;",
                                             "&apos;", "&#65;", "&#x42;", ">", "/>", "'", "\"", " ", "?", "="};
        std::string text;
        for (unsigned i = below(4); i > 0; --i) {
            const std::string piece = below(12) == 0 ? nonAscii() : pick(pieces);
            if (piece == "'" && text.find('"') != std::string::npos) continue;  // never both quotes
            if (piece == "\"" && text.find('\'') != std::string::npos) continue;
            text += piece;
        }
        return text;
    }

    // count distinct attributes from names, each with a value.
    std::string attributes(unsigned count, std::vector<std::string> names) {
        std::string text;
        for (unsigned i = 0; i < count && !names.empty(); ++i) {
            const std::size_t at = below(static_cast<unsigned>(names.size()));
            text += space() + names[at] + equals() + quoted(value());
            names.erase(names.begin() + static_cast<std::ptrdiff_t>(at));
        }
        return text;
    }

    std::string characters() {
        static const char* const pieces[] = {"hello", " ", "a > b", "&amp;", "&lt;", "&#x42;", "]]", "'\"", "\t", "x\ny"};
        std::string text;
        for (unsigned i = 1 + below(3); i > 0; --i) text += below(10) == 0 ? nonAscii() : pick(pieces);
        if (entityDeclared && below(3) == 0) text += "&who;";
        return text;
    }

    std::string comment() {
        static const char* const pieces[] = {" note ", "<a x=\"1\"/>", "a > b", "'\"", "- x", "&amp"};
        return std::string("<!--") + pick(pieces) + (below(2) ? nonAscii() : "") + "-->";
    }

    std::string instruction() {
        static const char* const targets[] = {"pi", "xml-stylesheet", "page", "php"};
        static const char* const data[] = {"", " a=\"1\"", " href='m.xsl' type=\"text/xsl\"", " just words",
                                           " if ($a > 1) echo 'x';", " x = 'a b'", " don't"};
        return std::string("<?") + pick(targets) + pick(data) + optionalSpace() + "?>";
    }

    std::string section() {
        static const char* const pieces[] = {"<b>", "&amp;", "]", "]]", " x ", "'\"", "\n"};
        std::string text = "<![CDATA[";
        for (unsigned i = below(4); i > 0; --i) text += pick(pieces);
        return text + "]]>";
    }

    std::string misc() { return below(2) ? comment() : instruction(); }

    std::string xmlDeclaration() {
        std::string text = "<?xml" + space() + "version" + equals() + quoted("1.0");
        if (latin1) {
            text += space() + "encoding" + equals() + quoted(below(2) ? "ISO-8859-1" : "iso-8859-1");
        } else if (below(2)) {
            static const char* const names[] = {"UTF-8", "utf-8"};
            text += space() + "encoding" + equals() + quoted(pick(names));
        }
        if (below(4) == 0) text += space() + "standalone" + equals() + quoted(below(2) ? "yes" : "no");
        return text + optionalSpace() + "?>";
    }

    std::string doctype() {
        static const char* const externals[] = {"", " SYSTEM \"movie.dtd\"", " SYSTEM 'a>b[1].dtd'",
                                                " PUBLIC \"-//x//y\" \"s]>.dtd\""};
        std::string text = std::string("<!DOCTYPE swf") + pick(externals);
        if (below(2)) return text + optionalSpace() + ">";
        static const char* const values[] = {"the w>rld", "]>", "a ]] > b", "it's"};
        static const char* const declarations[] = {"<!ELEMENT swf ANY>", "<?pi ]> '?>", "<!-- ]> \" -->",
                                                   "<!ATTLIST t a CDATA #IMPLIED>"};
        entityDeclared = true;
        text += " [\n  <!ENTITY who " + quoted(pick(values)) + ">\n";
        for (unsigned i = below(3); i > 0; --i) text += std::string("  ") + pick(declarations) + "\n";
        return text + "  " + comment() + "\n]" + optionalSpace() + ">";
    }

    std::string indent(unsigned depth) {
        std::string text = "\n";
        for (unsigned i = 0; i < depth; ++i) text += indentUnit;
        return text;
    }

    std::string element(unsigned depth) {
        static const char* const names[] = {"Header", "LineTo", "Shape", "t", "a-b", "x.y", "N\xC3\xA9"};
        std::string name = pick(names);
        if (latin1 && name == "N\xC3\xA9") name = "N\xE9";
        std::string text = "<" + name + attributes(below(4), {"x", "y", "label", "value", "target", "id"});
        if (below(2)) return text + optionalSpace() + "/>";
        // Text alone, or nothing, where each byte of it is content.
        static const char* const ends[] = {"", " ", "\t", " \n", "\r\n  "};
        switch (below(8)) {
        case 0: return text + ">" + characters() + pick(ends) + "</" + name + ">";
        case 1: return text + ">" + (below(2) ? "" : indent(depth + 1)) + "</" + name + ">";
        case 2: return text + ">" + (below(2) ? "" : indent(depth + 1)) + section() + "</" + name + ">";
        default: break;
        }
        return text + optionalSpace() + ">" + content(depth + 1) + indent(depth) + "</" + name + optionalSpace() + ">";
    }

    std::string content(unsigned depth) {
        std::string text;
        const unsigned items = depth > 3 ? below(2) : 1 + below(4);
        for (unsigned i = 0; i < items; ++i) {
            text += indent(depth);
            if (!fileAttributesDone && (depth == 1 || below(3) == 0) && below(2) == 0) {
                fileAttributesDone = true;
                text += "<FileAttributes" + attributes(below(3), {"hasMetaData", "useNetwork"}) + optionalSpace() +
                        (below(3) ? "/>" : "></FileAttributes>");
                continue;
            }
            switch (below(6)) {
            case 0: text += characters(); break;
            case 1: text += comment(); break;
            case 2: text += instruction(); break;
            case 3: text += section(); break;
            default: text += element(depth); break;
            }
        }
        if (depth == 1 && !fileAttributesDone) {
            fileAttributesDone = true;
            text += indent(depth) + "<FileAttributes/>";
        }
        return text;
    }

    std::mt19937 random;
    bool latin1 = false;
    bool entityDeclared = false;
    bool fileAttributesDone = false;
    std::string indentUnit;
};

TEST_F(XmlForms, RandomDocumentsComeOutWellFormedAndTheSame) {
    DocumentMaker maker(20);
    std::vector<Form> forms;
    for (int i = 0; i < 300; ++i) forms.push_back({"random_" + std::to_string(i), maker.make()});
    expectKeptByTheTool(forms);
}

// The checker must see each kind of change, or its silence proves nothing.
TEST_F(XmlForms, TheCheckerTellsEveryChange) {
#ifndef _WIN32
    const std::string input =
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!DOCTYPE swf>\n<swf version=\"8\"><!-- c --><?pi a='1'?>"
        "<FileAttributes/><FrameLabel label=\"\"/><t a=\"1\" b=\"2\">x<![CDATA[y]]></t>"
        "<d>2020 </d><e></e><f><![CDATA[z]]></f></swf>";
    const std::string line = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
    const std::string good = "<swf version=\"10\"><!-- c --><?pi a=\"1\"?><FileAttributes allowABC=\"1\"/>"
                             "<FrameLabel label=\"\"/><t a=\"1\" b=\"2\">\nx\n<![CDATA[y]]></t></swf>";
    const std::string doctype = "<!DOCTYPE swf>\n";
    // The input's body upgraded, without the layout's white space around x.
    const std::string plain = "<swf version=\"10\"><!-- c --><?pi a=\"1\"?><FileAttributes allowABC=\"1\"/>"
                              "<FrameLabel label=\"\"/><t a=\"1\" b=\"2\">x<![CDATA[y]]></t></swf>";
    auto edited = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    // Elements that hold only text, or nothing, go before "</swf>": as they
    // were, or with the layout's white space added.
    auto with = [](std::string output, const std::string& texts) {
        return output.insert(output.rfind("</swf>"), texts);
    };
    const std::string texts = "<d>2020 </d><e></e><f><![CDATA[z]]></f>";
    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"good", with(line + doctype + good, texts)},
        {"bare name",
         with(line + doctype + "<swf version=\"10\"><FileAttributes allowABC=\"1\"/><FrameLabel label/></swf>", texts)},
        {"fixed line", with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + doctype + good, texts)},
        {"no upgrade", with(line + doctype + edited(plain, "\"10\"", "\"8\""), texts)},
        {"attribute order", with(line + doctype + edited(plain, "a=\"1\" b=\"2\"", "b=\"2\" a=\"1\""), texts)},
        {"section as text", with(line + doctype + edited(plain, "x<![CDATA[y]]>", "xy"), texts)},
        {"no comment", with(line + doctype + edited(plain, "<!-- c -->", ""), texts)},
        {"instruction data", with(line + doctype + edited(plain, "a=\"1\"?>", "a=\"2\"?>"), texts)},
        {"no doctype", with(line + good, texts)},
        {"text padded", with(line + doctype + good, edited(texts, "2020 ", "\n2020 \n"))},
        {"text trimmed", with(line + doctype + good, edited(texts, "2020 ", "2020"))},
        {"empty padded", with(line + doctype + good, edited(texts, "<e>", "<e>\n  "))},
        {"section padded", with(line + doctype + good, edited(texts, "<f>", "<f>\n"))},
    };
    // An export is the input, declaration and all, without the rules.
    const std::vector<std::pair<std::string, std::string>> exports = {
        {"good", input},
        {"upgraded", line + doctype + with(good, texts)},
        {"declaration changed", "<?xml version=\"1.0\"?>" + input.substr(line.size() - 1)},
        {"no declaration", input.substr(line.size())},
    };
    writeFile(dir.path("in.xml"), input);
    for (const bool exporting : {false, true}) {
        for (const auto& [name, output] : exporting ? exports : outputs) {
            SCOPED_TRACE((exporting ? "export: " : "") + name);
            writeFile(dir.path("out.xml"), output);
            std::vector<std::string> paths{dir.path("in.xml"), dir.path("out.xml")};
            if (exporting) paths.insert(paths.begin(), "--export");
            expectChecked(dir, paths, name == "good");
        }
    }
#endif
}

// Whatever a program sets a value to, the export is XML: in a tag a value
// with both quotes is escaped, in an instruction nothing is, and an
// instruction's words come back as they were read. Each export is held to
// bytes and, through the checker, to a document that reads the same.
TEST_F(XmlForms, EveryValueIsExportedAsXml) {
#ifndef _WIN32
    // A name, the text loaded, the value set as its first node's attribute a
    // (unless empty), what the export must read as (when not as loaded), and
    // the bytes it writes.
    const std::vector<std::array<std::string, 5>> rows = {
        {"both_quotes", "<t a=\"x\"/>", "say \"hi\" it's", "<t a='say \"hi\" it&apos;s'/>",
         "  <t a=\"say &quot;hi&quot; it's\"/>\n"},
        {"both_quotes_with_content", "<t a=\"x\">y</t>", "\"'", "<t a='&quot;&apos;'>y</t>", "  <t a=\"&quot;'\">y</t>\n"},
        {"double_quote", "<t a=\"x\"/>", "say \"hi\"", "<t a='say \"hi\"'/>", "  <t a='say \"hi\"'/>\n"},
        {"empty_value", "<t a=\"\"/>", "", "", "  <t a=\"\"/>\n"},
        {"instruction_words", "<?pi some data?><t/>", "", "", "  <?pi some data?>\n  <t/>\n"},
        {"stylesheet", "<?xml-stylesheet href=\"a.xsl\" type=\"text/xsl\"?><t/>", "", "",
         "  <?xml-stylesheet href=\"a.xsl\" type=\"text/xsl\"?>\n  <t/>\n"},
        {"instruction_empty_value", "<?pi a=\"\"?><t/>", "", "<?pi a?><t/>", "  <?pi a?>\n  <t/>\n"},
        {"instruction_both_quotes", "<?pi a=\"x\"?><t/>", "say \"hi\" it's", "<?pi a='say \"hi\" it's'?><t/>",
         "  <?pi a='say \"hi\" it's'?>\n  <t/>\n"},
    };
    std::vector<std::string> pairs{"--export"};
    for (const auto& [name, loaded, value, reads, written] : rows) {
        qor::utility::clXML document;
        document.loadText(loaded);
        if (!value.empty()) document.root.getChildren().begin()->searchAttribute("a")->second = value;
        const std::string input = dir.path(name + ".xml");
        const std::string exported = dir.path(name + ".export.xml");
        writeFile(input, reads.empty() ? loaded : reads);
        EXPECT_TRUE(document.exportFile(exported)) << name;
        EXPECT_EQ(readFile(exported), written) << name;
        pairs.push_back(input);
        pairs.push_back(exported);
    }
    expectChecked(dir, pairs);
#endif
}

}  // namespace
