#include "support/tool_run.h"

#include <initializer_list>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace qor_test {

::testing::AssertionResult endedWith(const RunResult& result, int status, const std::string& said) {
    if (result.status == status && result.out == hostLines(said)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit status " << result.status << (result.killed ? " (killed)" : "")
                                         << " after printing \"" << result.out << "\"";
}

#ifdef _WIN32

namespace {

// The quoting that the C runtime's command-line parser undoes: backslashes
// count only before a quote, so those are doubled and the quote escaped.
std::string quoteArgument(const std::string& arg) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + '"';
}

std::wstring wide(const std::string& text) { return fs::u8path(text).wstring(); }

}  // namespace

RunResult runTool(const std::vector<std::string>& args, const std::string& stdoutFile, const RunOptions& options) {
    // Wide, so that names outside the system's code page reach the tool.
    std::wstring commandLine = wide(quoteArgument(SWFUPGRADE_PATH));
    for (const std::string& arg : args) commandLine += L' ' + wide(quoteArgument(arg));

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileW(wide(stdoutFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + stdoutFile);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const std::wstring directory = wide(options.workingDirectory);
    const BOOL started = CreateProcessW(wide(SWFUPGRADE_PATH).c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, directory.empty() ? nullptr : directory.c_str(), &startup, &process);
    CloseHandle(out);
    if (!started) throw std::runtime_error("cannot start " + std::string(SWFUPGRADE_PATH));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    RunResult result;
    result.status = static_cast<int>(code);
    result.out = readFile(stdoutFile);
    return result;
}

#else

RunResult runTool(const std::vector<std::string>& args, const std::string& stdoutFile, const RunOptions& options) {
    const std::string stderrFile = stdoutFile + ".err";
    // Made here, so that a run killed before it opened them reads as silent.
    if (options.standardOutput < 0) writeFile(stdoutFile, "");
    writeFile(stderrFile, "");
    // Everything the child needs is made before fork: between fork and exec
    // only async-signal-safe calls are allowed. Standard output goes to
    // stdoutFile unless options give it a descriptor.
    std::vector<char*> argv;
    for (const char* word : std::initializer_list<const char*> SWFUPGRADE_EMULATOR) {
        argv.push_back(const_cast<char*>(word));
    }
    argv.push_back(const_cast<char*>(SWFUPGRADE_PATH));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const rlimit fileSize{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
    const rlimit memory{static_cast<rlim_t>(options.memoryLimit), static_cast<rlim_t>(options.memoryLimit)};
    const std::vector<gid_t> groups(options.strangerGroups.begin(), options.strangerGroups.end());
    const pid_t pid = startChild([&] {
        const bool ready =
            (options.standardOutput >= 0 ? dup2(options.standardOutput, STDOUT_FILENO) == STDOUT_FILENO
                                         : redirect(stdoutFile.c_str())) &&
            redirect(stderrFile.c_str(), STDERR_FILENO) &&
            (options.standardInput < 0 || dup2(options.standardInput, STDIN_FILENO) == STDIN_FILENO) &&
            (options.passedDescriptor < 0 || fcntl(options.passedDescriptor, F_SETFD, 0) == 0) &&
            (options.fileSizeLimit == 0 || setrlimit(RLIMIT_FSIZE, &fileSize) == 0) &&
            (options.memoryLimit == 0 || setrlimit(RLIMIT_AS, &memory) == 0) &&
            (!options.asStranger || becomeStranger(groups));
        if (ready) execv(argv[0], argv.data());
        return 127;
    });
    const ChildEnd end = waitChild(pid, options.killAfter);
    RunResult result;
    result.status = end.status;
    result.killed = end.signal != 0;
    if (options.standardOutput < 0) result.out = readFile(stdoutFile);
    result.err = readFile(stderrFile);
    fs::remove(stderrFile);
    return result;
}

bool canLimitMemory() {
    rlimit was{};
    if (getrlimit(RLIMIT_AS, &was) != 0) return false;
    rlimit lowered = was;
    lowered.rlim_cur = was.rlim_cur == RLIM_INFINITY ? rlim_t{1} << 40 : was.rlim_cur - 1;
    rlimit seen{};
    const bool holds = setrlimit(RLIMIT_AS, &lowered) == 0 && getrlimit(RLIMIT_AS, &seen) == 0 &&
                       seen.rlim_cur == lowered.rlim_cur;
    setrlimit(RLIMIT_AS, &was);
    return holds;
}

#endif

}  // namespace qor_test
