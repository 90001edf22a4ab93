// What differs between the hosts this code runs on, kept in one place.
#ifndef QOR_COMMON_PLATFORM_H
#define QOR_COMMON_PLATFORM_H

#include <cstddef>
#include <streambuf>
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

// The bytes a text-mode stream of this host writes for a newline.
#ifdef _WIN32
constexpr const char* textLineEnd = "\r\n";
#else
constexpr const char* textLineEnd = "\n";
#endif

// What a path names once symbolic links are followed. A stream is anything
// but a regular file or a directory: a device, a pipe, a socket.
enum enPathKind { PATH_MISSING, PATH_REGULAR, PATH_DIRECTORY, PATH_STREAM };
enPathKind pathKind(const std::string& path);

// For tests: when set, called with a file's path just before its data is
// synced, so a test can see what a crash at that moment would leave.
extern void (*beforeSync)(const std::string& path);

// A file written through the host's own calls, unbuffered: each write
// reaches the host at once, and a short write is a failed one.
class clOutputFile : public std::streambuf {
public:
    clOutputFile() = default;
    ~clOutputFile() override;  // closes, releasing any lock
    clOutputFile(const clOutputFile&) = delete;
    clOutputFile& operator=(const clOutputFile&) = delete;

    // Opens what already exists at path for writing, as it is: a device or
    // a pipe takes the bytes as they come.
    bool openExisting(const std::string& path);

    // Opens the regular file at path, creating it when missing, and holds
    // an exclusive lock on it until closed, so that writers of one path take
    // turns. On success the file is empty and still the one at path. A
    // stale link or special file at path is removed, never followed; a
    // directory there is a failure.
    bool openLocked(const std::string& path);

    // Writes the file's data through to storage.
    bool syncData();

    // False when the host reports an error closing it.
    bool close();

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int_type overflow(int_type c) override;

private:
    std::string path;
#ifdef _WIN32
    void* handle = nullptr;
#else
    int fd = -1;
    long long writtenBytes = 0;      // since the file was opened
    long long writtenBackBytes = 0;  // of those, already handed to storage
#endif
};

// Puts the file at from in place of the one at to, in one step: a reader
// of to sees the old file or the new one, never a mix. False when the
// host refuses.
bool replaceFile(const std::string& from, const std::string& to);

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
