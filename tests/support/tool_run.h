// Runs the built tool as a child process, never through a shell: its exit
// status, what it printed, and the files it leaves in a scratch directory.
// With what else the tool tests share, in one include.
#ifndef QOR_TESTS_TOOL_RUN_H
#define QOR_TESTS_TOOL_RUN_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/documents.h"
#include "support/files.h"
#include "support/scratch_dir.h"

#ifndef _WIN32
#include "support/child.h"
#endif

namespace qor_test {

struct RunResult {
    int status = -1;      // exit status; -1 unless the process exited
    bool killed = false;  // ended by a signal
    std::string out;      // all it wrote to standard output
    std::string err;      // and to standard error (POSIX)
};

// What else a run may be given than its arguments; all but the working
// directory POSIX only.
struct RunOptions {
    std::uintmax_t fileSizeLimit = 64 << 20;  // RLIMIT_FSIZE, when nonzero
    std::uintmax_t memoryLimit = 0;           // RLIMIT_AS, when nonzero
    int standardOutput = -1;    // a descriptor to be its standard output, instead of the file
    int standardInput = -1;     // a descriptor to be its standard input, instead of the test's
    int passedDescriptor = -1;  // a descriptor it inherits under its own number
    bool asStranger = false;    // as the unprivileged uid and gid 65534 (the caller must be root)
    std::vector<unsigned> strangerGroups;  // the stranger's supplementary groups
    std::chrono::microseconds killAfter{}; // when given, SIGKILL then, unless it ended before
    std::string workingDirectory;          // its own, when given (Windows)
};

// Runs the tool with args after its own name; its standard output goes to
// stdoutFile and is read back. Names are UTF-8 on Windows.
RunResult runTool(const std::vector<std::string>& args, const std::string& stdoutFile,
                  const RunOptions& options = {});

#ifndef _WIN32
// Whether an address-space limit holds for what this process starts; an
// emulator (qemu-user) takes it and leaves its own process unlimited.
bool canLimitMemory();
#endif

// Whether a run exited with status, having printed said (its lines ended
// as this host ends them); a failure shows what it did instead.
::testing::AssertionResult endedWith(const RunResult& result, int status, const std::string& said);

// A scratch directory with an input and an output named in it, and runs
// whose standard output is kept beside it, so that the directory holds
// only what the tool and the test made.
class ToolFixture : public ::testing::Test {
protected:
    RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const {
        return runTool(args, dir.beside("stdout"), options);
    }

    ScratchDir dir;
    const std::string input = dir.path("in.xml");
    const std::string output = dir.path("out.xml");
};

}  // namespace qor_test

#endif
