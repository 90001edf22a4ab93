// Faults provoked for real while the tool writes its output: whatever
// happens, the previous output stays byte for byte and a run that ends
// leaves no temporary file.
#include <gtest/gtest.h>

#include <random>

#include "support/tool_run.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using namespace qor_test;

class ToolFaults : public ToolFixture {
protected:
    const std::string old = "previous output \x01\r\n kept on any failure";

    void SetUp() override {
        writeFile(input, movieWithData(100));
        writeFile(output, old);
    }

    // Runs the tool and checks the failure it must report for out.
    void expectCantWrite(const std::string& out, const RunOptions& options = {}) const {
        const RunResult result = run({input, out}, options);
        EXPECT_FALSE(result.killed);
        EXPECT_TRUE(endedWith(result, 1, bothChanged + "Can't Write File : " + out + "\n"));
        EXPECT_TRUE(temporaryFilesBeside(out).empty());
    }
};

TEST_F(ToolFaults, WriteFailingPartWayKeepsTheOldOutput) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a file-size limit";
#else
    // The old output is larger than the limit: only the new file hits it.
    const std::uintmax_t limit = 16 * 1024;
    writeFile(input, movieWithData(4 * limit));
    const std::string large(2 * limit, 'o');
    writeFile(output, large);
    RunOptions limited;
    limited.fileSizeLimit = limit;
    expectCantWrite(output, limited);
    EXPECT_EQ(readFile(output), large);
    EXPECT_EQ(readFile(input), movieWithData(4 * limit));

    // Without that limit the same run succeeds, so the limit was the fault.
    const RunResult result = run({input, output});
    EXPECT_EQ(result.status, 0);
    EXPECT_GT(readFile(output).size(), 4 * limit);
#endif
}

TEST_F(ToolFaults, MissingDirectory) {
    expectCantWrite(dir.path("no/such/out.xml"));
    EXPECT_FALSE(exists(dir.path("no")));
    EXPECT_EQ(readFile(output), old);
}

TEST_F(ToolFaults, OutputPathIsADirectory) {
    const std::string target = dir.path("out.d");
    fs::create_directory(target);
    writeFile(target + "/inside", old);
    expectCantWrite(target);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(readFile(target + "/inside"), old);
}

// The input itself at a name a temporary file might have is neither used
// nor in the way: each run makes its own.
TEST_F(ToolFaults, NamesBesideTheOutputAreLeftAlone) {
    const std::string tmpInput = dir.path("m.xml.tmp");
    writeFile(tmpInput, movieWithData(100));
    for (const std::string& out : {dir.path("m.xml"), dir.path("./m.xml")}) {
        SCOPED_TRACE(out);
        EXPECT_EQ(run({tmpInput, out}).status, 0);
        EXPECT_EQ(readFile(tmpInput), movieWithData(100));
        EXPECT_EQ(readFile(dir.path("m.xml")), patchedWithData(100));
        EXPECT_TRUE(temporaryFilesBeside(dir.path("m.xml")).empty());
    }
}

TEST_F(ToolFaults, ReadOnlyDirectory) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX directory permissions";
#else
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
    const std::string locked = dir.path("locked");
    fs::create_directory(locked);
    writeFile(locked + "/out.xml", old);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    expectCantWrite(locked + "/out.xml");
    EXPECT_EQ(readFile(locked + "/out.xml"), old);
    fs::permissions(locked, fs::perms::owner_all);
#endif
}

#ifndef _WIN32
// A directory its user may write but not read (mode 0300): the run
// replaces the output there, makes that last, and says it did.
TEST_F(ToolFaults, WriteOnlyDirectory) {
    if (!canPlayStranger()) GTEST_SKIP() << "playing a second user needs root";
    ASSERT_EQ(run({input, dir.path("expected.xml")}).status, 0);
    const std::string hidden = dir.path("hidden");
    makeDirectoryOf(stranger, 0300, hidden);
    writeFileOf(stranger, 0644, hidden + "/out.xml", old);
    RunOptions options;
    options.asStranger = true;
    const RunResult result = run({input, hidden + "/out.xml"}, options);
    fs::permissions(hidden, fs::perms::owner_all);
    EXPECT_TRUE(endedWith(result, 0, bothChanged));
    EXPECT_EQ(readFile(hidden + "/out.xml"), readFile(dir.path("expected.xml")));
    EXPECT_TRUE(temporaryFilesBeside(hidden + "/out.xml").empty());
}

// A large file patched in place, killed at random moments: the file is the
// old or the new content, never a mix. A killed run may leave its private
// temporary file; it is in no later run's way.
TEST_F(ToolFaults, KilledRunsLeaveOldOrNewContent) {
    std::string big = "<?xml version=\"1.0\"?>\n<swf version=\"8\">\n  <Header>\n    <FileAttributes/>\n";
    for (int i = 0; i < 500000; ++i) big += "    <PlaceObject2 depth=\"" + std::to_string(i) + "\"/>\n";
    big += "    <data>" + std::string(20 << 20, 'Q') + "</data>\n  </Header>\n</swf>\n";

    const std::string copy = dir.path("copy.xml");
    writeFile(copy, big);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run({copy, copy}).status, 0);
    const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const std::string patched = readFile(copy);
    ASSERT_NE(patched, big);

    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<long long> delay(1, runTime.count() * 5 / 4);
    int killed = 0;
    int oldSeen = 0;
    for (int round = 0; round < 10; ++round) {
        writeFile(input, big);
        const std::size_t leftBefore = temporaryFilesBeside(input).size();
        RunOptions killing;
        killing.killAfter = std::chrono::microseconds(delay(random));
        const RunResult result = run({input, input}, killing);
        killed += result.killed;
        const std::string now = readFile(input);
        EXPECT_TRUE(now == big || now == patched) << "round " << round << ": a mix of " << now.size() << " bytes";
        oldSeen += now == big;
        if (!result.killed) {
            EXPECT_EQ(temporaryFilesBeside(input).size(), leftBefore);
        }
    }
    const std::size_t left = temporaryFilesBeside(input).size();
    std::cout << killed << " of 10 runs killed, " << oldSeen << " left the old content, " << left
              << " a temporary file\n";

    writeFile(input, big);
    const RunResult result = run({input, input});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(input), patched);
    EXPECT_EQ(temporaryFilesBeside(input).size(), left);
}
#endif

}  // namespace
