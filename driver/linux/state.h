// What the Linux host keeps of a resolved path and of an output file:
// descriptors, -1 where there is none. The host holds names open without
// opening them (O_PATH), reopens them through /proc, and reads the links
// it holds with readlinkat(fd, ""): calls other POSIX systems lack or give
// another meaning, so configuration refuses them.
#ifndef SWFUPGRADE_LINUX_STATE_H
#define SWFUPGRADE_LINUX_STATE_H

namespace host {

struct clPlaceState {
    int directory = -1;   // the directory holding the last name
    int held = -1;        // what stands at the last name, opened only to look at it
    int descriptor = -1;  // PLACE_DESCRIPTOR: which of this process's descriptors
};

struct clOutputState {
    int fd = -1;
    int directory = -1;              // a created file's, duplicated from its place's
    int directoryToSync = -1;        // opened for reading before the rename; -1: sync through fd
    long long writtenBytes = 0;      // since the file was opened
    long long writtenBackBytes = 0;  // of those, already handed to storage
};

}  // namespace host

#endif
