// What differs between the hosts the tool runs on: its process, paths and
// the files it writes. One header, one source file per host.
#ifndef SWFUPGRADE_HOST_H
#define SWFUPGRADE_HOST_H

#include <cstdint>
#include <streambuf>
#include <string>

namespace host {

// Makes a write past a file-size limit, or into a pipe whose reader has
// gone, fail with an error the caller can report and clean up after,
// instead of a signal that kills the process.
void prepareProcess();

// While alive, a bus error (a mapped file cut short by another program)
// ends the process with message on standard output and exit status 1,
// rather than a crash; the library maps its input only meanwhile. The
// message is the caller's complete line.
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

// The descriptor of this process that path names (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N and the like), or -1 when it names none.
int ownDescriptor(const std::string& path);

// The steps that put a new file in place, in order. For tests: when set,
// beforeStep is called with the step and the path it acts on just before
// each, so a test can see their order or meddle at the worst moment.
enum enStep { STEP_SET_ATTRIBUTES, STEP_SYNC_DATA, STEP_RENAME, STEP_SYNC_DIRECTORY };
extern void (*beforeStep)(enStep step, const std::string& path);

// A file written through the host's own calls, unbuffered: each write
// reaches the host at once, and a short write is a failed one. Every
// change after it is open goes through the open file, never its path.
class clOutputFile : public std::streambuf {
public:
    clOutputFile() = default;
    ~clOutputFile() override;  // closes, releasing any lock
    clOutputFile(const clOutputFile&) = delete;
    clOutputFile& operator=(const clOutputFile&) = delete;

    // Opens what already exists at path for writing, as it is: a device or
    // a pipe takes the bytes as they come.
    bool openExisting(const std::string& path);

    // Writes into a duplicate of one of this process's descriptors.
    bool openDescriptor(int descriptor);

    // Creates a new regular file at path that only this user may read or
    // write, and holds an exclusive lock on it until closed, so that
    // writers of one path take turns. A file already there is waited for
    // only while another run of this user holds it; anything else there is
    // removed, never followed, opened for writing or truncated. False when
    // something that cannot be removed is in the way.
    bool createLocked(const std::string& path);

    // Sets aside room for bytes more bytes in a regular file, without
    // changing its size; false when they cannot fit (a full disk, a file
    // size limit). Anything else takes its bytes as they come.
    bool reserve(std::uintmax_t bytes);

    // Gives the file the permissions of the file at model, with its owner,
    // group, access list and security label where this user may set them;
    // with no file at model, the permissions a newly created file gets.
    bool takeAttributes(const std::string& model);

    // Writes the file's data through to storage.
    bool syncData();

    // Whether path still names this file.
    bool isAt(const std::string& path) const;

    // Removes path when it still names this file, and nothing else.
    void removeIfAt(const std::string& path);

    // False when the host reports an error closing it.
    bool close();

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
#ifdef _WIN32
    void* handle = nullptr;
    std::string path;  // of a created file, whose disk's free space may be asked
#else
    int fd = -1;
    long long writtenBytes = 0;      // since the file was opened
    long long writtenBackBytes = 0;  // of those, already handed to storage
#endif
};

// Puts the file at from in place of the one at to, in one step that
// survives a power cut once this returns true: a reader of to sees the old
// file or the new one, never a mix.
bool replaceFile(const std::string& from, const std::string& to);

}  // namespace host

#endif
