// What differs between the hosts the library runs on: reading a file's
// bytes. One header, one source file per host.
#ifndef QOR_COMMON_PLATFORM_H
#define QOR_COMMON_PLATFORM_H

#include <algorithm>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>

namespace qor {
namespace platform {

// What clFileBytes::openDescriptor may take besides a regular file read
// into memory; or-ed together.
enum enFileAccess : unsigned {
    ACCESS_READ = 0,
    // A regular file mapped where the host can, not copied. A mapped file
    // that another program cuts short raises SIGBUS in whoever touches the
    // lost pages: only for a caller that handles that signal.
    ACCESS_MAP = 1,
    // A pipe, a socket or a terminal (a console on Windows), read to its end.
    ACCESS_STREAM = 2
};

// How the last open of a clFileBytes ended.
enum enFileResult : unsigned {
    FILE_READ,          // its bytes are held
    FILE_CANNOT_OPEN,   // missing, no permission, or no open descriptor
    FILE_NOT_READABLE,  // neither a regular file nor a stream its access allows
    FILE_READ_FAILED,   // a read that failed or ended before the file's size
    FILE_TOO_LARGE      // more than a string may hold, or than memory does
};

// What read (a call that gives an enFileResult) gives, or FILE_TOO_LARGE
// when memory runs out on the way: a file too large to hold is one result
// among the others, not an exception.
template <class Read>
enFileResult readUnlessTooLarge(Read read) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return FILE_TOO_LARGE;
    } catch (const std::length_error&) {
        return FILE_TOO_LARGE;
    }
}

// Makes buffer larger than done, for the next read of a stream whose size
// is not known: 64 KiB at first, then twice as large each time. False when
// it cannot grow, as no string may hold more.
inline bool growForRead(std::string& buffer, std::size_t done) {
    if (done < buffer.size()) return true;
    const std::size_t most = buffer.max_size();
    if (buffer.size() == most) return false;
    buffer.resize(buffer.size() < most / 2 ? std::max(std::size_t(64) << 10, buffer.size() * 2) : most);
    return true;
}

// A file's bytes, read-only, for one forward pass over them: the whole
// file or nothing.
class clFileBytes {
public:
    clFileBytes() = default;
    ~clFileBytes();
    clFileBytes(const clFileBytes&) = delete;
    clFileBytes& operator=(const clFileBytes&) = delete;

    // Holds the bytes of the regular file at path, read into memory.
    // Anything else, and a read that fails or ends before the size the file
    // had when it was opened, gives false and no bytes; result says why.
    bool open(const std::string& path);

    // The same for the file open at descriptor (a POSIX descriptor, or the
    // C runtime's on Windows), read from its start whatever its offset,
    // taken as access allows. The descriptor stays the caller's, open.
    bool openDescriptor(int descriptor, unsigned access = ACCESS_READ);

    // How the last open or openDescriptor ended.
    enFileResult result() const { return outcome; }

    const char* data() const { return bytes; }
    std::size_t size() const { return length; }

    // The bytes before end are never read again, so the whole pages among
    // them may go back to the host.
    void discardBefore(std::size_t end);

private:
    void close();
    // Reads the descriptor's bytes as access allows; how that ended.
    enFileResult read(int descriptor, unsigned access);

    const char* bytes = nullptr;
    std::size_t length = 0;
    std::size_t discarded = 0;  // the pages before this offset are handed back
    void* mapping = nullptr;    // what to unmap, when the bytes are mapped
    std::string buffer;         // the bytes, when they had to be read
    enFileResult outcome = FILE_CANNOT_OPEN;
};

}  // namespace platform
}  // namespace qor

#endif
