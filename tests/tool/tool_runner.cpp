#include "tool_runner.h"

#include <cctype>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

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

RunResult runTool(const std::vector<std::string>& args, const std::string& stdoutFile,
                  std::uintmax_t /*fileSizeLimit: no such limit here*/, const std::string& workingDirectory) {
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
    const std::wstring directory = wide(workingDirectory);
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

namespace {

// Everything the child needs is made before fork: between fork and exec
// only async-signal-safe calls are allowed. Standard output goes to
// stdoutFile, or to stdoutPipe when that is open.
pid_t startTool(const std::vector<std::string>& args, const std::string& stdoutFile, const RunOptions& options,
                const std::string& stderrFile = "") {
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
    constexpr uid_t stranger = 65534;

    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int out = options.standardOutput >= 0
                            ? options.standardOutput
                            : open(stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
        if (!stderrFile.empty()) {
            const int err = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(127);
        }
        if (options.standardInput >= 0 && dup2(options.standardInput, STDIN_FILENO) < 0) _exit(127);
        if (options.passedDescriptor >= 0 && fcntl(options.passedDescriptor, F_SETFD, 0) != 0) _exit(127);
        if (options.fileSizeLimit != 0 && setrlimit(RLIMIT_FSIZE, &fileSize) != 0) _exit(127);
        if (options.memoryLimit != 0 && setrlimit(RLIMIT_AS, &memory) != 0) _exit(127);
        if (options.asStranger && (setgroups(groups.size(), groups.data()) != 0 || setgid(stranger) != 0 ||
                                   setuid(stranger) != 0)) {
            _exit(127);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

pid_t startTool(const std::vector<std::string>& args, const std::string& stdoutFile, std::uintmax_t fileSizeLimit,
                int stdoutPipe = -1) {
    RunOptions options;
    options.fileSizeLimit = fileSizeLimit;
    options.standardOutput = stdoutPipe;
    return startTool(args, stdoutFile, options);
}

RunResult waitForTool(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) throw std::runtime_error("waitpid failed");
    RunResult result;
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.killed = WIFSIGNALED(status);
    return result;
}

RunResult waitForTool(pid_t pid, const std::string& stdoutFile) {
    RunResult result = waitForTool(pid);
    result.out = readFile(stdoutFile);
    return result;
}

}  // namespace

RunResult runTool(const std::vector<std::string>& args, const std::string& stdoutFile,
                  std::uintmax_t fileSizeLimit, const std::string& /*workingDirectory: the tests' own*/) {
    return waitForTool(startTool(args, stdoutFile, fileSizeLimit), stdoutFile);
}

RunResult runToolWith(const std::vector<std::string>& args, const std::string& stdoutFile,
                      const RunOptions& options) {
    const std::string stderrFile = stdoutFile + ".err";
    RunResult result = waitForTool(startTool(args, stdoutFile, options, stderrFile));
    if (options.standardOutput < 0) result.out = readFile(stdoutFile);
    result.err = readFile(stderrFile);
    fs::remove(stderrFile);
    return result;
}

bool canPlayStranger() { return geteuid() == 0; }

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

RunResult runToolIntoPipe(const std::vector<std::string>& args) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = startTool(args, "", 0, ends[1]);
    close(ends[1]);
    std::string out;
    char block[65536];
    for (ssize_t got; (got = read(ends[0], block, sizeof block)) != 0;) {
        if (got > 0) out.append(block, static_cast<std::size_t>(got));
        else if (errno != EINTR) break;
    }
    close(ends[0]);
    RunResult result = waitForTool(pid);
    result.out = out;
    return result;
}

RunResult runToolKilledAfter(const std::vector<std::string>& args, const std::string& stdoutFile,
                             std::chrono::microseconds delay) {
    const pid_t pid = startTool(args, stdoutFile, 0);
    std::this_thread::sleep_for(delay);
    // Until it is waited for, an ended child stays a zombie, so the pid
    // cannot name another process here.
    kill(pid, SIGKILL);
    return waitForTool(pid, stdoutFile);
}

#endif

TempDir::TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    do {
        base = fs::temp_directory_path() / ("swfupgrade-test-" + std::to_string(random()));
    } while (!fs::create_directory(base));
    fs::create_directory(base / "work");
}

TempDir::~TempDir() {
    std::error_code ignored;
    // A test may have left a directory read-only; give it back first.
    for (fs::recursive_directory_iterator it(base, ignored), end; !ignored && it != end;
         it.increment(ignored)) {
        if (it->is_directory(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(base, ignored);
}

std::string TempDir::path(const std::string& name) const {
    const std::string work = (base / "work").u8string();
    return name.empty() ? work : work + "/" + name;
}

RunResult TempDir::run(const std::vector<std::string>& args, std::uintmax_t fileSizeLimit) const {
    return runTool(args, (base / "stdout").u8string(), fileSizeLimit);
}

std::string readFile(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(fs::u8path(path), error));
}

std::vector<std::string> temporaryFilesBeside(const std::string& path) {
    const fs::path of = fs::u8path(path);
    const std::string name = of.filename().u8string();
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(of.parent_path(), error)) {
        const std::string candidate = entry.path().filename().u8string();
        if (candidate.size() != name.size() + 15 || candidate.compare(0, name.size(), name) != 0) continue;
        const std::string tail = candidate.substr(name.size());
        bool letters = tail[0] == '.' && tail.compare(11, 4, ".tmp") == 0;
        for (std::size_t i = 1; i < 11; ++i) letters = letters && std::isalnum(static_cast<unsigned char>(tail[i]));
        if (letters) found.push_back(entry.path().u8string());
    }
    return found;
}
