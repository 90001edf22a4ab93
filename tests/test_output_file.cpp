#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <atomic>
#include <memory>
#include <chrono>
#include <thread>
#include <vector>

#ifndef _WIN32
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
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    fs::path dir;
    std::string output;
};

TEST_F(OutputFile, KeepsAnExistingOutputsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits";
#endif
    std::ofstream(output) << "old";
    fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    parse("<a/>");
    ASSERT_TRUE(replaceOutputFile(doc, output));
    EXPECT_EQ(fs::status(output).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

#ifndef _WIN32
TEST_F(OutputFile, KeepsAnExistingOutputsOwnerWhereAllowed) {
    if (geteuid() != 0) GTEST_SKIP() << "only a privileged user may give a file away";
    std::ofstream(output) << "old";
    ASSERT_EQ(chown(output.c_str(), 12345, 23456), 0);
    parse("<a/>");
    ASSERT_TRUE(replaceOutputFile(doc, output));
    struct stat info;
    ASSERT_EQ(stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 12345u);
    EXPECT_EQ(info.st_gid, 23456u);
}
#endif

TEST_F(OutputFile, OverwritesAStaleTemporaryFileAndRemovesIt) {
    std::ofstream(temporaryPath(output)) << "stale";
    parse("<a/>");
    ASSERT_TRUE(replaceOutputFile(doc, output));
    EXPECT_EQ(read(output), declaration + qor_test::hostLines("  <a/>\n"));
    EXPECT_FALSE(fs::exists(temporaryPath(output)));
}

TEST_F(OutputFile, FailsWithoutLeavingAnythingBehind) {
    parse("<a/>");
    EXPECT_FALSE(replaceOutputFile(doc, (dir / "missing" / "out.xml").string()));
    EXPECT_TRUE(fs::is_empty(dir));

    std::ofstream(output) << "old";
    fs::create_directory(temporaryPath(output));
    EXPECT_FALSE(replaceOutputFile(doc, output));
    EXPECT_EQ(read(output), "old");
    EXPECT_TRUE(fs::is_directory(temporaryPath(output)));

    const std::string directory = (dir / "sub").string();
    fs::create_directory(directory);
    EXPECT_FALSE(replaceOutputFile(doc, directory));
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_FALSE(fs::exists(temporaryPath(directory)));
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
    temporary = temporaryPath(output);
    out = output;
    host::beforeStep = [](host::enStep step, const std::string& path) {
        const char* const names[] = {"attributes ", "sync ", "rename ", "directory "};
        seen.push_back(names[step] + (step == host::STEP_SYNC_DATA ? read(temporary) + "|" + read(out) : path));
    };
    const bool replaced = replaceOutputFile(doc, output);
    host::beforeStep = nullptr;
    ASSERT_TRUE(replaced);
    const std::string written = declaration + qor_test::hostLines("\n  <swf version=\"10\"/>\n");
    std::vector<std::string> steps{"attributes " + output, "sync " + written + "|old", "rename " + temporary};
#ifndef _WIN32
    steps.push_back("directory " + dir.string());  // Windows writes the move itself through
#endif
    EXPECT_EQ(seen, steps);
    EXPECT_EQ(read(output), written);
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
    const bool replaced = replaceOutputFile(doc, output);
    leaves.join();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(read(output), declaration + qor_test::hostLines("  <a/>\n"));
    EXPECT_FALSE(fs::exists(temporaryPath(output)));
}

#ifndef _WIN32
// A run finding another's locked temporary file waits for it; when that
// file is renamed away meanwhile, the run makes a file of its own.
TEST_F(OutputFile, WaitsForTheWriterBeforeIt) {
    const std::string temporary = temporaryPath(output);
    const int other = ::open(temporary.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    ASSERT_EQ(::write(other, "theirs", 6), 6);

    parse("<a/>");
    std::atomic<bool> done{false};
    bool replaced = false;
    std::thread run([&] {
        replaced = replaceOutputFile(doc, output);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(done);
    EXPECT_EQ(read(temporary), "theirs");
    fs::rename(temporary, output);  // the other writer finishes
    ::close(other);
    run.join();
    EXPECT_TRUE(replaced);
    EXPECT_EQ(read(output), declaration + qor_test::hostLines("  <a/>\n"));
    EXPECT_FALSE(fs::exists(temporary));
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
    temporary = temporaryPath(output);
    std::ofstream(victim) << "secret";
    ASSERT_EQ(::chmod(victim.c_str(), 0600), 0);
    host::beforeStep = [](host::enStep step, const std::string&) {
        if (step != host::STEP_SET_ATTRIBUTES) return;
        fs::rename(temporary, temporary + ".moved");
        fs::create_symlink(victim, temporary);
    };
    parse("<a/>");
    const bool replaced = replaceOutputFile(doc, output);
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
    static std::string temporary;
    static mode_t seen;
    temporary = temporaryPath(output);
    seen = 0;
    host::beforeStep = [](host::enStep step, const std::string&) {
        struct stat info;
        if (step == host::STEP_SET_ATTRIBUTES && ::lstat(temporary.c_str(), &info) == 0) seen = info.st_mode & 07777;
    };
    const mode_t mask = ::umask(0);
    parse("<a/>");
    const bool replaced = replaceOutputFile(doc, output);
    ::umask(mask);
    host::beforeStep = nullptr;
    ASSERT_TRUE(replaced);
    EXPECT_EQ(seen, 0600u);
    struct stat info;
    ASSERT_EQ(::stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}
#endif

TEST_F(OutputFile, TellsPathsOfOneFile) {
    std::ofstream(output) << "x";
    EXPECT_TRUE(namesSameFile(output, output));
    EXPECT_TRUE(namesSameFile(output, (dir / "." / "out.xml").string()));
    EXPECT_FALSE(namesSameFile(output, temporaryPath(output)));
    EXPECT_EQ(temporaryPath("a/m.xml"), "a/m.xml.tmp");
    // A name too long for the suffix: shorter, and the same for every run.
    const std::string longName = "a/" + std::string(253, 'n');
    const std::string temporary = temporaryPathFor(longName);
    EXPECT_EQ(temporary, temporaryPathFor(longName));
    EXPECT_EQ(temporary.size(), 2u + 255u);
    EXPECT_NE(temporary, temporaryPathFor(longName.substr(0, 255) + "m"));
}

}  // namespace
