// Root runs the tool in place over a tree another local user owns, and
// that user swaps names at the worst moment: just after the input is read,
// or when the new file is about to take its attributes. Whatever the user
// does, the run touches nothing outside that user's reach. The user is
// uid and gid 65534, played by a child process that drops privileges; the
// run itself goes on in a child of the test, so that a run that hangs is
// seen as one.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/run.h"
#include "second_user.h"

namespace fs = std::filesystem;

namespace {

using qor_test::asStranger;
using qor_test::stranger;
const std::string movie = "<swf version=\"8\"><FileAttributes/></swf>";
const std::string bothChanged = "swf tag changed\nFileAttributes tag changed\n";

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// What the stranger does, and at which step of the run.
host::enStep swapStep;
std::function<bool()> swap;
bool swapped;

void swapAtItsStep(host::enStep step, host::tyStepFile) {
    if (step == swapStep && !swapped) swapped = asStranger(swap);
}

struct Outcome {
    int status = -1;   // the run's exit status; -1 when it did not end in time
    bool swapped = false;
    std::string out;  // its messages, and anything else it wrote there
};

// The run of `swfupgrade input output` as root, with the stranger's swap
// at its step, in a child with its standard output in a file.
Outcome runWithSwap(const std::string& input, const std::string& output, host::enStep step,
                    std::function<bool()> action, const std::string& scratch) {
    const std::string outFile = scratch + "/stdout";
    int report[2];
    if (pipe(report) != 0) return {};
    std::fflush(nullptr);  // nothing buffered here is the child's to write
    const pid_t pid = fork();
    if (pid == 0) {
        close(report[0]);
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
        swapStep = step;
        swap = std::move(action);
        swapped = false;
        host::beforeStep = swapAtItsStep;
        qor::utility::clXML document;
        const int status = runUpgrade(document, input, output);
        std::cout.flush();
        const char done = swapped ? 'y' : 'n';
        if (::write(report[1], &done, 1) != 1) _exit(126);
        _exit(status);
    }
    close(report[1]);
    Outcome outcome;
    struct pollfd ended = {report[0], POLLIN, 0};
    char done = 'n';
    if (poll(&ended, 1, 10000) == 1 && ::read(report[0], &done, 1) == 1) {
        int status = 0;
        waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    } else {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close(report[0]);
    outcome.swapped = done == 'y';
    outcome.out = read(outFile);
    return outcome;
}

struct Ownership {
    uid_t owner;
    mode_t mode;
};

Ownership ownershipOf(const std::string& path) {
    struct stat info = {};
    lstat(path.c_str(), &info);
    return {info.st_uid, info.st_mode & 07777};
}

// A tree the stranger owns, home/, beside a directory only root may
// enter, private/, which holds root's files.
class RunRaces : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "playing a second user needs root";
        char name[] = "/tmp/swfupgrade-races-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        base = name;
        home = base + "/home";
        secret = base + "/private";
        keys = secret + "/authorized_keys";
        input = home + "/movie.xml";
        ASSERT_EQ(chmod(base.c_str(), 0755), 0);
        fs::create_directories(home + "/sub");
        for (const std::string& dir : {home, home + "/sub"}) ASSERT_EQ(chown(dir.c_str(), stranger, stranger), 0);
        fs::create_directory(secret);
        ASSERT_EQ(chmod(secret.c_str(), 0700), 0);
        write(keys, "root's keys\n");
        ASSERT_EQ(chmod(keys.c_str(), 0600), 0);
        writeAsStranger(input, movie);
    }
    void TearDown() override {
        if (!base.empty()) fs::remove_all(base);
    }

    static void writeAsStranger(const std::string& path, const std::string& bytes) {
        write(path, bytes);
        ASSERT_EQ(chown(path.c_str(), stranger, stranger), 0);
    }

    Outcome run(const std::string& in, const std::string& out, host::enStep step, std::function<bool()> action) {
        return runWithSwap(in, out, step, std::move(action), base);
    }

    // Root's private file is as it was.
    void expectKeysUntouched() {
        EXPECT_EQ(read(keys), "root's keys\n");
        const Ownership now = ownershipOf(keys);
        EXPECT_EQ(now.owner, 0u);
        EXPECT_EQ(now.mode, 0600u);
    }

    std::string base, home, secret, keys, input;
};

