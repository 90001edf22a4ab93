// The security descriptors of files on Windows: what a new output takes
// from the file it replaces or from its directory, and what it has until
// then.
#ifndef SWFUPGRADE_WINDOWS_SECURITY_H
#define SWFUPGRADE_WINDOWS_SECURITY_H

#include <string>
#include <vector>

#include "driver/windows/open_files.h"

namespace host {

// The security descriptor of an open file, self-relative; empty when it
// cannot be read.
std::string securityOf(HANDLE handle);

// The security descriptor the host gives a file newly created in the open
// directory: what the directory passes on to files, or this user's default.
std::string newFileSecurityIn(HANDLE directory);

// Access for the user running the tool alone, protected from what the
// directory passes on: the temporary file's, from its creation.
class clPrivateSecurity {
public:
    clPrivateSecurity();
    clPrivateSecurity(const clPrivateSecurity&) = delete;
    clPrivateSecurity& operator=(const clPrivateSecurity&) = delete;
    // Null when it could not be made.
    SECURITY_ATTRIBUTES* get() { return made ? &attributes : nullptr; }

private:
    std::vector<BYTE> user, list;
    SECURITY_DESCRIPTOR descriptor = {};
    SECURITY_ATTRIBUTES attributes = {};
    bool made = false;
};

}  // namespace host

#endif
