// The built tool run on files in a fresh directory: its standard output,
// exit status and the files it leaves, compared byte for byte.
#include <gtest/gtest.h>

#include "support/tool_run.h"

namespace {

using namespace qor_test;

// Every node kind the writer knows, and both rules apply.
const std::string everyKind =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<swf version=\"8\" compressed=\"1\">\n"
    "  <!-- header -->\n"
    "  <Header frames=\"1\">\n"
    "    <FileAttributes hasMetaData=\"0\" note=\"\"/>\n"
    "    <Title lang=\"\">Hello</Title>\n"
    "  </Header>\n"
    "</swf>\n";
// Its own declaration gives way to the tool's, which names the same
// encoding; the line end after it stays.
const std::string patchedEveryKind = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n" + hostLines(
    "\n"
    "  <swf version=\"10\" compressed=\"1\">\n"
    "    <!-- header -->\n"
    "    <Header frames=\"1\">\n"
    "      <FileAttributes hasMetaData=\"0\" note=\"\" allowABC=\"1\"/>\n"
    "      <Title lang=\"\">Hello</Title>\n"
    "    </Header>\n"
    "  </swf>\n");

using ToolArguments = ToolFixture;
using ToolInput = ToolFixture;
using ToolRules = ToolFixture;
using ToolOutput = ToolFixture;
using ToolPaths = ToolFixture;

TEST_F(ToolArguments, FewerThanTwoEndSilently) {
    writeFile(input, everyKind);
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{input}}) {
        EXPECT_TRUE(endedWith(run(args), 1, ""));
    }
    EXPECT_EQ(readFile(input), everyKind);
    EXPECT_EQ(dir.names(), Names{"in.xml"});
}

