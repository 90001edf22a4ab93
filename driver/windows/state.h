// What the Windows host keeps of a resolved path and of an output file.
// The host offers no calls relative to a handle, and a file held open
// cannot be replaced there: a place's directory is kept as the path the
// host found for it (links followed, in its long form), and what a new
// file takes from the regular file found is read at once. Handles are
// kept as void*, the type HANDLE stands for, so that this header needs
// none of the host's own.
#ifndef SWFUPGRADE_WINDOWS_STATE_H
#define SWFUPGRADE_WINDOWS_STATE_H

#include <string>

namespace host {

struct clPlaceState {
    std::wstring directory;        // ends in its separator
    std::string security;          // the new file's security descriptor, self-relative
    unsigned long attributes = 0;  // the regular file's attribute bits
    long long created = 0;         // and its creation time
    void* held = nullptr;          // a stream, open for writing: it is opened only once
};

struct clOutputState {
    void* handle = nullptr;
    std::wstring temporaryPath;  // the created file's, whole, as the host's wide calls take it
};

}  // namespace host

#endif
