// The output against another local user: one who can write OUTPUT's
// directory or read its temporary file gets no way in, and what OUTPUT
// allows (owner, group, access list) is kept. The stranger is uid and gid
// 65534, played by a child process of a root test.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "second_user.h"
#include "tool_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string movie = "<swf version=\"8\"><FileAttributes/></swf>";
const std::string patchedMovie =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n  <swf version=\"10\">\n    <FileAttributes allowABC=\"1\"/>\n  </swf>\n";
constexpr uid_t stranger = 65534;

// The stranger's part, in a child that drops to uid and gid 65534: it does
// its first step, tells the test, waits to be told to go on (or for
// patience to run out, which it reports as status 3), does its last step
// and exits with what that returned.
class clStranger {
public:
    clStranger(std::function<bool()> first, std::function<bool()> last, int patienceSeconds = 10) {
        int ready[2], proceed[2];
        if (pipe(ready) != 0 || pipe(proceed) != 0) throw std::runtime_error("pipe failed");
        pid = fork();
        if (pid == 0) {
            close(ready[0]);
            close(proceed[1]);
            if (setgroups(0, nullptr) != 0 || setgid(stranger) != 0 || setuid(stranger) != 0) _exit(127);
            const char ok = first() ? 'y' : 'n';
            if (write(ready[1], &ok, 1) != 1) _exit(126);
            struct timeval wait = {patienceSeconds, 0};
            fd_set set;
            FD_ZERO(&set);
            FD_SET(proceed[0], &set);
            if (select(proceed[0] + 1, &set, nullptr, nullptr, &wait) != 1) _exit(3);
            _exit(last() ? 0 : 1);
        }
        close(ready[1]);
        close(proceed[0]);
        char ok = 'n';
        firstDone = read(ready[0], &ok, 1) == 1 && ok == 'y';
        close(ready[0]);
        goOn = proceed[1];
    }
    // Lets the stranger take its last step; the status it exited with.
    int finish() {
        const char go = 'g';
        signal(SIGPIPE, SIG_IGN);  // a stranger out of patience has gone
        const bool told = write(goOn, &go, 1) == 1;
        close(goOn);
        int status = 0;
        waitpid(pid, &status, 0);
        return told && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool firstDone = false;

private:
    pid_t pid = -1;
    int goOn = -1;
};

class ToolOutputSecurity : public ::testing::Test {
protected:
    TempDir dir;
    const std::string input = dir.path("in.xml");
    const std::string output = dir.path("out.xml");
    void SetUp() override { writeFile(input, movie); }

    void requireStranger() {
        if (!canPlayStranger()) GTEST_SKIP() << "playing a second user needs root";
    }
    // The work directory as one that every user may write, as /tmp is.
    void makeShared() {
        ASSERT_EQ(chmod(dir.path().c_str(), 01777), 0);
        ASSERT_EQ(chmod(fs::path(dir.path()).parent_path().c_str(), 0755), 0);
    }
};

// A name linked to an unrelated file, put where a temporary file once
// went: the run never writes into it, so the other file keeps its content.
TEST_F(ToolOutputSecurity, NeverWritesThroughAnotherNameOfAFile) {
    const std::string victim = dir.path("victim");
    writeFile(victim, "precious");
    ASSERT_EQ(link(victim.c_str(), (output + ".tmp").c_str()), 0);
    const RunResult result = dir.run({input, output}, 1 << 20);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(readFile(output + ".tmp"), "precious");
    EXPECT_EQ(readFile(output), patchedMovie);
    EXPECT_TRUE(temporaryFilesBeside(output).empty());
}

// In a directory that anyone may write, a stranger's file at the temporary
// path, kept open and locked, neither stalls an in-place run nor lets the
// stranger write into its result afterwards.
TEST_F(ToolOutputSecurity, AStrangersFileInTheWayIsNeitherUsedNorWaitedFor) {
    requireStranger();
    makeShared();
    writeFile(output, movie);
    const std::string temporary = output + ".tmp";
    int held = -1;
    clStranger other([&] {
        held = open(temporary.c_str(), O_RDWR | O_CREAT, 0666);
        return held >= 0 && flock(held, LOCK_EX) == 0;
    }, [&] { return pwrite(held, "EVIL WAS HERE", 13, 0) == 13; });
    ASSERT_TRUE(other.firstDone);
    const RunResult result = dir.run({output, output}, 1 << 20);
    EXPECT_EQ(other.finish(), 0) << "the run waited for the stranger's lock";
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(output), patchedMovie);
}

