// What OUTPUT may be besides a plain file, each made for real: devices and
// pipes are written through, links are followed and stay links, and runs
// racing on one output each put a whole file in place.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>
#include <tuple>

#include "support/tool_run.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {

using namespace qor_test;

class ToolOutputTargets : public ToolFixture {
protected:
    void SetUp() override { writeFile(input, movieWithData(100)); }
};

#ifndef _WIN32

// A device or a FIFO at OUTPUT takes the content through an ordinary open,
// and stays what it was; a failed write is reported and nothing is made.
TEST_F(ToolOutputTargets, DevicesAndPipesAreWrittenThrough) {
    // Each case, the type of OUTPUT, its device, the data block's bytes,
    // whether a FIFO's reader reads (or hangs up at once), and the status.
    const std::tuple<const char*, mode_t, dev_t, std::size_t, bool, int> cases[] = {
        {"null device", S_IFCHR, makedev(1, 3), 100, false, 0},
        {"full device", S_IFCHR, makedev(1, 7), 100, false, 1},
        {"FIFO with a reader", S_IFIFO, 0, 1 << 20, true, 0},
        // More than a pipe holds, so the writer meets the closed end.
        {"FIFO whose reader reads a little and hangs up", S_IFIFO, 0, 1 << 20, false, 1},
    };
    for (const auto& [name, type, device, dataBytes, reads, status] : cases) {
        SCOPED_TRACE(name);
        const std::string out = dir.path("out");
        fs::remove(out);
        if (type == S_IFCHR && geteuid() != 0) continue;  // only root makes devices
        ASSERT_EQ(mknod(out.c_str(), type | 0666, device), 0);
        writeFile(input, movieWithData(dataBytes));

        std::string received;
        std::thread reader;
        if (type == S_IFIFO) {
            // A second name for the FIFO, so that a reader still waiting
            // for a writer when the run ends can be let go.
            ASSERT_EQ(link(out.c_str(), dir.beside("fifo").c_str()), 0);
            reader = std::thread([&, reads = reads] {
                std::ifstream fifo(out, std::ios::binary);
                char first[4096];
                fifo.read(first, reads ? 0 : sizeof first);  // the tool has opened it
                if (reads) received.assign(std::istreambuf_iterator<char>(fifo), std::istreambuf_iterator<char>());
            });
        }
        const RunResult result = run({input, out});
        if (reader.joinable()) {
            const int writer = open(dir.beside("fifo").c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) close(writer);
            reader.join();
            fs::remove(dir.beside("fifo"));
        }

        EXPECT_FALSE(result.killed);
        EXPECT_TRUE(endedWith(result, status, bothChanged + (status ? "Can't Write File : " + out + "\n" : "")));
        if (reads) {
            EXPECT_EQ(received, patchedWithData(dataBytes));
        }
        struct stat after;
        ASSERT_EQ(lstat(out.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & S_IFMT, type);
        EXPECT_EQ(dir.names(true), (Names{"in.xml", "out"}));
    }
}

// A link to the standard output, as /dev/stdout is, puts the content after
// the messages in the pipe the tool writes to.
TEST_F(ToolOutputTargets, LinkToStandardOutputWritesIntoThePipe) {
    const std::string out = dir.path("stdout");
    fs::create_symlink("/proc/self/fd/1", out);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    RunOptions options;
    options.standardOutput = ends[1];  // all the run writes fits in the pipe
    RunResult result = run({input, out}, options);
    close(ends[1]);
    result.out.resize(65536);
    result.out.resize(static_cast<std::size_t>(std::max<ssize_t>(read(ends[0], &result.out[0], result.out.size()), 0)));
    close(ends[0]);
    EXPECT_TRUE(endedWith(result, 0, bothChanged + patchedWithData(100)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(out)));
    EXPECT_EQ(dir.names(true), (Names{"in.xml", "stdout"}));
}

// The file a link names, through chains of links, relative ones read from
// their own directory, is replaced beside itself; every link stays.
TEST_F(ToolOutputTargets, LinksAreFollowedAndStay) {
    fs::create_directories(dir.path("movies"));
    fs::create_directories(dir.path("links/deeper"));
    // Each case's links (each link, its target), the path given and the file written.
    const std::string absolute = dir.path("movies/a.xml");
    using Links = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::tuple<std::string, Links, std::string, std::string>> cases = {
        {"absolute link", {{"links/a", absolute}}, "links/a", "movies/a.xml"},
        {"chain of relative links",
         {{"links/deeper/b2", "../../movies/b.xml"}, {"links/b1", "deeper/b2"}, {"b0", "links/b1"}},
         "b0",
         "movies/b.xml"},
        {"dangling link", {{"links/c", "../movies/c.xml"}}, "links/c", "movies/c.xml"},
    };
    Names expected = {"in.xml", "links", "links/deeper", "movies"};
    for (const auto& [name, links, given, real] : cases) {
        SCOPED_TRACE(name);
        const bool dangling = std::string(name) == "dangling link";
        if (!dangling) writeFile(dir.path(real), "old");
        for (const auto& [link, target] : links) {
            fs::create_symlink(target, dir.path(link));
            expected.insert(link);
        }
        expected.insert(real);

        const RunResult result = run({input, dir.path(given)});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(readFile(dir.path(real)), patchedWithData(100));
        for (const auto& [link, target] : links) EXPECT_EQ(fs::read_symlink(dir.path(link)).string(), target);
        EXPECT_EQ(dir.names(true), expected);
    }

    // In place through a link: every other name of the file sees the patch.
    writeFile(dir.path("movies/d.xml"), movieWithData(7, 'D'));
    fs::create_symlink("../movies/d.xml", dir.path("links/d"));
    fs::create_symlink(dir.path("movies/d.xml"), dir.path("links/also-d"));
    EXPECT_EQ(run({dir.path("links/d"), dir.path("links/d")}).status, 0);
    EXPECT_EQ(readFile(dir.path("links/also-d")), patchedWithData(7, 'D'));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.path("links/d"))));

    // Whatever stands beside the real file, the input among it, stays.
    const std::string input2 = dir.path("movies/e.xml.tmp");
    writeFile(input2, movieWithData(5));
    fs::create_symlink("../movies/e.xml", dir.path("links/e"));
    EXPECT_EQ(run({input2, dir.path("links/e")}).status, 0);
    EXPECT_EQ(readFile(input2), movieWithData(5));
    EXPECT_EQ(readFile(dir.path("movies/e.xml")), patchedWithData(5));

    // A loop of links names no file.
    fs::create_symlink("loop2", dir.path("loop1"));
    fs::create_symlink("loop1", dir.path("loop2"));
    EXPECT_EQ(run({input, dir.path("loop1")}).status, 1);
}