// Just after root's in-place run has read the movie, the stranger puts
// something else at its name. The file there is no longer the one that
// was read, so the run replaces nothing, opens nothing at that name, and
// says so; whatever the name now leads to stays as it was.
TEST_F(RunRaces, ANameSwappedAfterTheReadIsNotReplaced) {
    const std::string fifo = home + "/fifo";
    struct Case {
        const char* name;
        std::string leadsTo;  // the link the stranger puts at the movie's name; empty: none
    };
    const Case cases[] = {
        {"a link to root's private file", keys},
        {"a link to a FIFO, which would stall a writer", fifo},
        {"a link to the run's own standard output", "/dev/stdout"},
        {"the movie deleted: a new root-owned file would appear", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeAsStranger(input, movie);
        fs::remove(fifo);
        ASSERT_TRUE(asStranger([&] { return mkfifo(fifo.c_str(), 0644) == 0; }));
        const Outcome outcome = run(input, input, host::STEP_INPUT_READ, [&] {
            if (unlink(input.c_str()) != 0) return false;
            return c.leadsTo.empty() || symlink(c.leadsTo.c_str(), input.c_str()) == 0;
        });
        ASSERT_TRUE(outcome.swapped);
        EXPECT_EQ(outcome.status, 1) << "-1: the run hung";
        EXPECT_EQ(outcome.out, bothChanged + "Can't Write File : " + input + "\n");
        expectKeysUntouched();
        if (c.leadsTo.empty()) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(input)));
        } else {
            EXPECT_EQ(fs::read_symlink(input).string(), c.leadsTo);
        }
        EXPECT_TRUE(fs::is_fifo(fifo));
        fs::remove(input);
    }
}

// The stranger swaps the directory above the movie for a link to root's
// private directory just after the read: the run goes on in the directory
// it resolved, so root's file of that name is never touched.
TEST_F(RunRaces, ADirectorySwappedAfterTheReadChangesNothingElsewhere) {
    const std::string movieInSub = home + "/sub/authorized_keys";
    writeAsStranger(movieInSub, movie);
    const Outcome outcome = run(movieInSub, movieInSub, host::STEP_INPUT_READ, [&] {
        return rename((home + "/sub").c_str(), (home + "/moved").c_str()) == 0 &&
               symlink(secret.c_str(), (home + "/sub").c_str()) == 0;
    });
    ASSERT_TRUE(outcome.swapped);
    EXPECT_EQ(outcome.status, 0);
    expectKeysUntouched();
    EXPECT_NE(read(home + "/moved/authorized_keys").find("<swf version=\"10\">"), std::string::npos);
    EXPECT_EQ(ownershipOf(home + "/moved/authorized_keys").owner, stranger);
}

// When the new file appears, the stranger swaps the output (their own
// file) for a link to a root-owned set-user-ID program. The new file takes
// its attributes from the file the run found, never from what a name
// leads to later: the stranger's content does not become root's program.
TEST_F(RunRaces, AttributesComeFromTheFileFoundNotFromWhatANameLeadsToLater) {
    const std::string program = secret + "/program";
    write(program, "root's program");
    ASSERT_EQ(chmod(program.c_str(), 06755), 0);
    ASSERT_EQ(chmod(secret.c_str(), 0755), 0);
    const std::string output = home + "/out.xml";
    writeAsStranger(output, "old");
    const Outcome outcome = run(input, output, host::STEP_SET_ATTRIBUTES, [&] {
        return rename(output.c_str(), (output + ".old").c_str()) == 0 && symlink(program.c_str(), output.c_str()) == 0;
    });
    ASSERT_TRUE(outcome.swapped);
    EXPECT_EQ(outcome.status, 0);
    const Ownership made = ownershipOf(output);
    EXPECT_EQ(made.owner, stranger);
    EXPECT_EQ(made.mode, 0644u);
    EXPECT_EQ(read(program), "root's program");
    EXPECT_EQ(ownershipOf(program).mode, 06755u);
}

// A device the stranger may write is the output; just after the read the
// stranger swaps it for a link to root's private file. The run writes into
// the device it found, opened once, never into root's file.
TEST_F(RunRaces, AWrittenThroughOutputIsOpenedOnceAsFound) {
    const std::string device = home + "/null";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(chown(device.c_str(), stranger, stranger), 0);
    const Outcome outcome = run(input, device, host::STEP_INPUT_READ, [&] {
        return rename(device.c_str(), (device + ".old").c_str()) == 0 && symlink(keys.c_str(), device.c_str()) == 0;
    });
    ASSERT_TRUE(outcome.swapped);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out, bothChanged);
    expectKeysUntouched();
}

}  // namespace

#endif
