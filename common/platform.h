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

// While alive, a bus error (a mapped file cut short by another program)
// ends the process with message on standard output and exit status 1,
// rather than a crash. The message is the caller's complete line.
class clBusErrorExit {
public:
    explicit clBusErrorExit(std::string message);
    ~clBusErrorExit();
    clBusErrorExit(const clBusErrorExit&) = delete;
    clBusErrorExit& operator=(const clBusErrorExit&) = delete;

private:
    std::string message;
};

// Gives the file at target the owner and group of the file at source, where
// the host has them and allows it; a refusal leaves target as it is.
void copyOwner(const std::string& source, const std::string& target);

// A regular file's bytes, read-only, for one forward pass over them:
// mapped where the host can (no copy, no fresh memory), else read whole.
class clFileBytes {
public:
    clFileBytes() = default;
    ~clFileBytes();
    clFileBytes(const clFileBytes&) = delete;
    clFileBytes& operator=(const clFileBytes&) = delete;

    // Holds the bytes of the file at path. Anything but a readable regular
    // file gives false and no bytes.
    bool open(const std::string& path);

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
    void* mapping = nullptr;  // what to unmap, when the bytes are mapped
    std::string buffer;       // the bytes, when they had to be read
};

}  // namespace platform
}  // namespace qor

#endif
