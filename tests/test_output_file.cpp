#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include <iostream>
#include <memory>
#include <functional>
#include <thread>
#include <tuple>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#else
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>

#include "support/child.h"
#endif

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/output_file.h"
#include "driver/run.h"
#include "support/documents.h"
#include "support/files.h"
#include "support/seams.h"
#include "xml_fixture.h"

namespace {

using namespace qor_test;

class OutputFile : public XmlFixture {
protected:
    // Replaces the file at path, resolved as a run resolves its output.
    bool replaceAt(const std::string& path) {
        host::clPlace place;
        place.resolve(path);
        return replaceOutputFile(doc, place, nullptr) == OUTPUT_WRITTEN;
    }

    const std::string output = dir.path("out.xml");
};

// The path of a file the step seam hands over open.
#ifdef _WIN32
std::string pathOf(host::tyStepFile file) {
    wchar_t found[32768];
    const DWORD length = GetFinalPathNameByHandleW(file, found, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= 32768) return "";
    // The long form's prefix, which the narrow file calls do not take.
    const std::wstring path(found, length);
    return fs::path(path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path).u8string();
}
#else
std::string pathOf(host::tyStepFile fd) {
    std::error_code error;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
}
#endif

// Whether path names a new file beside output, as the step seam reports it.
bool isTemporaryBeside(const std::string& path, const std::string& output) {
    std::error_code error;
    const fs::path file = fs::u8path(path), besides = fs::u8path(output);
    return fs::equivalent(file.parent_path(), besides.parent_path(), error) &&
           isTemporaryNameFor(file.filename().u8string(), besides.filename().u8string());
}

TEST_F(OutputFile, FailsWithoutLeavingAnythingBehind) {
    parse("<a/>");
    EXPECT_FALSE(replaceAt(dir.path("missing/out.xml")));
    EXPECT_TRUE(dir.names().empty());

    const std::string directory = dir.path("sub");
    fs::create_directory(directory);
    EXPECT_FALSE(replaceAt(directory));
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_TRUE(fs::is_empty(directory));
    EXPECT_EQ(dir.names(), Names{"sub"});
}

// What a crash at each step would leave: at the sync, the old output and
// beside it the whole new file; then the rename, and then its directory
// synced, so that a run's success survives a power cut.
TEST_F(OutputFile, SyncsTheNewFileThenRenamesItThenSyncsTheDirectory) {
    std::ofstream(output) << "old";
    parse("<?xml?><swf version=\"10\"/>");
    std::vector<std::string> seen;
    const StepHook hook([&](host::enStep step, host::tyStepFile file) {
        const char* const names[] = {"read ", "attributes ", "sync ", "rename ", "directory "};
        const std::string path = pathOf(file);
        std::error_code error;
        std::string what = path;
        if (isTemporaryBeside(path, output)) {
            what = step == host::STEP_SYNC_DATA ? readFile(path) + "|" + readFile(output) : "new";
        }
        if (fs::equivalent(path, fs::path(output).parent_path(), error)) what = "its directory";
        seen.push_back(names[step] + what);
    });
    ASSERT_TRUE(replaceAt(output));
    const std::string written = declaration + hostLines("\n  <swf version=\"10\"/>\n");
    std::vector<std::string> steps{"attributes new", "sync " + written + "|old", "rename new"};
#ifndef _WIN32
    steps.push_back("directory its directory");  // Windows writes the move itself through
#endif
    EXPECT_EQ(seen, steps);
    EXPECT_EQ(readFile(output), written);
    EXPECT_EQ(dir.names(), Names{"out.xml"});
}

// A program reading the old output for a moment (another run checking the
// path, a scanner) does not make the run fail; it keeps what it opened.
TEST_F(OutputFile, OutlastsABriefReaderOfTheOldOutput) {
    std::ofstream(output) << "old";
    auto reader = std::make_unique<std::ifstream>(output, std::ios::binary);
    ASSERT_TRUE(reader->is_open());
    std::thread leaves([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(*reader), std::istreambuf_iterator<char>()), "old");
        reader.reset();
    });
    parse("<a/>");
    const bool replaced = replaceAt(output);
    leaves.join();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(readFile(output), declaration + hostLines("  <a/>\n"));
    EXPECT_EQ(dir.names(), Names{"out.xml"});
}

