// The tool on its own host: names outside the system's code page, paths
// past the old length limit, read-only files, and a pipe's one connection.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

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

// A named pipe whose server takes one connection, read once the run is
// over (what a run writes fits in its buffer), so no thread waits on it.
class OnePipe {
public:
    const std::string name = "\\\\.\\pipe\\swfupgrade-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64());
    OnePipe()
        : server(CreateNamedPipeW(wide(name).c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 1 << 16, 0, nullptr)) {
        connection.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ConnectNamedPipe(server, &connection);  // completes when a run opens the pipe
    }
    ~OnePipe() {
        CancelIo(server);
        CloseHandle(server);
        CloseHandle(connection.hEvent);
    }
    // Nothing, unless a run connected.
    std::string received() {
        std::string bytes;
        DWORD got = 0;
        if (!GetOverlappedResult(server, &connection, &got, FALSE)) return bytes;
        char block[4096];
        OVERLAPPED reading{};
        reading.hEvent = connection.hEvent;
        while ((ReadFile(server, block, sizeof block, nullptr, &reading) || GetLastError() == ERROR_IO_PENDING) &&
               GetOverlappedResult(server, &reading, &got, TRUE) && got > 0) {
            bytes.append(block, got);
        }
        return bytes;
    }

private:
    const HANDLE server;
    OVERLAPPED connection{};
};

class WindowsHost : public ToolFixture {
protected:
    RunResult runIn(const std::string& workingDirectory, const std::vector<std::string>& args) const {
        RunOptions options;
        options.workingDirectory = workingDirectory;
        return run(args, options);
    }