#else

// The host's null device: its name is a device wherever the run is.
TEST_F(ToolOutputTargets, NullDeviceIsWrittenThrough) {
    EXPECT_TRUE(endedWith(run({input, "NUL"}), 0, bothChanged));
    EXPECT_EQ(dir.names(true), Names{"in.xml"});
}

#endif

// Two runs with different inputs write one output at once, again and
// again: neither waits for the other, both succeed and the last rename
// wins; a reader never sees anything but the old file or one of the two
// new ones.
TEST_F(ToolOutputTargets, RacingRunsEachPutAWholeFileInPlace) {
    const std::size_t size = 4 << 20;
    const std::string inputs[] = {dir.path("a.xml"), dir.path("b.xml")};
    writeFile(inputs[0], movieWithData(size, 'a'));
    writeFile(inputs[1], movieWithData(size + 4096, 'b'));
    const std::string output = dir.path("out.xml");
    const std::string old = "old";
    const std::set<std::uintmax_t> whole = {old.size(), patchedWithData(size, 'a').size(),
                                            patchedWithData(size + 4096, 'b').size()};

    for (int race = 0; race < 8; ++race) {
        SCOPED_TRACE(race);
        writeFile(output, old);
        std::atomic<int> running{2};
        RunResult results[2];
        std::vector<std::thread> runs;
        for (int i = 0; i < 2; ++i) {
            runs.emplace_back([&, i] {
                results[i] = runTool({inputs[i], output}, dir.beside("stdout" + std::to_string(i)));
                --running;
            });
        }
        std::set<std::uintmax_t> seen;
        while (running > 0) {
            std::error_code error;
            const std::uintmax_t now = fs::file_size(output, error);
            if (!error) seen.insert(now);
        }
        for (std::thread& run : runs) run.join();
        for (const RunResult& result : results) EXPECT_EQ(result.status, 0);
        for (std::uintmax_t s : seen) EXPECT_EQ(whole.count(s), 1u) << "a reader saw " << s << " bytes";
        const std::string last = readFile(output);
        EXPECT_TRUE(last == patchedWithData(size, 'a') || last == patchedWithData(size + 4096, 'b'));
        EXPECT_TRUE(temporaryFilesBeside(output).empty());
    }
}

}  // namespace