// The stranger's own run in that directory meets a file of root's, held
// locked, where a temporary file once went: it neither waits for it nor
// touches it, and makes its own file.
TEST_F(ToolOutputSecurity, AnotherUsersLockedFileBesideTheOutputIsLeftAlone) {
    requireStranger();
    makeShared();
    const std::string temporary = output + ".tmp";
    writeFile(temporary, "root's");
    ASSERT_EQ(chmod(temporary.c_str(), 0644), 0);
    const int held = open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    RunOptions options;
    options.asStranger = true;
    // A run that waits is let go after a while, and fails the test.
    int ran[2];
    ASSERT_EQ(pipe(ran), 0);
    bool waited = false;
    std::thread release([&] {
        struct pollfd done = {ran[0], POLLIN, 0};
        waited = poll(&done, 1, 10000) == 0;
        close(held);
    });
    const RunResult result = runToolWith({input, output}, dir.path() + "/../stdout", options);
    close(ran[1]);
    release.join();
    close(ran[0]);
    EXPECT_FALSE(waited) << "the run waited for root's lock";
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "swf tag changed\nFileAttributes tag changed\n");
    EXPECT_EQ(readFile(temporary), "root's");
    EXPECT_EQ(readFile(output), patchedMovie);
}

// A member of a file's group who does not own it patches it: the file
// keeps its group, so the other members keep their access.
TEST_F(ToolOutputSecurity, KeepsTheGroupWhenTheOwnerCannotBeKept) {
    requireStranger();
    constexpr gid_t shared = 5000;
    writeFile(output, movie);
    ASSERT_EQ(chown(output.c_str(), 0, shared), 0);
    ASSERT_EQ(chmod(output.c_str(), 0660), 0);
    ASSERT_EQ(chown(dir.path().c_str(), 0, shared), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0770), 0);
    ASSERT_EQ(chmod(fs::path(dir.path()).parent_path().c_str(), 0755), 0);
    RunOptions options;
    options.asStranger = true;
    options.strangerGroups = {shared};
    const RunResult result = runToolWith({output, output}, dir.path() + "/../stdout", options);
    ASSERT_EQ(result.status, 0) << result.out;
    struct stat info;
    ASSERT_EQ(stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, stranger);
    EXPECT_EQ(info.st_gid, shared);
    EXPECT_EQ(info.st_mode & 07777, 0660u);
}