    // A run of a table, and what it must give and leave.
    struct Row {
        std::string what;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string folder;              // afterwards it holds just these names,
        std::vector<std::string> names;  // sorted,
        std::string file, bytes;         // and this file these bytes
    };
    void runRows(const std::vector<Row>& rows) const {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.what);
            const RunResult result = runIn("", row.args);
            EXPECT_EQ(result.status, row.status);
            EXPECT_EQ(result.out, row.out);
            EXPECT_EQ(namesIn(row.folder), row.names);
            if (!row.file.empty()) {
                EXPECT_EQ(readFile(row.file), row.bytes);
            }
        }
    }
    // Paths under the test's folder, made as needed, past the old limit too.
    std::string folder(const std::string& name) const {
        fs::create_directories(fs::u8path(longForm(dir.path(name))));
        return dir.path(name);
    }
    std::string file(const std::string& name, const std::string& bytes) const {
        if (name.find('/') != std::string::npos) folder(name.substr(0, name.find_last_of('/')));
        writeFile(longForm(dir.path(name)), bytes);
        return dir.path(name);
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

// The checks above in one table, a run each. Under an emulator a start
// takes most of a minute, so the leg that runs the shipped 32-bit program
// runs this table and the limits below, and leaves the long ones to the
// 64-bit build.
TEST_F(WindowsHost, EverydayChecksInOneBatch) {
    const std::string cyrillic = "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0", cafe = "caf\xC3\xA9.xml";
    const std::string cjk = "\xE3\x83\xA0\xE3\x83\xBC\xE3\x83\x93\xE3\x83\xBC.xml";
    const std::string emoji = "emoji \xF0\x9F\x8E\xAC.xml";
    std::string deep = "long";
    for (char letter = 'a'; letter < 'g'; ++letter) deep += "/" + std::string(50, letter);
    const std::string crlf =
        "<?xml version=\"1.0\"?>\r\n<swf version=\"8\">\r\n<FileAttributes/>\r\n<t>one\r\ntwo</t>\r\n</swf>\r\n";
    const std::string crlfPatched = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\r\n  <swf version=\"10\">\r\n"
                                    "    <FileAttributes allowABC=\"1\"/>\r\n    <t>one\r\ntwo</t>\r\n  </swf>\r\n";
    const std::string oneRule = "<swf version=\"8\"><FileAttributes allowABC=\"0\"/></swf>";
    const std::string inPlace = file(deep + "/" + cafe, crlf);
    OnePipe pipe;
    const std::vector<Row> rows = {
        {"a missing input named outside the code page",
         {folder("missing") + "/" + cjk, dir.path("missing/out.xml")}, 1,
         "Can't Open File : " + dir.path("missing/") + cjk + "\r\n", dir.path("missing"), {}, "", ""},
        {"in place, outside the code page, past the old limit, CR LF", {inPlace, inPlace}, 0, hostLines(bothChanged),
         longForm(dir.path(deep)), {cafe}, longForm(inPlace), crlfPatched},
        {"to a new name outside the code page",
         {file(cyrillic + "/" + emoji, movie), dir.path(cyrillic + "/" + cjk)}, 0, hostLines(bothChanged),
         dir.path(cyrillic), {emoji, cjk}, dir.path(cyrillic + "/" + cjk), patchedMovie},
        {"a read-only output", {file("read-only/in.xml", movie), file("read-only/out.xml", "old")}, 1,
         hostLines(bothChanged + "Can't Write File : " + dir.path("read-only/out.xml") + "\n"), dir.path("read-only"),
         {"in.xml", "out.xml"}, dir.path("read-only/out.xml"), "old"},
        {"a one-connection pipe as output", {file("pipe/in.xml", movie), pipe.name}, 0, hostLines(bothChanged),
         dir.path("pipe"), {"in.xml"}, "", ""},
        {"only one rule applies", {file("one rule/in.xml", oneRule), dir.path("one rule/out.xml")}, 1,
         hostLines("swf tag changed\n"), dir.path("one rule"), {"in.xml"}, dir.path("one rule/in.xml"), oneRule},
    };
    ASSERT_TRUE(SetFileAttributesW(wide(dir.path("read-only/out.xml")).c_str(), FILE_ATTRIBUTE_READONLY));
    runRows(rows);
    EXPECT_EQ(pipe.received(), patchedMovie);
    SetFileAttributesW(wide(dir.path("read-only/out.xml")).c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The limits of a 32-bit process, and a volume too small for the output,
// each a run that ends in a message, with nothing written or left behind.
TEST_F(WindowsHost, LimitsInOneBatch) {
    std::vector<Row> rows;
    if (sizeof(void*) == 4) {
        // Past what a 32-bit string holds, the input is refused; past 4 GiB a
        // size cut to 32 bits would read only what precedes the hole: the movie.
        for (const long long size : {3LL << 30, (4LL << 30) + static_cast<long long>(movie.size())}) {
            const std::string name = "sparse " + std::to_string(size >> 30);
            const std::string in = file(name + "/in.xml", movie);
            const HANDLE handle = CreateFileW(wide(in).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            DWORD none = 0;
            DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &none, nullptr);
            LARGE_INTEGER end;
            end.QuadPart = size;
            EXPECT_TRUE(SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle));
            CloseHandle(handle);
            rows.push_back({"an input of " + std::to_string(size) + " bytes", {in, dir.path(name + "/out.xml")}, 1,
                            hostLines("Can't Open File : " + in + "\n"), dir.path(name), {"in.xml"}, "", ""});
        }
        // 50,000 tags of 1,000 attributes each: 2.3 GiB of 48 KiB blocks,
        // 48 bytes an attribute, which only the large-address-aware bit
        // allows.
        std::string tag = "<t";
        for (int i = 0; i < 1000; ++i) tag += " a";
        std::string large = "<swf version=\"8\"><FileAttributes allowABC=\"1\"/>";
        for (int i = 0; i < 50000; ++i) large += tag + "/>";
        large += "</swf>";
        rows.push_back({"more memory than 2 GiB", {file("large/in.xml", large), dir.path("large/out.xml")}, 1,
                        hostLines("swf tag changed\n"), dir.path("large"), {"in.xml"}, "", ""});
    }
    // A volume given by the caller, too small for the output: it is
    // refused before a byte is written.
    const char* small = std::getenv("SWFUPGRADE_TEST_SMALL_VOLUME");
    const std::string onSmall = small ? small + ("\\swfupgrade-test-" + std::to_string(GetCurrentProcessId())) : "";
    if (small) {
        std::string nested = "<swf version=\"8\"><FileAttributes/>";
        for (int i = 0; i < 2000; ++i) nested += "<>";  // 2000 levels: 8 MB of output
        fs::create_directory(fs::u8path(onSmall));
        writeFile(onSmall + "\\out.xml", "old");
        rows.push_back({"an output too large for its volume", {file("nested.xml", nested), onSmall + "\\out.xml"}, 1,
                        hostLines(bothChanged + "Can't Write File : " + onSmall + "\\out.xml\n"), onSmall, {"out.xml"},
                        onSmall + "\\out.xml", "old"});
    }
    if (rows.empty()) GTEST_SKIP() << "a 64-bit program without SWFUPGRADE_TEST_SMALL_VOLUME has none of these limits";
    runRows(rows);
    if (small) fs::remove_all(fs::u8path(onSmall));
}

// A pipe whose server takes one connection: the run writes through the
// connection that found the pipe.
TEST_F(WindowsHost, PipeIsConnectedOnce) {
    writeFile(input, movie);
    OnePipe pipe;
    const RunResult result = runIn("", {input, pipe.name});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(pipe.received(), patchedMovie);
}

}  // namespace

#endif
