// INPUT as pipelines give it: standard input, a shell's process
// substitution (/dev/fd/N), or a FIFO in the file system, each read to its
// end; a FIFO of another user's, a device, and a pipe given as OUTPUT too
// are refused at once.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>

#include "support/tool_run.h"

namespace {

using namespace qor_test;

// More than a pipe holds at once, so that the run reads it in turns.
std::string longMovie() {
    std::string text = "<?xml version=\"1.0\"?>\n<swf version=\"8\">\n  <FileAttributes/>\n";
    for (int i = 0; i < 20000; ++i) text += "  <Frame n=\"" + std::to_string(i) + "\">text</Frame>\n";
    return text + "</swf>\n";
}

// Writes bytes into fd, then closes it; a reader that hangs up ends it.
void feed(int fd, const std::string& bytes) {
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);  // this thread's writes fail with EPIPE instead
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        done += static_cast<std::size_t>(written);
    }
    close(fd);
}

// Feeds the FIFO at path to whoever opens it for reading, while the test
// runs; never waits for a reader, so a run that does not open it ends.
class clFifoFeeder {
public:
    clFifoFeeder(const std::string& path, const std::string& bytes)
        : thread([this, path, bytes] {
              while (!stop) {
                  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                  if (fd < 0) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
                      continue;
                  }
                  opened = true;
                  fcntl(fd, F_SETFL, 0);
                  feed(fd, bytes);
                  return;
              }
          }) {}
    ~clFifoFeeder() { finish(); }
    // Whether a reader ever opened the FIFO.
    bool finish() {
        stop = true;
        if (thread.joinable()) thread.join();
        return opened;
    }

private:
    std::atomic<bool> stop{false};
    std::atomic<bool> opened{false};
    std::thread thread;
};

class ToolInputStreams : public ToolFixture {
protected:
    enum enHow { NULL_DEVICE, STANDARD_INPUT, DEV_FD, PROC_SELF_FD, OWN_FIFO };

    // Runs the tool with INPUT given as how says, the movie fed into it
    // where it is a pipe or a FIFO; OUTPUT is out.xml, or INPUT in place.
    RunResult runFed(enHow how, bool inPlace) const {
        RunOptions options;
        int ends[2] = {-1, -1};
        std::thread writer;
        if (how == NULL_DEVICE) {
            options.standardInput = ends[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
        } else if (how == OWN_FIFO) {
            if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
        } else {
            if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
            writer = std::thread(feed, ends[1], text);
            (how == STANDARD_INPUT ? options.standardInput : options.passedDescriptor) = ends[0];
        }
        const std::string from = how == OWN_FIFO       ? fifo
                                 : how == DEV_FD       ? "/dev/fd/" + std::to_string(ends[0])
                                 : how == PROC_SELF_FD ? "/proc/self/fd/" + std::to_string(ends[0])
                                                       : "/dev/stdin";
        const std::unique_ptr<clFifoFeeder> feeder(how == OWN_FIFO ? new clFifoFeeder(fifo, text) : nullptr);
        const RunResult result = run({from, inPlace ? from : output}, options);
        if (feeder) feeder->finish();
        if (ends[0] >= 0) close(ends[0]);
        if (writer.joinable()) writer.join();
        std::remove(fifo.c_str());
        return result;
    }

    const std::string fifo = dir.path("fifo");
    const std::string text = longMovie();
};

TEST_F(ToolInputStreams, PipesAndOwnFifosAreReadToTheirEnd) {
    // What the same movie gives from a regular file.
    writeFile(input, text);
    ASSERT_EQ(run({input, output}).status, 0);
    const std::string expected = readFile(output);
    std::remove(output.c_str());
    for (const enHow how : {STANDARD_INPUT, DEV_FD, PROC_SELF_FD, OWN_FIFO}) {
        SCOPED_TRACE(how);
        EXPECT_TRUE(endedWith(runFed(how, false), 0, bothChanged));
        EXPECT_EQ(readFile(output), expected);
        std::remove(output.c_str());
    }
}

// A device, and a pipe that is OUTPUT as well, which could not take the
// result back: one line, the rules not even tried, nothing written.
TEST_F(ToolInputStreams, DevicesAndPipesInPlaceAreRefused) {
    const std::tuple<const char*, enHow, bool, std::string> cases[] = {
        {"standard input from a device", NULL_DEVICE, false, "Can't Open File : /dev/stdin\n"},
        {"a pipe in place", STANDARD_INPUT, true, "Can't Write File : /dev/stdin\n"},
        {"a FIFO in place", OWN_FIFO, true, "Can't Write File : " + fifo + "\n"},
    };
    for (const auto& [name, how, inPlace, message] : cases) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(endedWith(runFed(how, inPlace), 1, message));
        EXPECT_FALSE(exists(output));
    }
}

// Another user's FIFO could stall a root run, or feed it what that user
// likes: refused before it is opened, so without waiting for a writer.
TEST_F(ToolInputStreams, AnotherUsersFifoIsRefusedAtOnce) {
    if (!canPlayStranger()) GTEST_SKIP() << "playing a second user needs root";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(chown(fifo.c_str(), stranger, stranger), 0);
    clFifoFeeder feeder(fifo, text);
    const RunResult result = run({fifo, output});
    EXPECT_FALSE(feeder.finish());
    EXPECT_TRUE(endedWith(result, 1, "Can't Open File : " + fifo + "\n"));
    EXPECT_FALSE(exists(output));
}

}  // namespace

#endif