TEST_F(ToolInput, UnloadableInputsAreNamedByteForByte) {
    fs::create_directory(dir.path("a directory"));
    writeFile(dir.path("empty.xml"), "");
    for (const std::string name : {"missing.xml", "a directory", "empty.xml"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(endedWith(run({dir.path(name), output}), 1, "Can't Open File : " + dir.path(name) + "\n"));
        EXPECT_FALSE(exists(output));
        EXPECT_TRUE(temporaryFilesBeside(output).empty());
    }
}

// One run each, over what the output held: how it ends, what it prints,
// what it writes, and that it leaves nothing else behind.
TEST_F(ToolRules, EachRunWritesExactlyWhatTheRulesMake) {
    const std::string upToDate = "<swf version=\"10\"><FileAttributes useNetwork=\"1\"/></swf>";
    const std::string swfOnly = "<swf version=\"7\"><Header/></swf>";
    const struct {
        const char* name;
        std::string document, oldOutput;  // in.xml's, and out.xml's unless empty
        std::vector<std::string> args;
        int status;
        std::string said, written;  // written: what the file args name last holds
        Names left = {"in.xml", "out.xml"};
    } cases[] = {
        {"both rules write the exact document", everyKind, "", {input, output}, 0, bothChanged, patchedEveryKind},
        {"the third argument and later are ignored", everyKind, "",
         {input, output, dir.path("third.xml"), "--fourth"}, 0, bothChanged, patchedEveryKind},
        {"the same path is patched in place", everyKind, "", {input, input}, 0, bothChanged, patchedEveryKind,
         {"in.xml"}},
        {"an existing output is replaced", everyKind, std::string(100000, 'x'), {input, output}, 0, bothChanged,
         patchedEveryKind},
        {"only the swf rule writes nothing", swfOnly, "", {input, output}, 1, "swf tag changed\n", swfOnly, {"in.xml"}},
        {"only the swf rule leaves the output", swfOnly, "old output", {input, output}, 1, "swf tag changed\n",
         "old output"},
        {"only the FileAttributes rule writes nothing", upToDate, "", {input, input}, 1, "FileAttributes tag changed\n",
         upToDate, {"in.xml"}},
        {"a document without a declaration is kept whole", "<swf version=\"6\"><FileAttributes/><t>a > b</t></swf>", "",
         {input, output}, 0, bothChanged,
         declaration +
             hostLines("  <swf version=\"10\">\n    <FileAttributes allowABC=\"1\"/>\n    <t>a > b</t>\n  </swf>\n")},
        {"a comment before the root is kept", "<!-- a > b --><swf version=\"8\"><FileAttributes x=\"1\"/></swf>", "",
         {input, output}, 0, bothChanged,
         declaration + hostLines("  <!-- a > b -->\n  <swf version=\"10\">\n"
                                 "    <FileAttributes x=\"1\" allowABC=\"1\"/>\n  </swf>\n")},
        {"a byte-order mark goes with the declaration",
         "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<swf version=\"8\"><FileAttributes/></swf>", "", {input, output}, 0,
         bothChanged,
         declaration + hostLines("\n  <swf version=\"10\">\n    <FileAttributes allowABC=\"1\"/>\n  </swf>\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.clear();
        writeFile(input, c.document);
        if (!c.oldOutput.empty()) writeFile(output, c.oldOutput);
        EXPECT_TRUE(endedWith(run(c.args), c.status, c.said));
        if (exists(c.args[1])) {
            EXPECT_EQ(readFile(c.args[1]), c.written);
        }
        if (c.args[1] != input) {
            EXPECT_EQ(readFile(input), c.document);
        }
        EXPECT_EQ(dir.names(), c.left);
    }
}

TEST_F(ToolRules, BundledSample) {
    const std::string sample = readFile(SWFUPGRADE_SAMPLE);
    const RunResult result = run({SWFUPGRADE_SAMPLE, output});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.out, hostLines(bothChanged));
    EXPECT_EQ(readFile(SWFUPGRADE_SAMPLE), sample);

    const std::string written = readFile(output);
    const std::string head =
        declaration + hostLines("\n  <swf version=\"10\" compressed=\"1\">\n    <Header framerate=\"24\" frames=\"1\">\n");
    const std::string tail = hostLines("\n  </swf>\n");
    EXPECT_EQ(written.compare(0, head.size(), head), 0) << written;
    EXPECT_NE(written.find(hostLines("\n        <FileAttributes hasMetaData=\"0\" useNetwork=\"1\" allowABC=\"1\"/>\n")),
              std::string::npos);
    ASSERT_GT(written.size(), tail.size());
    EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
}

TEST_F(ToolOutput, PermissionBitsOfAnExistingOutputStay) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits";
#else
    writeFile(input, everyKind);
    writeFile(output, "old");
    fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(run({input, output}).status, 0);
    EXPECT_EQ(readFile(output), patchedEveryKind);
    EXPECT_EQ(fs::status(output).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::permissions(input, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(run({input, input}).status, 0);
    EXPECT_EQ(fs::status(input).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif
}

// Names a command interpreter would act on; the tool must pass them on as bytes.
TEST_F(ToolPaths, HostileNamesAreBytesNotCommands) {
    std::vector<std::string> names = {"with  spaces.xml", "$(touch pwned).xml", "`touch pwned`.xml",
                                      "a;touch pwned;.xml", "a&touch pwned&.xml", "%PATH%.xml"};
#ifndef _WIN32
    for (const char* name : {"quo\"te's.xml", "new\nline.xml", "raw\xFF\xFE\x80.xml", "a|touch pwned.xml"})
        names.push_back(name);
#endif
    // A name's control bytes are shown escaped, so that a message stays
    // one line and no name can forge another.
    auto shown = [](std::string name) {
        for (std::size_t at = 0; (at = name.find('\n', at)) != std::string::npos; at += 2) name.replace(at, 1, "\\n");
        return name;
    };
    fs::create_directory(dir.path("dir"));
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string in = dir.path("dir/" + name);
        const std::string out = dir.path("dir/out " + name);

        RunResult result = run({in, out});
        EXPECT_TRUE(endedWith(result, 1, "Can't Open File : " + shown(in) + "\n"));

        writeFile(in, everyKind);
        result = run({in, out});
        EXPECT_TRUE(endedWith(result, 0, bothChanged));
        EXPECT_EQ(readFile(out), patchedEveryKind);
        EXPECT_TRUE(temporaryFilesBeside(out).empty());

        const std::string unwritable = dir.path("missing/" + name);
        result = run({in, unwritable});
        EXPECT_TRUE(endedWith(result, 1, bothChanged + "Can't Write File : " + shown(unwritable) + "\n"));

        result = run({in, in});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(readFile(in), patchedEveryKind);
        EXPECT_TRUE(temporaryFilesBeside(in).empty());
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path("dir")), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(2 * names.size()));
    EXPECT_EQ(dir.names(), Names{"dir"});
    EXPECT_FALSE(exists("pwned"));
}

// A message is one line whatever the name holds: a batch's log cannot be
// given a line the tool never wrote. Control bytes are shown escaped, any
// other byte as it is.
TEST_F(ToolPaths, ControlBytesInNamesAreShownEscaped) {
#ifdef _WIN32
    GTEST_SKIP() << "such names are not allowed there";
#else
    const std::pair<std::string, std::string> cases[] = {  // a name, and as it is shown
        {"x\nswf tag changed", "x\\nswf tag changed"},
        {"tab\there\rcr", "tab\\there\\x0Dcr"},
        {"esc\x1B[2Jdel\x7F", "esc\\x1B[2Jdel\\x7F"},
        {"back\\slash \xC3\xA9", "back\\slash \xC3\xA9"},
    };
    for (const auto& [name, shown] : cases) {
        SCOPED_TRACE(shown);
        EXPECT_TRUE(endedWith(run({dir.path(name), output}), 1, "Can't Open File : " + dir.path(shown) + "\n"));
    }
#endif
}

}  // namespace
