// Runs the built tool as a child process, never through a shell, and gives
// the tests a scratch directory and byte-exact file access.
#ifndef TOOL_RUNNER_H
#define TOOL_RUNNER_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host_lines.h"

struct RunResult {
    int status = -1;      // exit status; -1 unless the process exited
    bool killed = false;  // ended by a signal
    std::string out;      // all it wrote to standard output
    std::string err;      // and to standard error, where kept
};

// Runs the tool with args after its own name; its standard output goes to
// stdoutFile and is read back. A nonzero fileSizeLimit caps the size of
// every file the tool writes (POSIX only); a workingDirectory given is its
// own (Windows only). Names are UTF-8 on Windows.
RunResult runTool(const std::vector<std::string>& args, const std::string& stdoutFile,
                  std::uintmax_t fileSizeLimit = 0, const std::string& workingDirectory = "");

#ifndef _WIN32
// What else a run may be given than its arguments.
struct RunOptions {
    std::uintmax_t fileSizeLimit = 64 << 20;  // RLIMIT_FSIZE, when nonzero
    std::uintmax_t memoryLimit = 0;    // RLIMIT_AS, when nonzero
    int standardOutput = -1;           // a descriptor to be its standard output, instead of the file
    bool asStranger = false;           // as the unprivileged uid and gid 65534 (the caller must be root)
    std::vector<unsigned> strangerGroups;  // the stranger's supplementary groups
    int standardInput = -1;            // a descriptor to be its standard input, instead of the test's
    int passedDescriptor = -1;         // a descriptor it inherits under its own number
};
// As runTool, with options; standard error is kept in the result's err.
RunResult runToolWith(const std::vector<std::string>& args, const std::string& stdoutFile,
                      const RunOptions& options);

// Whether this process may play a second local user.
bool canPlayStranger();

// Whether an address-space limit holds for what this process starts; an
// emulator (qemu-user) takes it and leaves its own process unlimited.
bool canLimitMemory();

// As runTool, but its standard output is a pipe the caller reads to the end.
RunResult runToolIntoPipe(const std::vector<std::string>& args);

// As runTool, but the tool gets SIGKILL after delay unless it ended before.
RunResult runToolKilledAfter(const std::vector<std::string>& args, const std::string& stdoutFile,
                             std::chrono::microseconds delay);
#endif

// A fresh, empty directory for one test, removed with all it holds.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The byte string naming name inside the directory (the directory
    // itself for an empty name).
    std::string path(const std::string& name = "") const;
    // Runs the tool, its standard output captured beside the directory so
    // that the directory holds only what the tool and the test made.
    RunResult run(const std::vector<std::string>& args, std::uintmax_t fileSizeLimit = 0) const;

private:
    std::filesystem::path base;
};

// Whole files in binary mode; a failure throws, so the test fails.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Whether anything, even a dangling link, has this name.
bool exists(const std::string& path);
// The names of the files a run makes beside path before the one it puts
// in place (path's name, a dot, ten letters or digits, ".tmp"), full paths.
std::vector<std::string> temporaryFilesBeside(const std::string& path);

// Newlines as a text-mode stream of this host writes them: the tool's
// standard output, and the body the writer puts in its file.
using qor_test::hostLines;

#endif
