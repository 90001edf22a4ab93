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
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "driver/host.h"
#include "driver/output_file.h"
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
        return replaceOutputFile(doc, place, nullptr);
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
    static std::string temporary, out;
    seen.clear();
    temporary.clear();
    out = output;
    host::beforeStep = [](host::enStep step, host::tyStepFile file) {
        const char* const names[] = {"read ", "attributes ", "sync ", "rename ", "directory "};
        const std::string path = pathOf(file);
        if (step == host::STEP_SET_ATTRIBUTES) temporary = path;
        seen.push_back(names[step] + (step == host::STEP_SYNC_DATA ? read(temporary) + "|" + read(out) : path));
    };
    const bool replaced = replaceAt(output);
    host::beforeStep = nullptr;
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(isTemporaryBeside(temporary, output)) << temporary;
    const std::string written = declaration + qor_test::hostLines("\n  <swf version=\"10\"/>\n");
    std::vector<std::string> steps{"attributes " + temporary, "sync " + written + "|old", "rename " + temporary};
#ifndef _WIN32
    steps.push_back("directory " + dir.string());  // Windows writes the move itself through
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
