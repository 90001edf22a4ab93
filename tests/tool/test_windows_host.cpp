// The tool on its own host: names outside the system's code page, paths
// past the old length limit, read-only files, and a pipe's one connection.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <thread>

#include "support/tool_run.h"

namespace {

using namespace qor_test;

std::wstring wide(const std::string& text) { return fs::u8path(text).wstring(); }

// The path in the form that lifts the length limit, for the test's own
// calls: absolute, backslashes only.
std::string longForm(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "\\\\?\\" + path;
}

// The names in a directory, sorted; through the host's own calls, which
// take the long form.
std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((wide(directory) + L"\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(fs::path(name).u8string());
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

class WindowsHost : public ToolFixture {
protected:
    RunResult runIn(const std::string& workingDirectory, const std::vector<std::string>& args) const {
        RunOptions options;
        options.workingDirectory = workingDirectory;
        return run(args, options);
    }
};

// Names the ANSI code page cannot spell, in place and to a new name; a
// message names the file as it was typed, as UTF-8 when redirected.
TEST_F(WindowsHost, NamesOutsideTheCodePage) {
    const struct {
        std::string folder, name;
    } cases[] = {
        {"", "caf\xC3\xA9.xml"},                                      // Latin-1
        {"", "\xE3\x83\xA0\xE3\x83\xBC\xE3\x83\x93\xE3\x83\xBC.xml"},  // CJK
        {"", "emoji \xF0\x9F\x8E\xAC.xml"},                           // past the basic plane
        {"\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0/", "movie.xml"},   // a Cyrillic folder
        {"", "with spaces.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder + c.name);
        if (!c.folder.empty()) fs::create_directory(fs::u8path(dir.path(c.folder)));
        const std::string in = dir.path(c.folder + c.name);
        const std::string out = dir.path(c.folder + "new " + c.name);

        RunResult result = runIn("", {in, out});
        EXPECT_TRUE(endedWith(result, 1, "Can't Open File : " + in + "\n"));

        writeFile(in, movie);
        result = runIn("", {in, out});
        EXPECT_TRUE(endedWith(result, 0, bothChanged));
        EXPECT_EQ(readFile(out), patchedMovie);
        result = runIn("", {in, in});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(readFile(in), patchedMovie);
        if (!c.folder.empty()) {
            EXPECT_EQ(namesIn(dir.path(c.folder)), (std::vector<std::string>{"movie.xml", "new movie.xml"}));
        }
    }
    EXPECT_EQ(namesIn(dir.path()).size(), 9u);
}

// Paths past 260 characters, absolute and relative, and outputs just
// under it, which the temporary file's longer name must not push over.
TEST_F(WindowsHost, PathsPastTheOldLimit) {
    std::string deep;
    for (char letter = 'a'; letter < 'g'; ++letter) deep += std::string(50, letter) + "/";
    fs::create_directories(fs::u8path(longForm(dir.path(deep))));
    const std::string in = dir.path(deep + "in.xml");
    ASSERT_GT(in.size(), 300u);
    writeFile(longForm(in), movie);
    RunResult result = runIn("", {in, dir.path(deep + "out.xml")});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(longForm(dir.path(deep + "out.xml"))), patchedMovie);
    result = runIn(dir.path(), {deep + "in.xml", deep + "in.xml"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readFile(longForm(in)), patchedMovie);
    EXPECT_EQ(namesIn(longForm(dir.path(deep.substr(0, deep.size() - 1)))), (std::vector<std::string>{"in.xml", "out.xml"}));

    writeFile(input, movie);
    for (std::size_t length = 246; length < 260; ++length) {
        SCOPED_TRACE(length);
        const std::string out = dir.path(std::string(length - dir.path().size() - 5, 'o') + ".xml");
        ASSERT_EQ(out.size(), length);
        result = runIn("", {input, out});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(readFile(longForm(out)), patchedMovie);
    }
    EXPECT_EQ(namesIn(dir.path()).size(), 1u + 1u + 14u);
}

// A read-only output is refused before anything is written, as the
// host's own copy and move refuse it, whether or not another program
// holds it open; nothing is left behind.
TEST_F(WindowsHost, ReadOnlyOutputIsRefused) {
    writeFile(input, movie);
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "held open" : "alone");
        writeFile(output, "old");
        ASSERT_TRUE(SetFileAttributesW(wide(output).c_str(), FILE_ATTRIBUTE_READONLY));
        const HANDLE holder = held ? CreateFileW(wide(output).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, 0, nullptr)
                                   : INVALID_HANDLE_VALUE;
        const RunResult result = runIn("", {input, output});
        if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);
        EXPECT_TRUE(endedWith(result, 1, bothChanged + "Can't Write File : " + output + "\n"));
        EXPECT_EQ(readFile(output), "old");
        EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"in.xml", "out.xml"}));
        ASSERT_TRUE(SetFileAttributesW(wide(output).c_str(), FILE_ATTRIBUTE_NORMAL));
    }
}

// A pipe whose server takes one connection: the run writes through the
// connection that found the pipe.
TEST_F(WindowsHost, PipeIsConnectedOnce) {
    writeFile(input, movie);
    const std::string pipe = "\\\\.\\pipe\\swfupgrade-test-" + std::to_string(GetCurrentProcessId());
    const HANDLE server = CreateNamedPipeW(wide(pipe).c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0,
                                           1 << 16, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::string received;
    std::thread reader([&] {
        if (!ConnectNamedPipe(server, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
        char block[4096];
        DWORD got = 0;
        while (ReadFile(server, block, sizeof block, &got, nullptr) && got > 0) received.append(block, got);
    });
    const RunResult result = runIn("", {input, pipe});
    // A run that never connected would leave the reader waiting.
    const HANDLE late = CreateFileW(wide(pipe).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (late != INVALID_HANDLE_VALUE) CloseHandle(late);
    reader.join();
    CloseHandle(server);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(received, patchedMovie);
}

}  // namespace

#endif
