// What differs between the hosts this code runs on, kept in one place.
#ifndef QOR_COMMON_PLATFORM_H
#define QOR_COMMON_PLATFORM_H

#include <cstddef>
#include <string>

namespace qor {
namespace platform {

// Makes a write past a file-size limit fail with an error the caller can
// report and clean up after, instead of a signal that kills the process.
void prepareProcess();

// Gives the file at target the owner and group of the file at source, where
// the host has them and allows it; a refusal leaves target as it is.
void copyOwner(const std::string& source, const std::string& target);

// Hands the whole memory pages inside [begin, begin + size) back to the
// host: their bytes are never read again. Where the host cannot, nothing
// happens.
void releasePages(char* begin, std::size_t size);

}  // namespace platform
}  // namespace qor

#endif
