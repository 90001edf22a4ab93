// The output against another local user: a link that user planted leads
// only to what that user owns, and what OUTPUT allows (owner, group,
// access list) is kept. The stranger is uid and gid 65534, played by a
// child process of a root test.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/tool_run.h"

namespace {

using namespace qor_test;

class ToolOutputSecurity : public ToolFixture {
protected:
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
    const RunResult result = run({output, output}, options);
    ASSERT_EQ(result.status, 0) << result.out;
    const Ownership now = ownershipOf(output);
    EXPECT_EQ(now.owner, stranger);
    EXPECT_EQ(now.group, shared);
    EXPECT_EQ(now.mode, 0660u);
}

// An access list naming one user and shutting out the owning group is
// kept whole: that user keeps access, the group stays out.
TEST_F(ToolOutputSecurity, KeepsTheAccessList) {
    writeFile(output, movie);
    const std::string acl = accessList(1002, 6, 0, 6);  // user::rw- user:1002:rw- group::--- mask::rw- other::---
    if (setxattr(output.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "this file system keeps no access lists: " << std::strerror(errno);
    }
    ASSERT_EQ(run({output, output}).status, 0);
    EXPECT_EQ(accessListOf(output), acl) << "the access list was dropped";
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
    makeDirectoryOf(0, 0700, vault);
    const std::string secret = vault + "/secret.xml";
    writeFileOf(0, 0600, secret, movie);
    const std::string thirdHome = dir.path("third");  // a third user's private movie
    makeDirectoryOf(65533, 0700, thirdHome);
    const std::string thirdMovie = thirdHome + "/movie.xml";
    writeFileOf(65533, 0600, thirdMovie, movie);
    const std::string strangers = dir.path("strangers.xml");  // the stranger's own
    writeFileOf(stranger, 0644, strangers, movie);
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
        ASSERT_TRUE(asStranger([&] { return symlink(c.target.c_str(), link.c_str()) == 0; }));
        const std::string given = link + c.suffix;
        const std::string out = dir.path("out.xml");
        fs::remove(out);
        const RunResult result = c.asInput ? run({given, out}) : run({input, given});
        if (c.followed) {
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(readFile(c.asInput ? out : strangers), patchedMovie);
            writeFile(strangers, movie);
        } else if (c.asInput) {
            EXPECT_TRUE(endedWith(result, 1, "Can't Open File : " + given + "\n"));
            EXPECT_FALSE(exists(out));
        } else {
            EXPECT_TRUE(endedWith(result, 1, bothChanged + "Can't Write File : " + given + "\n"));
        }
        EXPECT_EQ(readFile(secret), movie);
        EXPECT_EQ(readFile(thirdMovie), movie);
        EXPECT_FALSE(exists(vault + "/new.xml"));
        EXPECT_EQ(ownershipOf(secret).owner, 0u);
        EXPECT_EQ(ownershipOf(secret).mode, 0600u);
    }
}

}  // namespace

#endif
