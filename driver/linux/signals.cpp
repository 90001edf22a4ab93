// The signals a run handles itself: the ending ones while a new output
// file has its temporary name, and a bus error while a mapped input is
// read (clBusErrorExit in host.h). Handlers read only plain data, set
// while the signals they serve are held back or not yet caught.
#include "driver/linux/signals.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "driver/host.h"

namespace host {

namespace {

constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int endingSignalCount = sizeof endingSignals / sizeof endingSignals[0];
struct sigaction endingBefore[endingSignalCount];
bool endingCaught[endingSignalCount] = {};
int pendingDirectory = -1;
int pendingFile = -1;
char pendingName[256] = "";  // a directory entry's name, 255 bytes at most

void removePendingAndEnd(int signal) {
    const int saved = errno;
    struct stat named, own;
    // Only while the name is still the file's own, as discard checks.
    if (pendingName[0] != '\0' && ::fstatat(pendingDirectory, pendingName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        ::fstat(pendingFile, &own) == 0 && named.st_dev == own.st_dev && named.st_ino == own.st_ino) {
        ::unlinkat(pendingDirectory, pendingName, 0);
    }
    pendingName[0] = '\0';
    // Then the signal does what it would have done without this handler.
    for (int i = 0; i < endingSignalCount; ++i) {
        if (endingSignals[i] == signal) ::sigaction(signal, &endingBefore[i], nullptr);
    }
    ::raise(signal);
    errno = saved;
}

// What the bus error handler writes.
const char* busErrorLine = nullptr;
std::size_t busErrorSize = 0;
struct sigaction busErrorBefore;

void endOnBusError(int) {
    const ssize_t written = ::write(STDOUT_FILENO, busErrorLine, busErrorSize);
    (void)written;  // nothing is left to do about a failed write
    ::_exit(1);
}

}  // namespace

clEndingHeld::clEndingHeld() {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : endingSignals) sigaddset(&ending, signal);
    ::sigprocmask(SIG_BLOCK, &ending, &before);
}

clEndingHeld::~clEndingHeld() { ::sigprocmask(SIG_SETMASK, &before, nullptr); }

void removeOnEndingSignal(int directory, int file, const std::string& name) {
    pendingDirectory = directory;
    pendingFile = file;
    name.copy(pendingName, sizeof pendingName - 1);
    pendingName[std::min(name.size(), sizeof pendingName - 1)] = '\0';
    for (int i = 0; i < endingSignalCount; ++i) {
        struct sigaction now;
        if (endingCaught[i] || ::sigaction(endingSignals[i], nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = removePendingAndEnd;
        sigemptyset(&action.sa_mask);
        for (const int signal : endingSignals) sigaddset(&action.sa_mask, signal);
        endingCaught[i] = ::sigaction(endingSignals[i], &action, &endingBefore[i]) == 0;
    }
}

void keepOnEndingSignal() {
    pendingName[0] = '\0';
    for (int i = 0; i < endingSignalCount; ++i) {
        if (endingCaught[i]) ::sigaction(endingSignals[i], &endingBefore[i], nullptr);
        endingCaught[i] = false;
    }
}

clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {
    busErrorLine = message.data();
    busErrorSize = message.size();
    struct sigaction action = {};
    action.sa_handler = endOnBusError;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &busErrorBefore);
}

clBusErrorExit::~clBusErrorExit() { ::sigaction(SIGBUS, &busErrorBefore, nullptr); }

}  // namespace host
