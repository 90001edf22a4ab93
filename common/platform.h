// What differs between the hosts the library runs on: reading a file's
// bytes. One header, one source file per host.
#ifndef QOR_COMMON_PLATFORM_H
#define QOR_COMMON_PLATFORM_H

#include <cstddef>
#include <string>

namespace qor {
namespace platform {

// Whether files may be mapped rather than read. A mapped file that another
// program cuts short raises SIGBUS in whoever touches the lost pages, so
// only a program that handles that signal may turn this on; by default
// files are read into memory, which a shrinking file cannot hurt.
void setFileMapping(bool allowed);

// A regular file's bytes, read-only, for one forward pass over them:
// mapped where allowed and possible (no copy), else read whole.
class clFileBytes {
public:
    clFileBytes() = default;
    ~clFileBytes();
    clFileBytes(const clFileBytes&) = delete;
    clFileBytes& operator=(const clFileBytes&) = delete;

    // Holds the bytes of the file at path. Anything but a readable regular
    // file gives false and no bytes; a file that shrinks while it is read
    // gives the bytes that could be read.
    bool open(const std::string& path);

    // The same for the file open at descriptor (a POSIX descriptor, or the
    // C runtime's on Windows), read from its start whatever its offset. The
    // descriptor stays the caller's, open.
    bool openDescriptor(int descriptor);

    const char* data() const { return bytes; }
    std::size_t size() const { return length; }

    // The bytes before end are never read again, so the whole pages among
    // them may go back to the host.
    void discardBefore(std::size_t end);

private:
    void close();

    const char* bytes = nullptr;
    std::size_t length = 0;
    std::size_t discarded = 0;  // the pages before this offset are handed back
    void* mapping = nullptr;    // what to unmap, when the bytes are mapped
    std::string buffer;         // the bytes, when they had to be read
};

}  // namespace platform
}  // namespace qor

#endif