#ifndef _WIN32
// Whoever can write the directory swaps the written temporary file for a
// link to a private file elsewhere, just before the run would give it the
// output's owner and permissions: nothing reaches that file, the link is
// not renamed over the output, and the run fails.
TEST_F(OutputFile, ASwappedTemporaryFileChangesNothingElsewhere) {
    std::ofstream(output) << "old";
    ASSERT_EQ(::chmod(output.c_str(), 0666), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(output.c_str(), 65534, 65534), 0);
    }
    const std::string victim = dir.path("victim");
    std::string temporary;
    writeFileOf(::geteuid(), 0600, victim, "secret");
    const StepHook hook([&](host::enStep step, host::tyStepFile file) {
        if (step != host::STEP_SET_ATTRIBUTES) return;
        temporary = pathOf(file);
        fs::rename(temporary, temporary + ".moved");
        fs::create_symlink(victim, temporary);
    });
    parse("<a/>");
    EXPECT_FALSE(replaceAt(output));
    EXPECT_EQ(ownershipOf(victim).mode, 0600u);
    EXPECT_EQ(ownershipOf(victim).owner, ::geteuid());
    EXPECT_EQ(readFile(victim), "secret");
    EXPECT_EQ(readFile(output), "old");
    EXPECT_TRUE(fs::is_symlink(temporary));  // not ours, so not removed
}

// Until all of it is written, the new content is its owner's alone,
// whatever the umask; only then does it take the output's permissions.
TEST_F(OutputFile, TheTemporaryFileIsPrivateUntilWritten) {
    std::ofstream(output) << "old";
    ASSERT_EQ(::chmod(output.c_str(), 0640), 0);
    mode_t seen = 0;
    const StepHook hook([&](host::enStep step, host::tyStepFile file) {
        struct stat info;
        if (step == host::STEP_SET_ATTRIBUTES && ::fstat(file, &info) == 0) seen = info.st_mode & 07777;
    });
    const mode_t mask = ::umask(0);
    parse("<a/>");
    const bool replaced = replaceAt(output);
    ::umask(mask);
    ASSERT_TRUE(replaced);
    EXPECT_EQ(seen, 0600u);
    EXPECT_EQ(ownershipOf(output).mode, 0640u);
}

// SIGINT, SIGTERM or SIGHUP at any step of an in-place run: the run ends
// by that signal, OUTPUT is the old file or the new one, whole, and no
// temporary file is left. Each run is a child of the test.
TEST_F(OutputFile, AnEndingSignalLeavesNoTemporaryFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const host::enStep step : {host::STEP_INPUT_READ, host::STEP_SET_ATTRIBUTES, host::STEP_SYNC_DATA,
                                        host::STEP_RENAME, host::STEP_SYNC_DIRECTORY}) {
            SCOPED_TRACE("signal " + std::to_string(signal) + " before step " + std::to_string(step));
            writeFile(output, movie);
            const ChildEnd end = runChild([&] {
                const StepHook hook([&](host::enStep now, host::tyStepFile) {
                    if (now == step) ::raise(signal);
                });
                qor::utility::clXML document;
                return redirect(dir.beside("stdout").c_str()) && runUpgrade(document, output, output) == 0 ? 100 : 101;
            });
            EXPECT_EQ(end.signal, signal) << "status " << end.status;
            EXPECT_EQ(dir.names(), Names{"out.xml"});
            const std::string now = readFile(output);
            EXPECT_TRUE(now == movie || now == patchedMovie) << now;
        }
    }
}

// A sync after the rename fails (the descriptor to sync is swapped for
// one only to look at, which cannot be synced): OUTPUT is replaced, and
// the run says that it may not survive a power cut.
TEST_F(OutputFile, ASyncFailingAfterTheRenameIsReported) {
    writeFile(output, movie);
    const StepHook hook([](host::enStep step, host::tyStepFile file) {
        if (step != host::STEP_SYNC_DIRECTORY) return;
        const int unsyncable = ::open(pathOf(file).c_str(), O_PATH | O_CLOEXEC);
        ::dup2(unsyncable, file);
        ::close(unsyncable);
    });
    ::testing::internal::CaptureStdout();
    qor::utility::clXML document;
    const int status = runUpgrade(document, output, output);
    const std::string said = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(said, bothChanged + "Can't Sync File : " + output + "\n");
    EXPECT_EQ(readFile(output), patchedMovie);
    EXPECT_EQ(dir.names(), Names{"out.xml"});
}

