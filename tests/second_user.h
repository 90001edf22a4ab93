// Playing a second local user in tests run as root: uid and gid 65534.
#ifndef QOR_TESTS_SECOND_USER_H
#define QOR_TESTS_SECOND_USER_H

#ifndef _WIN32

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace qor_test {

constexpr uid_t stranger = 65534;

// Runs action as the stranger, in a child that drops root's privileges;
// whether it did all it meant to.
inline bool asStranger(const std::function<bool()>& action) {
    std::fflush(nullptr);  // nothing buffered here is the child's to write
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(stranger) != 0 || setuid(stranger) != 0) _exit(127);
        _exit(action() ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace qor_test

#endif

#endif
