// Root runs the tool in place over a tree another local user owns, and
// that user swaps names at the worst moment: just after the input is read,
// or when the new file is about to take its attributes. Whatever the user
// does, the run touches nothing outside that user's reach. The user is
// uid and gid 65534, played by a child process that drops privileges; the
// run itself goes on in a child of the test, so that a run that hangs is
// seen as one.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <iostream>

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/run.h"
#include "support/child.h"
#include "support/documents.h"
#include "support/files.h"
#include "support/scratch_dir.h"
#include "support/seams.h"

namespace {

using namespace qor_test;

struct Outcome {
    int status = -1;  // the run's exit status; -1 when it did not end in time
    bool swapped = false;
    std::string out;  // its messages, and anything else it wrote there
};

// A tree the stranger owns, home/, beside a directory only root may
// enter, private/, which holds root's files.
class RunRaces : public ::testing::Test {
protected:
    void SetUp() override {
        if (!canPlayStranger()) GTEST_SKIP() << "playing a second user needs root";
        fs::create_directories(home + "/sub");
        for (const std::string& path : {home, home + "/sub"}) ASSERT_EQ(chown(path.c_str(), stranger, stranger), 0);
        makeDirectoryOf(0, 0700, secret);
        writeFileOf(0, 0600, keys, "root's keys\n");
        writeFileOf(stranger, 0644, input, movie);
    }

    // The run of `swfupgrade in out` as root, with the stranger's swap at
    // its step, in a child with its standard output in a file. The child
    // exits with the run's status, plus 10 when the swap was not made.
    Outcome run(const std::string& in, const std::string& out, host::enStep step, const std::function<bool()>& swap) {
        const std::string stdoutFile = dir.beside("stdout");
        const ChildEnd end = runChild([&] {
            bool swapped = false;
            const StepHook hook([&](host::enStep now, host::tyStepFile) {
                if (now == step && !swapped) swapped = asStranger(swap);
            });
            if (!redirect(stdoutFile.c_str())) return 127;
            qor::utility::clXML document;
            const int status = runUpgrade(document, in, out);
            std::cout.flush();
            return swapped ? status : status + 10;
        }, std::chrono::seconds(10));
        Outcome outcome;
        outcome.status = end.status < 0 ? -1 : end.status % 10;
        outcome.swapped = end.status >= 0 && end.status < 10;
        outcome.out = readFile(stdoutFile);
        return outcome;
    }

    // Root's private file is as it was.
    void expectKeysUntouched() {
        EXPECT_EQ(readFile(keys), "root's keys\n");
        const Ownership now = ownershipOf(keys);
        EXPECT_EQ(now.owner, 0u);
        EXPECT_EQ(now.mode, 0600u);
    }

    ScratchDir dir;
    const std::string home = dir.path("home"), secret = dir.path("private");
    const std::string keys = secret + "/authorized_keys", input = home + "/movie.xml";
};

// Just after root's in-place run has read the movie, the stranger puts
// something else at its name. The file there is no longer the one that
// was read, so the run replaces nothing, opens nothing at that name, and
// says so; whatever the name now leads to stays as it was.
TEST_F(RunRaces, ANameSwappedAfterTheReadIsNotReplaced) {
    const std::string fifo = home + "/fifo";
    // Each case, and the link the stranger puts at the movie's name (empty: none).
    const std::pair<const char*, std::string> cases[] = {
        {"a link to root's private file", keys},
        {"a link to a FIFO, which would stall a writer", fifo},
        {"a link to the run's own standard output", "/dev/stdout"},
        {"the movie deleted: a new root-owned file would appear", ""},
    };
    for (const auto& [name, leadsTo] : cases) {
        SCOPED_TRACE(name);
        writeFileOf(stranger, 0644, input, movie);
        fs::remove(fifo);
        ASSERT_TRUE(asStranger([&] { return mkfifo(fifo.c_str(), 0644) == 0; }));
        const Outcome outcome = run(input, input, host::STEP_INPUT_READ, [&, &leadsTo = leadsTo] {
            if (unlink(input.c_str()) != 0) return false;
            return leadsTo.empty() || symlink(leadsTo.c_str(), input.c_str()) == 0;
        });
        ASSERT_TRUE(outcome.swapped);
        EXPECT_EQ(outcome.status, 1) << "-1: the run hung";
        EXPECT_EQ(outcome.out, bothChanged + "Can't Write File : " + input + "\n");
        expectKeysUntouched();
        if (leadsTo.empty()) {
            EXPECT_FALSE(fs::exists(fs::symlink_status(input)));
        } else {
            EXPECT_EQ(fs::read_symlink(input).string(), leadsTo);
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
    writeFileOf(stranger, 0644, movieInSub, movie);
    const Outcome outcome = run(movieInSub, movieInSub, host::STEP_INPUT_READ, [&] {
        return rename((home + "/sub").c_str(), (home + "/moved").c_str()) == 0 &&
               symlink(secret.c_str(), (home + "/sub").c_str()) == 0;
    });
    ASSERT_TRUE(outcome.swapped);
    EXPECT_EQ(outcome.status, 0);
    expectKeysUntouched();
    EXPECT_NE(readFile(home + "/moved/authorized_keys").find("<swf version=\"10\">"), std::string::npos);
    EXPECT_EQ(ownershipOf(home + "/moved/authorized_keys").owner, stranger);
}

// When the new file appears, the stranger swaps the output (their own
// file) for a link to a root-owned set-user-ID program. The new file takes
// its attributes from the file the run found, never from what a name
// leads to later: the stranger's content does not become root's program.
TEST_F(RunRaces, AttributesComeFromTheFileFoundNotFromWhatANameLeadsToLater) {
    const std::string program = secret + "/program";
    writeFile(program, "root's program");
    ASSERT_EQ(chmod(program.c_str(), 06755), 0);
    ASSERT_EQ(chmod(secret.c_str(), 0755), 0);
    const std::string output = home + "/out.xml";
    writeFileOf(stranger, 0644, output, "old");
    const Outcome outcome = run(input, output, host::STEP_SET_ATTRIBUTES, [&] {
        return rename(output.c_str(), (output + ".old").c_str()) == 0 && symlink(program.c_str(), output.c_str()) == 0;
    });
    ASSERT_TRUE(outcome.swapped);
    EXPECT_EQ(outcome.status, 0);
    const Ownership made = ownershipOf(output);
    EXPECT_EQ(made.owner, stranger);
    EXPECT_EQ(made.mode, 0644u);
    EXPECT_EQ(readFile(program), "root's program");
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
