#include <gtest/gtest.h>

#include <iostream>

#include "driver/swf_rules.h"
#include "xml_fixture.h"

namespace {

// Parses a literal and captures what the rules print.
class Rules : public qor_test::XmlFixture {
protected:
    void SetUp() override { saved = std::cout.rdbuf(captured.rdbuf()); }
    void TearDown() override { std::cout.rdbuf(saved); }

    std::string output() const { return captured.str(); }

    // Each document, parsed alone, the rule leaves as it is, silently.
    void expectLeftAlone(bool (*rule)(qor::utility::clXML&), std::initializer_list<const char*> documents) {
        for (const char* text : documents) {
            parse(text);
            const std::string before = tree();
            EXPECT_FALSE(rule(doc)) << text;
            EXPECT_EQ(tree(), before);
        }
        EXPECT_EQ(output(), "");
    }

    std::ostringstream captured;
    std::streambuf* saved = nullptr;
};

TEST_F(Rules, RaisesVersionsSixToEightToTen) {
    for (const char* version : {"6", "7", "8"}) {
        parse(std::string("<swf a=\"x\" version=\"") + version + "\" b=\"y\"/>");
        EXPECT_TRUE(changeSwfTag(doc));
        EXPECT_EQ(tree(), "S[swf] [a=x] [version=10] [b=y]\n");
    }
    EXPECT_EQ(output(), "swf tag changed\nswf tag changed\nswf tag changed\n");
}

TEST_F(Rules, LeavesEveryOtherVersionAlone) {
    expectLeftAlone(changeSwfTag, {"<swf version=\"10\"/>", "<swf version=\"9\"/>", "<swf version=\"6.0\"/>",
                                   "<swf version=\"\"/>", "<swf version=\" 8\"/>", "<swf version=08 />",
                                   "<swf Version=\"8\"/>", "<swf/>", "<SWF version=\"8\"/>", "<a/>"});
}

TEST_F(Rules, ExaminesOnlyTheFirstSwfAndItsFirstVersion) {
    parse("<swf version=\"10\" version=\"8\"/><swf version=\"8\"/>");
    EXPECT_FALSE(changeSwfTag(doc));
    parse("<swf version=\"8\" version=\"7\"><swf version=\"8\"/></swf>");
    EXPECT_TRUE(changeSwfTag(doc));
    EXPECT_EQ(tree(), "T[swf] [version=10] [version=7]\n  S[swf] [version=8]\n");
}

TEST_F(Rules, AppendsAllowAbcAsTheLastAttribute) {
    parse("<FileAttributes a=\"1\" b=\"\" allowabc=\"0\"/><FileAttributes/>");
    EXPECT_TRUE(changeFileAttributesTag(doc));
    EXPECT_EQ(tree(), "S[FileAttributes] [a=1] [b=] [allowabc=0] [allowABC=1]\nS[FileAttributes]\n");
    parse("<FileAttributes/>");
    EXPECT_TRUE(changeFileAttributesTag(doc));
    EXPECT_EQ(tree(), "S[FileAttributes] [allowABC=1]\n");
    EXPECT_EQ(output(), "FileAttributes tag changed\nFileAttributes tag changed\n");
}

TEST_F(Rules, NeverTouchesAnExistingAllowAbc) {
    expectLeftAlone(changeFileAttributesTag, {"<FileAttributes allowABC=\"0\"/>", "<FileAttributes allowABC=\"1\"/>",
                                              "<FileAttributes x=\"1\" allowABC />", "<swf/>"});
}

// A text, a comment or an instruction of the same name is no element:
// each rule changes the first element of its name, or nothing.
TEST_F(Rules, ChangeOnlyElements) {
    // Each input, and its tree after both rules.
    const std::pair<std::string, std::string> cases[] = {
        {"<swf version=\"7\"><Label>FileAttributes</Label><FileAttributes a=\"1\"/></swf>",
         "T[swf] [version=10]\n  T[Label]\n    D[FileAttributes]\n  S[FileAttributes] [a=1] [allowABC=1]\n"},
        {"<?swf version=\"7\"?><swf version=\"7\"><FileAttributes/></swf>",
         "P[swf] [version=7]\nT[swf] [version=10]\n  S[FileAttributes] [allowABC=1]\n"},
        {"<!--swf--><swf version=\"8\"><!--FileAttributes--><FileAttributes></FileAttributes></swf>",
         "C[swf]\nT[swf] [version=10]\n  C[FileAttributes]\n  T[FileAttributes] [allowABC=1]\n"},
        {"<?FileAttributes?>swf<swf version=\"6\"/><FileAttributes/>",
         "P[FileAttributes]\nD[swf]\nS[swf] [version=10]\nS[FileAttributes] [allowABC=1]\n"},
        {"<a>swf</a><?swf version=\"7\"?><!--FileAttributes-->",
         "T[a]\n  D[swf]\nP[swf] [version=7]\nC[FileAttributes]\n"},
    };
    for (const auto& [input, after] : cases) {
        parse(input);
        const bool changed = after.find("allowABC") != std::string::npos;
        EXPECT_EQ(changeSwfTag(doc), changed) << input;
        EXPECT_EQ(changeFileAttributesTag(doc), changed) << input;
        EXPECT_EQ(tree(), after) << input;
    }
}

}  // namespace
