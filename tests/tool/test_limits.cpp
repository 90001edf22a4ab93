// The tool at its limits: an output that cannot fit, a write that fails,
// memory running out, OUTPUT naming the process's own standard output,
// a name at the longest a directory entry allows, and an OUTPUT past 2 GiB.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "support/tool_run.h"

namespace {

using namespace qor_test;

using ToolLimits = ToolFixture;

// An output far larger than the room it has fails before anything is
// written, and a full device stops the writing at its first refusal;
// either way the run ends in moments, where writing or formatting the
// whole output would take minutes.
TEST_F(ToolLimits, AnOutputThatCannotFitFailsAtOnce) {
    // Nested a million levels deep: about depth² bytes of output, 2 TB.
    writeFile(input, "<swf version=\"8\"><FileAttributes/>" + repeat("<>", 1000000));
    const std::pair<const char*, bool> cases[] = {{"file under a size limit", false}, {"full device", true}};
    for (const auto& [name, device] : cases) {
        SCOPED_TRACE(name);
        if (device) {
            if (!canPlayStranger()) continue;  // making a device needs root
            ASSERT_EQ(mknod(output.c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
        } else {
            writeFile(output, "old");
        }
        const auto start = std::chrono::steady_clock::now();
        const RunResult result = run({input, output});  // its file-size limit bounds the output
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        EXPECT_TRUE(endedWith(result, 1, bothChanged + "Can't Write File : " + output + "\n"));
        EXPECT_EQ(dir.names(), (Names{"in.xml", "out.xml"}));
        if (!device) {
            EXPECT_EQ(readFile(output), "old");
        }
        fs::remove(output);
    }
}

// One tag of millions of attributes: more memory than the run may have.
// That is an input it cannot open, said in its own words, with nothing on
// standard error and nothing left behind.
TEST_F(ToolLimits, RunningOutOfMemoryIsAFailedRun) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
#endif
    if (!canLimitMemory()) GTEST_SKIP() << "an address-space limit does not hold here (an emulator ignores it)";
    writeFile(input, "<swf version=\"8\"" + repeat(" a", 8 << 20) + "><FileAttributes/></swf>");
    writeFile(output, "old");
    RunOptions options;
    options.memoryLimit = 384 << 20;
    const RunResult result = run({input, output}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(result.killed);
    EXPECT_EQ(result.out, "Can't Open File : " + input + "\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(output), "old");
    EXPECT_EQ(dir.names(), (Names{"in.xml", "out.xml"}));
}

// OUTPUT naming the process's own standard output is written into that
// descriptor, whatever it is: a socket, which no path can open, or a file
// deleted while open, which a path would name wrongly.
TEST_F(ToolLimits, StandardOutputIsWrittenThroughItsDescriptor) {
    writeFile(input, movie);
    for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        for (bool socket : {true, false}) {
            SCOPED_TRACE(std::string(name) + (socket ? " on a socket" : " on a deleted file"));
            int ends[2] = {-1, -1};
            if (socket) {
                ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
            } else {
                ends[0] = open(dir.path("log").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                ASSERT_GE(ends[0], 0);
                ASSERT_EQ(unlink(dir.path("log").c_str()), 0);
                ends[1] = ends[0];
            }
            RunOptions options;
            options.standardOutput = ends[1];
            const RunResult result = run({input, name}, options);
            if (socket) close(ends[1]);
            std::string received(4096, '\0');
            const ssize_t got = socket ? read(ends[0], &received[0], received.size())
                                       : pread(ends[0], &received[0], received.size(), 0);
            close(ends[0]);
            received.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(received, bothChanged + patchedMovie);
            EXPECT_EQ(dir.names(), Names{"in.xml"});
        }
    }
}

// A name as long as a directory entry allows, less the room for ".tmp",
// is still an output: its temporary file gets a shorter name.
TEST_F(ToolLimits, ALongOutputNameStillWorks) {
    writeFile(input, movie);
    const std::string name(252, 'n');
    const RunResult result = run({input, dir.path(name)});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(readFile(dir.path(name)), patchedMovie);
    EXPECT_EQ(dir.names(), (Names{"in.xml", name}));
}

// An OUTPUT past 2 GiB (sparse, so nothing is written) is replaced like
// any other: a 32-bit build with 32-bit file offsets could not even look
// at it (EOVERFLOW) and refused to write.
TEST_F(ToolLimits, AnOutputPastTwoGiBIsReplaced) {
    writeFile(input, movie);
    writeFile(output, "");
    ASSERT_EQ(truncate(output.c_str(), off_t{3} << 30), 0);
    const RunResult result = run({input, output});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out, bothChanged);
    ASSERT_EQ(fs::file_size(output), patchedMovie.size());  // not 3 GiB to read back
    EXPECT_EQ(readFile(output), patchedMovie);
}

}  // namespace

#endif