// Makes every later call of the system call number fail with error, in
// this process; false when the host allows no such filter.
bool refuseSystemCall(long number, int error) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(number), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<unsigned>(error) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Each attribute the old file has and this user may set, the new file
// takes. Where the host refuses to give one (an I/O error from the call
// that sets it), the replacement fails before the rename, the old file
// stays as it was and no new file is left; each such replacement is a
// child of the test.
TEST_F(OutputFile, KeepsTheOldFilesAttributesOrFailsTheReplacement) {
    const std::string acl = accessList(1002, 4, 4, 4);  // user::rw- user:1002:r-- group::r-- mask::r-- other::---
    // Each attribute, the system call that sets it, how the old file is given
    // it (false: not here), and whether a file has it.
    using Check = std::function<bool(const std::string&)>;
    const std::tuple<const char*, long, Check, Check> cases[] = {
        {"access list", SYS_fsetxattr,
         [&](const std::string& path) {
             return ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
         },
         [&](const std::string& path) { return accessListOf(path) == acl; }},
        {"owner and group", SYS_fchown,
         [](const std::string& path) { return ::geteuid() == 0 && ::chown(path.c_str(), 12345, 23456) == 0; },
         [](const std::string& path) { return ownershipOf(path).owner == 12345 && ownershipOf(path).group == 23456; }},
        {"permissions", SYS_fchmod, [](const std::string& path) { return ::chmod(path.c_str(), 0640) == 0; },
         [](const std::string& path) { return ownershipOf(path).mode == 0640; }},
    };
    parse("<a/>");
    for (const auto& [attribute, refused, give, has] : cases) {
        SCOPED_TRACE(attribute);
        fs::remove(output);
        std::ofstream(output) << "old";
        if (!give(output)) {
            std::cout << "skipped: this user or file system cannot give a file its " << attribute << "\n";
            continue;
        }
        EXPECT_TRUE(replaceAt(output));
        EXPECT_TRUE(has(output));
        const ChildEnd end = runChild([&, refused = refused] { return refuseSystemCall(refused, EIO) ? !replaceAt(output) : 2; });
        if (end.status == 2) GTEST_SKIP() << "no system call filters here";
        EXPECT_EQ(end.status, 1) << "replaced without its " << attribute;
        EXPECT_EQ(readFile(output), declaration + "  <a/>\n");
        EXPECT_EQ(dir.names(), Names{"out.xml"});
    }
}

#endif

// The random draws a run makes, from the first: 0, 1, 2...
std::uint64_t drawsMade;
std::uint64_t countingDraw() { return drawsMade++; }

// Whatever stands at the name a run draws first for its new file, put
// there by anyone, is neither opened, followed, truncated, waited for nor
// removed: the run draws again and puts its file in place. What stands at
// OUTPUT.tmp, a name the tool once used and draws no more, is left alone
// too.
TEST_F(OutputFile, WhatStandsAtADrawnNameIsLeftAloneAndAnotherDrawn) {
    const std::string taken = dir.path(host::temporaryNameFor("out.xml", 0));
    const std::string oldName = output + ".tmp";
    const std::string victim = dir.path("victim");
    const std::string planted = "planted";
#ifndef _WIN32
    int held = -1;  // a descriptor the case keeps open meanwhile
    // A file of owner's at path, held open and locked; false where this
    // user cannot give a file away.
    const auto plantHeld = [&](const std::string& path, uid_t owner) {
        writeFile(path, planted);
        held = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        return ::flock(held, LOCK_EX) == 0 && (owner == ::geteuid() || ::chown(path.c_str(), owner, owner) == 0);
    };
    const auto plantTheirs = [&](const std::string& path) { return plantHeld(path, stranger); };
    const auto isTheirs = [&](const std::string& path) {
        return readFile(path) == planted && ownershipOf(path).owner == stranger;
    };
#else
    // Windows plays no other user: a file of this user's stands in.
    const auto plantTheirs = [&](const std::string& path) { return writeFile(path, planted), true; };
    const auto isTheirs = [&](const std::string& path) { return readFile(path) == planted; };
#endif
    const struct {
        const char* what;
        std::function<bool()> plant;
        std::function<bool()> unharmed;
        std::uint64_t draws = 2;  // the first name drawn is taken
        bool byStranger = false;  // the replacement is another user's, in a child
    } cases[] = {
        {"a file", [&] { return writeFile(taken, planted), true; }, [&] { return readFile(taken) == planted; }},
        {"a directory", [&] { return fs::create_directory(taken) && (writeFile(taken + "/in", ""), true); },
         [&] { return fs::is_directory(taken) && exists(taken + "/in"); }},
        {"another user's file, held locked, at the old name OUTPUT.tmp", [&] { return plantTheirs(oldName); },
         [&] { return isTheirs(oldName); }, 1},
#ifndef _WIN32
        {"a file held locked", [&] { return plantHeld(taken, ::geteuid()); }, [&] { return readFile(taken) == planted; }},
        {"a link to another file", [&] { return ::symlink(victim.c_str(), taken.c_str()) == 0; },
         [&] { return fs::is_symlink(taken) && readFile(victim) == "victim's"; }},
        {"a link to nothing yet", [&] { return ::symlink(dir.path("absent").c_str(), taken.c_str()) == 0; },
         [&] { return fs::is_symlink(taken) && !exists(dir.path("absent")); }},
        {"a hard link to another file", [&] { return ::link(victim.c_str(), taken.c_str()) == 0; },
         [&] { return readFile(victim) == "victim's" && fs::hard_link_count(victim) == 2; }},
        {"a FIFO with a reader", [&] {
             if (::mkfifo(taken.c_str(), 0600) != 0) return false;
             held = ::open(taken.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
             return held >= 0;
         }, [&] {
             char byte;
             return fs::is_fifo(taken) && ::read(held, &byte, 1) == 0;  // no writer ever came
         }},
        {"another user's file", [&] { return ::geteuid() == 0 && (writeFileOf(stranger, 0644, taken, planted), true); },
         [&] { return isTheirs(taken); }},
        // Its owner writes into it after the run: nothing of that reaches the output.
        {"another user's file held open and locked", [&] { return plantTheirs(taken); },
         [&] { return isTheirs(taken) && ::pwrite(held, "written after", 13, 0) == 13; }},
        // The run is the other user's, in a directory that user may write.
        {"root's file held locked", [&] {
             return ::geteuid() == 0 && plantHeld(taken, 0) && ::chmod(dir.path().c_str(), 0777) == 0 &&
                    ::chown(output.c_str(), stranger, stranger) == 0;
         }, [&] { return readFile(taken) == planted && ownershipOf(taken).owner == 0; }, 2, true},
#endif
    };
    parse("<a/>");
    const RandomDraws draws(countingDraw);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.clear();
        writeFile(victim, "victim's");
        writeFile(output, "old");
        if (!c.plant()) {
            std::cout << "skipped: cannot plant " << c.what << " here\n";
            continue;
        }
        drawsMade = 0;
        const auto replace = [&] { return replaceAt(output) && drawsMade == c.draws; };
#ifdef _WIN32
        EXPECT_TRUE(replace());
#else
        const auto asStrangerForAWhile = [&] {
            const auto theirReplacement = [&] { return becomeStranger() && replace() ? 0 : 1; };
            return runChild(theirReplacement, std::chrono::seconds(10)).status == 0;
        };
        EXPECT_TRUE(c.byStranger ? asStrangerForAWhile() : replace()) << drawsMade << " draws";
#endif
        EXPECT_TRUE(c.unharmed());
        EXPECT_EQ(readFile(output), declaration + hostLines("  <a/>\n"));
        EXPECT_EQ(exists(taken), c.draws > 1);
#ifndef _WIN32
        if (held >= 0) ::close(held);
        held = -1;
#endif
    }
}

