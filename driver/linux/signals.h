// The signals that end a run, SIGINT, SIGTERM and SIGHUP, kept from
// leaving a new output file behind.
#ifndef SWFUPGRADE_LINUX_SIGNALS_H
#define SWFUPGRADE_LINUX_SIGNALS_H

#include <signal.h>

#include <string>

namespace host {

// Holds back the signals that end a run, while alive.
class clEndingHeld {
public:
    clEndingHeld();
    ~clEndingHeld();
    clEndingHeld(const clEndingHeld&) = delete;
    clEndingHeld& operator=(const clEndingHeld&) = delete;

private:
    sigset_t before;
};

// From now on an ending signal removes the file open at file, while name
// in directory is still that file's, then ends the process as it would
// have. Call it only while the ending signals are held back. A signal
// that was ignored when the run began stays ignored.
void removeOnEndingSignal(int directory, int file, const std::string& name);

// An ending signal does again what it did before: it removes nothing.
// Call it only while the ending signals are held back.
void keepOnEndingSignal();

}  // namespace host

#endif