// An access list naming one user and shutting out the owning group is
// kept whole: that user keeps access, the group stays out.
TEST_F(ToolOutputSecurity, KeepsTheAccessList) {
    writeFile(output, movie);
    // user::rw- user:1002:rw- group::--- mask::rw- other::---, as the
    // kernel stores it: a version, then (tag, permissions, id) entries.
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t none = 0xFFFFFFFF;
    const std::uint32_t version = 2;
    const Entry entries[] = {{0x01, 6, none}, {0x02, 6, 1002}, {0x04, 0, none}, {0x10, 6, none}, {0x20, 0, none}};
    std::string acl(reinterpret_cast<const char*>(&version), 4);
    acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
    if (setxattr(output.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "this file system keeps no access lists: " << std::strerror(errno);
    }
    ASSERT_EQ(dir.run({output, output}, 1 << 20).status, 0);
    std::string kept(256, '\0');
    const ssize_t size = getxattr(output.c_str(), "system.posix_acl_access", &kept[0], kept.size());
    ASSERT_GT(size, 0) << "the access list was dropped";
    kept.resize(static_cast<std::size_t>(size));
    EXPECT_EQ(kept, acl);
    EXPECT_EQ(readFile(output), patchedMovie);
}

// Links another user planted, in a directory that anyone may write (as
// /tmp) or in that user's own tree: root follows one only to what that
// same user owns, after any further links. Refused, the run changes
// nothing and reports the path it could not open or write.
TEST_F(ToolOutputSecurity, AnotherUsersLinkLeadsOnlyToWhatThatUserOwns) {
    requireStranger();
    makeShared();
    const std::string vault = dir.path("vault");  // root's, which only root may enter
    fs::create_directory(vault);
    ASSERT_EQ(chmod(vault.c_str(), 0700), 0);
    const std::string secret = vault + "/secret.xml";
    writeFile(secret, movie);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const std::string thirdHome = dir.path("third");  // a third user's private movie
    fs::create_directory(thirdHome);
    const std::string thirdMovie = thirdHome + "/movie.xml";
    writeFile(thirdMovie, movie);
    ASSERT_EQ(chmod(thirdMovie.c_str(), 0600), 0);
    ASSERT_EQ(chown(thirdMovie.c_str(), 65533, 65533), 0);
    ASSERT_EQ(chown(thirdHome.c_str(), 65533, 65533), 0);
    ASSERT_EQ(chmod(thirdHome.c_str(), 0700), 0);
    const std::string strangers = dir.path("strangers.xml");  // the stranger's own
    writeFile(strangers, movie);
    ASSERT_EQ(chown(strangers.c_str(), qor_test::stranger, qor_test::stranger), 0);
    const std::string rootsLink = dir.path("roots-link");  // root's own link to its secret
    ASSERT_EQ(symlink(secret.c_str(), rootsLink.c_str()), 0);

    struct Case {
        const char* name;
        std::string target;  // of the stranger's link
        bool asInput;        // the link is INPUT (else OUTPUT, with in.xml as INPUT)
        std::string suffix;  // what the given path adds after the link
        bool followed;
    };
    const Case cases[] = {
        {"output to root's private file", secret, false, "", false},
        {"output to a new name in root's directory", vault + "/new.xml", false, "", false},
        {"output through root's directory", vault, false, "/secret.xml", false},
        {"output to root's link to its file", rootsLink, false, "", false},
        {"output to the run's own standard output, root's file", "/dev/stdout", false, "", false},
        {"input from a third user's private movie", thirdMovie, true, "", false},
        {"output to the stranger's own file", strangers, false, "", true},
        {"input from the stranger's own file", strangers, true, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string link = dir.path("planted");
        fs::remove(link);
        ASSERT_TRUE(qor_test::asStranger([&] { return symlink(c.target.c_str(), link.c_str()) == 0; }));
        const std::string given = link + c.suffix;
        const std::string out = dir.path("out.xml");
        fs::remove(out);
        const RunResult result = c.asInput ? dir.run({given, out}, 1 << 20) : dir.run({input, given}, 1 << 20);
        if (c.followed) {
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(readFile(c.asInput ? out : strangers), patchedMovie);
            writeFile(strangers, movie);
        } else if (c.asInput) {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "Can't Open File : " + given + "\n");
            EXPECT_FALSE(exists(out));
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(result.out, "swf tag changed\nFileAttributes tag changed\nCan't Write File : " + given + "\n");
        }
        EXPECT_EQ(readFile(secret), movie);
        EXPECT_EQ(readFile(thirdMovie), movie);
        EXPECT_FALSE(exists(vault + "/new.xml"));
        struct stat info;
        ASSERT_EQ(stat(secret.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, 0u);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
    }
}

// Root's run in a directory that anyone may write leaves another user's
// file at the name a temporary file once had, which the stranger could
// not remove, where it is.
TEST_F(ToolOutputSecurity, AnotherUsersFileBesideTheOutputIsNeverRemoved) {
    requireStranger();
    makeShared();
    const std::string theirs = output + ".tmp";
    writeFile(theirs, "a third user's report");
    ASSERT_EQ(chown(theirs.c_str(), 65533, 65533), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0600), 0);
    writeFile(output, movie);
    const RunResult result = dir.run({output, output}, 1 << 20);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(output), patchedMovie);
    EXPECT_EQ(readFile(theirs), "a third user's report");
}

}  // namespace

#endif
