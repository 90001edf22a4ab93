// Parts of a test that run in a child process of their own, and the second
// local user that root tests play: uid and gid 65534. POSIX only.
#ifndef QOR_TESTS_CHILD_H
#define QOR_TESTS_CHILD_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <vector>

namespace qor_test {

constexpr uid_t stranger = 65534;

// How a child ended.
struct ChildEnd {
    int status = -1;  // its exit status; -1 unless it exited
    int signal = 0;   // the signal that ended it, if one did
};

// Starts body in a child that exits with what body answers; nothing
// buffered here is the child's to write. Throws when no child starts.
pid_t startChild(const std::function<int()>& body);
// Waits for the child; one still running after patience, when given, is
// killed (it ends by SIGKILL). Until it is waited for, an ended child stays
// a zombie, so its pid names no other process meanwhile.
ChildEnd waitChild(pid_t pid, std::chrono::microseconds patience = {});
ChildEnd runChild(const std::function<int()>& body, std::chrono::microseconds patience = {});

// In a child: gives standard output (or fd) to a file made at path.
bool redirect(const char* path, int fd = 1);
// In a child: drops root's privileges for the stranger's, with these
// supplementary groups. Only async-signal-safe calls.
bool becomeStranger(const std::vector<gid_t>& groups = {});
// Runs action as the stranger, in a child; whether it did all it meant to.
bool asStranger(const std::function<bool()>& action);
// Whether this process may play the stranger.
bool canPlayStranger();

}  // namespace qor_test

#endif