#ifdef _WIN32
// Until all of it is written, the new content is its owner's alone: from
// its creation one access entry, for the user running the run, and none
// passed on from the directory. Only then does it take the output's.
TEST_F(OutputFile, TheTemporaryFileIsPrivateUntilWritten) {
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        GTEST_SKIP() << "Wine keeps no security descriptor given at creation, and reads back one made up";
    }
    std::ofstream(output) << "old";
    std::string seen;
    const StepHook hook([&](host::enStep step, host::tyStepFile file) {
        if (step != host::STEP_SET_ATTRIBUTES) return;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
            seen = "unreadable";
            return;
        }
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        seen = (control & SE_DACL_PROTECTED) ? "protected" : "inherits";
        HANDLE token = nullptr;
        BYTE user[256];
        DWORD size = 0;
        OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        GetTokenInformation(token, TokenUser, user, sizeof user, &size);
        CloseHandle(token);
        for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* entry = nullptr;
            GetAce(dacl, i, reinterpret_cast<void**>(&entry));
            const bool mine = EqualSid(&entry->SidStart, reinterpret_cast<TOKEN_USER*>(user)->User.Sid);
            seen += entry->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && mine ? " user" : " other";
        }
        LocalFree(descriptor);
    });
    parse("<a/>");
    ASSERT_TRUE(replaceAt(output));
    EXPECT_EQ(seen, "protected user");
}
#endif

// Fresh names for the temporary file: beside the output's own, as long as
// a directory entry allows at most, and different for each draw.
TEST(TemporaryName, KeepsTheNamesStartWithinTheLimit) {
    EXPECT_EQ(host::temporaryNameFor("m.xml", 0), "m.xml.0000000000.tmp");
    EXPECT_NE(host::temporaryNameFor("m.xml", 1), host::temporaryNameFor("m.xml", 2));
    EXPECT_NE(host::temporaryNameFor("m.xml", 1), host::temporaryNameFor("m.xml", 1 + 62 * 62 * 62));
    const std::string longName(253, 'n');
    const std::string shortened = host::temporaryNameFor(longName, 12345);
    EXPECT_EQ(shortened.size(), 255u);
    EXPECT_EQ(shortened.compare(0, 240, longName, 0, 240), 0);
    EXPECT_EQ(shortened.substr(251), ".tmp");
}

}  // namespace
