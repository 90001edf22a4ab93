// Whole files, byte for byte, and the names a run gives its new files.
// Names are UTF-8 on Windows.
#ifndef QOR_TESTS_FILES_H
#define QOR_TESTS_FILES_H

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>

#include <cstdint>
#endif

namespace qor_test {

// A failure throws, so the test fails. The reader shares the file with
// every other handle, as a run's own handles share it (Windows).
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
#ifndef _WIN32
// Writes a file, or makes a directory, then gives it to owner (group too)
// with mode.
void writeFileOf(uid_t owner, mode_t mode, const std::string& path, const std::string& bytes);
void makeDirectoryOf(uid_t owner, mode_t mode, const std::string& path);

// Who owns what stands at path (a link itself, not what it names), and
// its permission bits; all ones where nothing stands there.
struct Ownership {
    uid_t owner = ~uid_t{0};
    gid_t group = ~gid_t{0};
    mode_t mode = 07777;
};
Ownership ownershipOf(const std::string& path);

// An access list as the kernel keeps it (system.posix_acl_access): the
// owner rw-, one named user, the group, the mask, others nothing; each
// permission as rwx bits.
std::string accessList(std::uint32_t user, unsigned userPermissions, unsigned groupPermissions,
                       unsigned maskPermissions);
// The access list at path, as the kernel keeps it; empty where none is.
std::string accessListOf(const std::string& path);
#endif
// Whether anything, even a dangling link, has this name.
bool exists(const std::string& path);

// Whether file is the name a run gives a new file beside name: name, a
// dot, ten letters or digits, ".tmp".
bool isTemporaryNameFor(const std::string& file, const std::string& name);
// The files of such names beside path, as full paths.
std::vector<std::string> temporaryFilesBeside(const std::string& path);

}  // namespace qor_test

#endif
