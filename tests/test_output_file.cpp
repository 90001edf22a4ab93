#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <atomic>
#include <memory>
#include <chrono>
#include <thread>
#include <vector>

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
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <functional>
#include <iostream>
#endif

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/output_file.h"
#include "driver/run.h"
#include "host_lines.h"
#include "xml_fixture.h"

namespace {

namespace fs = std::filesystem;
using qor::utility::clXMLNode;

const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

class OutputFile : public qor_test::XmlFixture {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              (std::string("qor_output_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        dir = fs::canonical(dir);  // as the host names it back
        output = (dir / "out.xml").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string read(const std::string& path) {
#ifdef _WIN32
        // Shared for removal too, as the run's own handle to its new file is.
        const HANDLE file = CreateFileW(fs::u8path(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        0, nullptr);
        std::string bytes;
        char block[4096];
        DWORD got = 0;
        while (file != INVALID_HANDLE_VALUE && ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) {
            bytes.append(block, got);
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return bytes;
#else
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
#endif
    }

    // Replaces the file at path, resolved as a run resolves its output.
    bool replaceAt(const std::string& path) {
        host::clPlace place;
        place.resolve(path);
        return replaceOutputFile(doc, place, nullptr) == OUTPUT_WRITTEN;
    }

    // Every name in the directory: shows anything left behind.
    std::vector<std::string> names() const {
        std::vector<std::string> all;
        for (const auto& entry : fs::directory_iterator(dir)) all.push_back(entry.path().filename().string());
        std::sort(all.begin(), all.end());
        return all;
    }

    fs::path dir;
    std::string output;
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

// The temporary file's name as the step seam reports it: beside the
// output, its name's start, ten random letters or digits and ".tmp".
bool isTemporaryBeside(const std::string& path, const std::string& output) {
    std::error_code error;
    const fs::path file = fs::u8path(path), besides = fs::u8path(output);
    if (!fs::equivalent(file.parent_path(), besides.parent_path(), error)) return false;
    const std::string name = file.filename().u8string(), outputName = besides.filename().u8string();
    const std::string tail = name.size() > outputName.size() ? name.substr(outputName.size()) : "";
    if (name.compare(0, outputName.size(), outputName) != 0 || tail.size() != 15 || tail[0] != '.') return false;
    for (std::size_t i = 1; i < 11; ++i)
        if (!std::isalnum(static_cast<unsigned char>(tail[i]))) return false;
    return tail.compare(11, 4, ".tmp") == 0;
}

TEST_F(OutputFile, KeepsAnExistingOutputsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits";
#endif
    std::ofstream(output) << "old";
    fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    parse("<a/>");
    ASSERT_TRUE(replaceAt(output));
    EXPECT_EQ(fs::status(output).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

#ifndef _WIN32
TEST_F(OutputFile, KeepsAnExistingOutputsOwnerWhereAllowed) {
    if (geteuid() != 0) GTEST_SKIP() << "only a privileged user may give a file away";
    std::ofstream(output) << "old";
    ASSERT_EQ(chown(output.c_str(), 12345, 23456), 0);
    parse("<a/>");
    ASSERT_TRUE(replaceAt(output));
    struct stat info;
    ASSERT_EQ(stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 12345u);
    EXPECT_EQ(info.st_gid, 23456u);
}
#endif

// Whatever stands where a temporary file might go, a file of another run
// among them, is neither used nor removed: each run makes a name of its own.
TEST_F(OutputFile, LeavesFilesBesideTheOutputAlone) {
    std::ofstream(output + ".tmp") << "another's";
    parse("<a/>");
    ASSERT_TRUE(replaceAt(output));
    EXPECT_EQ(read(output), declaration + qor_test::hostLines("  <a/>\n"));
    EXPECT_EQ(read(output + ".tmp"), "another's");
    EXPECT_EQ(names(), (std::vector<std::string>{"out.xml", "out.xml.tmp"}));
}

TEST_F(OutputFile, FailsWithoutLeavingAnythingBehind) {
    parse("<a/>");
    EXPECT_FALSE(replaceAt((dir / "missing" / "out.xml").string()));
    EXPECT_TRUE(fs::is_empty(dir));

    const std::string directory = (dir / "sub").string();
    fs::create_directory(directory);
    EXPECT_FALSE(replaceAt(directory));
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_TRUE(fs::is_empty(directory));
    EXPECT_EQ(names(), std::vector<std::string>{"sub"});
}

// What a crash at each step would leave: at the sync, the old output and
// beside it the whole new file; then the rename, and then its directory
// synced, so that a run's success survives a power cut.
TEST_F(OutputFile, SyncsTheNewFileThenRenamesItThenSyncsTheDirectory) {
    std::ofstream(output) << "old";
    parse("<?xml?><swf version=\"10\"/>");
    static std::vector<std::string> seen;
    static std::string out;
    seen.clear();
    out = output;
    host::beforeStep = [](host::enStep step, host::tyStepFile file) {
        const char* const names[] = {"read ", "attributes ", "sync ", "rename ", "directory "};
        const std::string path = pathOf(file);
        std::error_code error;
        std::string what = path;
        if (isTemporaryBeside(path, out)) what = step == host::STEP_SYNC_DATA ? read(path) + "|" + read(out) : "new";
        if (fs::equivalent(path, fs::path(out).parent_path(), error)) what = "its directory";
        seen.push_back(names[step] + what);
    };
    const bool replaced = replaceAt(output);
    host::beforeStep = nullptr;
    ASSERT_TRUE(replaced);
    const std::string written = declaration + qor_test::hostLines("\n  <swf version=\"10\"/>\n");
    std::vector<std::string> steps{"attributes new", "sync " + written + "|old", "rename new"};
#ifndef _WIN32
    steps.push_back("directory its directory");  // Windows writes the move itself through
#endif
    EXPECT_EQ(seen, steps);
    EXPECT_EQ(read(output), written);
    EXPECT_EQ(names(), std::vector<std::string>{"out.xml"});
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
    EXPECT_EQ(read(output), declaration + qor_test::hostLines("  <a/>\n"));
    EXPECT_EQ(names(), std::vector<std::string>{"out.xml"});
}

#ifndef _WIN32
// Another writer's file, locked, at the name a temporary file once had:
// the run neither waits for it nor touches it.
TEST_F(OutputFile, NeverWaitsForAnotherWriter) {
    const std::string theirs = output + ".tmp";
    const int other = ::open(theirs.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    ASSERT_EQ(::write(other, "theirs", 6), 6);

    parse("<a/>");
    std::atomic<bool> done{false};
    bool replaced = false;
    std::thread run([&] {
        replaced = replaceAt(output);
        done = true;
    });
    for (int waited = 0; !done && waited < 5000; waited += 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(done) << "the run waited for another writer's lock";
    ::close(other);
    run.join();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(read(output), declaration + qor_test::hostLines("  <a/>\n"));
    EXPECT_EQ(read(theirs), "theirs");
}
#endif

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
    static std::string victim, temporary;
    victim = (dir / "victim").string();
    std::ofstream(victim) << "secret";
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    host::beforeStep = [](host::enStep step, host::tyStepFile file) {
        if (step != host::STEP_SET_ATTRIBUTES) return;
        temporary = pathOf(file);
        fs::rename(temporary, temporary + ".moved");
        fs::create_symlink(victim, temporary);
    };
    parse("<a/>");
    const bool replaced = replaceAt(output);
    host::beforeStep = nullptr;
    EXPECT_FALSE(replaced);
    struct stat info;
    ASSERT_EQ(::stat(victim.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_uid, ::geteuid());
    EXPECT_EQ(read(victim), "secret");
    EXPECT_EQ(read(output), "old");
    EXPECT_TRUE(fs::is_symlink(temporary));  // not ours, so not removed
}

// Until all of it is written, the new content is its owner's alone,
// whatever the umask; only then does it take the output's permissions.
TEST_F(OutputFile, TheTemporaryFileIsPrivateUntilWritten) {
    std::ofstream(output) << "old";
    ASSERT_EQ(::chmod(output.c_str(), 0640), 0);
    static mode_t seen;
    seen = 0;
    host::beforeStep = [](host::enStep step, host::tyStepFile file) {
        struct stat info;
        if (step == host::STEP_SET_ATTRIBUTES && ::fstat(file, &info) == 0) seen = info.st_mode & 07777;
    };
    const mode_t mask = ::umask(0);
    parse("<a/>");
    const bool replaced = replaceAt(output);
    ::umask(mask);
    host::beforeStep = nullptr;
    ASSERT_TRUE(replaced);
    EXPECT_EQ(seen, 0600u);
    struct stat info;
    ASSERT_EQ(::stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

const std::string movie = "<swf version=\"8\"><FileAttributes/></swf>";
const std::string patchedMovie =
    declaration + "  <swf version=\"10\">\n    <FileAttributes allowABC=\"1\"/>\n  </swf>\n";

// Where a child's run signals itself, and with what.
host::enStep signalStep;
int signalSent;

// SIGINT, SIGTERM or SIGHUP at any step of an in-place run: the run ends
// by that signal, OUTPUT is the old file or the new one, whole, and no
// temporary file is left. Each run is a child of the test.
TEST_F(OutputFile, AnEndingSignalLeavesNoTemporaryFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        for (const host::enStep step : {host::STEP_INPUT_READ, host::STEP_SET_ATTRIBUTES, host::STEP_SYNC_DATA,
                                        host::STEP_RENAME, host::STEP_SYNC_DIRECTORY}) {
            SCOPED_TRACE("signal " + std::to_string(signal) + " before step " + std::to_string(step));
            std::ofstream(output, std::ios::binary) << movie;
            int messages[2];
            ASSERT_EQ(::pipe(messages), 0);
            std::fflush(nullptr);
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::dup2(messages[1], STDOUT_FILENO);
                signalStep = step;
                signalSent = signal;
                host::beforeStep = [](host::enStep now, host::tyStepFile) {
                    if (now == signalStep) ::raise(signalSent);
                };
                qor::utility::clXML document;
                ::_exit(runUpgrade(document, output, output) == 0 ? 100 : 101);
            }
            ::close(messages[1]);
            int status = 0;
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            ::close(messages[0]);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
            EXPECT_EQ(names(), std::vector<std::string>{"out.xml"});
            const std::string now = read(output);
            EXPECT_TRUE(now == movie || now == patchedMovie) << now;
        }
    }
}

// A sync after the rename fails (the descriptor to sync is swapped for
// one only to look at, which cannot be synced): OUTPUT is replaced, and
// the run says that it may not survive a power cut.
TEST_F(OutputFile, ASyncFailingAfterTheRenameIsReported) {
    std::ofstream(output, std::ios::binary) << movie;
    host::beforeStep = [](host::enStep step, host::tyStepFile file) {
        if (step != host::STEP_SYNC_DIRECTORY) return;
        const int unsyncable = ::open(pathOf(file).c_str(), O_PATH | O_CLOEXEC);
        ::dup2(unsyncable, file);
        ::close(unsyncable);
    };
    ::testing::internal::CaptureStdout();
    qor::utility::clXML document;
    const int status = runUpgrade(document, output, output);
    const std::string said = ::testing::internal::GetCapturedStdout();
    host::beforeStep = nullptr;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(said, "swf tag changed\nFileAttributes tag changed\nCan't Sync File : " + output + "\n");
    EXPECT_EQ(read(output), patchedMovie);
    EXPECT_EQ(names(), std::vector<std::string>{"out.xml"});
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

// The old file has an attribute this user may set, and the host refuses
// to give it to the new file (an I/O error from the call that sets it):
// the replacement fails before the rename, the old file stays as it was
// and no new file is left. Each replacement is a child of the test.
TEST_F(OutputFile, AnAttributeThatCannotBeGivenFailsTheReplacement) {
    // user::rw- user:1002:r-- group::r-- mask::r-- other::---, as the kernel stores it.
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t none = 0xFFFFFFFF, version = 2;
    const Entry entries[] = {{0x01, 6, none}, {0x02, 4, 1002}, {0x04, 4, none}, {0x10, 4, none}, {0x20, 0, none}};
    std::string acl(reinterpret_cast<const char*>(&version), 4);
    acl.append(reinterpret_cast<const char*>(entries), sizeof entries);
    const struct {
        const char* attribute;
        long refused;  // the system call that sets it
        std::function<bool(const std::string&)> give;  // to the old file; false: not here
    } cases[] = {
        {"access list", SYS_fsetxattr,
         [&](const std::string& path) {
             return ::setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
         }},
        {"owner and group", SYS_fchown,
         [](const std::string& path) { return ::geteuid() == 0 && ::chown(path.c_str(), 12345, 23456) == 0; }},
        {"permissions", SYS_fchmod, [](const std::string& path) { return ::chmod(path.c_str(), 0640) == 0; }},
    };
    parse("<a/>");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attribute);
        fs::remove(output);
        std::ofstream(output) << "old";
        if (!c.give(output)) {
            std::cout << "skipped: this user or file system cannot give a file its " << c.attribute << "\n";
            continue;
        }
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!refuseSystemCall(c.refused, EIO)) ::_exit(2);
            ::_exit(replaceAt(output) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "no system call filters here";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "replaced without its " << c.attribute;
        EXPECT_EQ(read(output), "old");
        EXPECT_EQ(names(), std::vector<std::string>{"out.xml"});
    }
}

// The random draws a run makes, from the first: 0, 1, 2...
std::uint64_t drawsMade;
std::uint64_t countingDraw() { return drawsMade++; }

// Whatever stands at the name a run draws first for its new file, put
// there by anyone, is neither opened, followed, truncated nor removed: the
// run draws again and puts its file in place.
TEST_F(OutputFile, WhatStandsAtADrawnNameIsLeftAloneAndAnotherDrawn) {
    const std::string taken = (dir / host::temporaryNameFor("out.xml", 0)).string();
    const std::string victim = (dir / "victim").string();
    int held = -1;  // a descriptor the case keeps open meanwhile
    const struct {
        const char* what;
        std::function<bool()> plant;
        std::function<bool()> unharmed;
    } cases[] = {
        {"a file", [&] { return static_cast<bool>(std::ofstream(taken) << "planted"); },
         [&] { return read(taken) == "planted"; }},
        {"a file held locked", [&] {
             std::ofstream(taken) << "planted";
             held = ::open(taken.c_str(), O_RDONLY | O_CLOEXEC);
             return held >= 0 && ::flock(held, LOCK_EX) == 0;
         }, [&] { return read(taken) == "planted"; }},
        {"a link to another file", [&] { return ::symlink(victim.c_str(), taken.c_str()) == 0; },
         [&] { return fs::is_symlink(taken) && read(victim) == "victim's"; }},
        {"a link to nothing yet", [&] { return ::symlink((dir / "absent").c_str(), taken.c_str()) == 0; },
         [&] { return fs::is_symlink(taken) && !fs::exists(dir / "absent"); }},
        {"a hard link to another file", [&] { return ::link(victim.c_str(), taken.c_str()) == 0; },
         [&] { return read(victim) == "victim's" && fs::hard_link_count(victim) == 2; }},
        {"a directory", [&] { return fs::create_directory(taken) && static_cast<bool>(std::ofstream(taken + "/in")); },
         [&] { return fs::is_directory(taken) && fs::exists(taken + "/in"); }},
        {"a FIFO with a reader", [&] {
             if (::mkfifo(taken.c_str(), 0600) != 0) return false;
             held = ::open(taken.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
             return held >= 0;
         }, [&] {
             char byte;
             return fs::is_fifo(taken) && ::read(held, &byte, 1) == 0;  // no writer ever came
         }},
        {"another user's file", [&] {
             std::ofstream(taken) << "planted";
             return ::geteuid() == 0 && ::chown(taken.c_str(), 65534, 65534) == 0;
         }, [&] {
             struct stat info;
             return read(taken) == "planted" && ::lstat(taken.c_str(), &info) == 0 && info.st_uid == 65534;
         }},
    };
    parse("<a/>");
    const auto drawOfTheHost = host::drawRandom;
    host::drawRandom = countingDraw;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directory(dir);
        std::ofstream(victim) << "victim's";
        std::ofstream(output) << "old";
        if (!c.plant()) {
            std::cout << "skipped: cannot plant " << c.what << " here\n";
            continue;
        }
        drawsMade = 0;
        EXPECT_TRUE(replaceAt(output));
        EXPECT_EQ(drawsMade, 2u);
        EXPECT_TRUE(c.unharmed());
        EXPECT_EQ(read(output), declaration + "  <a/>\n");
        EXPECT_TRUE(fs::exists(fs::symlink_status(taken)));
        if (held >= 0) ::close(held);
        held = -1;
    }
    host::drawRandom = drawOfTheHost;
}
#endif

#ifdef _WIN32
// Until all of it is written, the new content is its owner's alone: from
// its creation one access entry, for the user running the run, and none
// passed on from the directory. Only then does it take the output's.
TEST_F(OutputFile, TheTemporaryFileIsPrivateUntilWritten) {
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        GTEST_SKIP() << "Wine keeps no security descriptor given at creation, and reads back one made up";
    }
    std::ofstream(output) << "old";
    static std::string seen;
    seen.clear();
    host::beforeStep = [](host::enStep step, host::tyStepFile file) {
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
    };
    parse("<a/>");
    const bool replaced = replaceAt(output);
    host::beforeStep = nullptr;
    ASSERT_TRUE(replaced);
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
