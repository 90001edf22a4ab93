#include "support/child.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace qor_test {

pid_t startChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) _exit(body());
    return pid;
}

ChildEnd waitChild(pid_t pid, std::chrono::microseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    int status = 0;
    pid_t ended = 0;
    while (patience.count() > 0 && (ended = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (ended == 0) {
        if (patience.count() > 0) kill(pid, SIGKILL);
        ended = waitpid(pid, &status, 0);
    }
    if (ended != pid) throw std::runtime_error("waitpid failed");
    ChildEnd end;
    if (WIFEXITED(status)) end.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) end.signal = WTERMSIG(status);
    return end;
}

ChildEnd runChild(const std::function<int()>& body, std::chrono::microseconds patience) {
    return waitChild(startChild(body), patience);
}

bool redirect(const char* path, int fd) {
    const int file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return file >= 0 && dup2(file, fd) == fd;
}

bool becomeStranger(const std::vector<gid_t>& groups) {
    return setgroups(groups.size(), groups.data()) == 0 && setgid(stranger) == 0 && setuid(stranger) == 0;
}

bool asStranger(const std::function<bool()>& action) {
    return runChild([&] { return becomeStranger() && action() ? 0 : 1; }).status == 0;
}

bool canPlayStranger() { return geteuid() == 0; }

}  // namespace qor_test
