// What the run needs of the host it runs on: its process, paths and the
// files it writes. Each host keeps its own state for these in
// driver/<host>/state.h and implements them in the files beside it.
#ifndef SWFUPGRADE_HOST_H
#define SWFUPGRADE_HOST_H

#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include "driver/windows/state.h"
#else
#include "driver/linux/state.h"
#endif

namespace host {

// The arguments after the program's name, as the shared code carries
// names: bytes on POSIX; on Windows, the host's wide command line as UTF-8.
std::vector<std::string> arguments(int argc, char** argv);

// Call it first. On Linux it makes a write past a file-size limit, or
// into a pipe whose reader has gone, fail with an error the caller can
// report and clean up after, instead of a signal that kills the process,
// and notes the creation mask, which a new output's permissions follow.
// On Windows it has the console's events remove a new output file before
// they end the process (see clOutputFile::createBeside).
void prepareProcess();

// While alive, a bus error (a mapped file cut short by another program)
// ends the process with message on standard output and exit status 1,
// rather than a crash: only meanwhile may a load map its file. Windows
// maps nothing, so there it does nothing. The message is the caller's
// complete line.
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
constexpr std::string_view textLineEnd = "\r\n";
#else
constexpr std::string_view textLineEnd = "\n";
#endif

// Writes one message line to standard output and flushes it: on a console
// the line's characters as the console shows them, elsewhere its bytes.
void writeLine(const std::string& line);

// Which file an open file is, for as long as it exists: no other file has
// the same identity meanwhile.
struct clFileId {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    bool known = false;
    bool operator==(const clFileId& other) const {
        return known && other.known && device == other.device && index == other.index;
    }
};

// What a path named when it was resolved.
enum enPlaceKind {
    PLACE_UNREACHABLE,  // a directory on the way missing, a loop, or a link not safe to follow
    PLACE_MISSING,      // nothing at the last name; the directory that would hold it is there
    PLACE_REGULAR,
    PLACE_DIRECTORY,
    PLACE_STREAM,     // a device, a pipe or a socket
    PLACE_DESCRIPTOR  // one of this process's own descriptors: /dev/stdout, /dev/fd/N and the like (Linux)
};

// A path resolved once. On Linux it is walked name by name from the
// directory it starts in, the links followed by the run itself, and the
// directory that holds the last name and whatever stands at that name are
// held open, so that every later step acts on them and never on the path
// again; a link owned by someone other than root or the user running the
// tool is followed only to what that same someone owns (after any further
// links), anything else is refused. On Windows the host resolves it, links
// and all, and it is kept as the path the host found.
class clPlace {
public:
    clPlace() = default;
    ~clPlace();
    clPlace(const clPlace&) = delete;
    clPlace& operator=(const clPlace&) = delete;

    enPlaceKind resolve(const std::string& path);
    enPlaceKind kind() const { return placeKind; }
    // The file that stood at the last name; unknown when there was none.
    const clFileId& file() const { return fileId; }
    // The last name, within the directory that holds it.
    const std::string& lastName() const { return name; }
    // What the host keeps of the place, for the host's own code.
    const clPlaceState& hostState() const { return state; }

private:
    void reset();

    enPlaceKind placeKind = PLACE_UNREACHABLE;
    clFileId fileId;
    std::string name;
    clPlaceState state;
};

// The input, resolved and opened once for reading: a regular file; or, on
// Linux, a stream, read to its end: one of this process's descriptors that
// is a pipe, a socket or a terminal, or a FIFO of root's or this user's own.
class clInputFile {
public:
    clInputFile() = default;
    ~clInputFile();
    clInputFile(const clInputFile&) = delete;
    clInputFile& operator=(const clInputFile&) = delete;

    bool open(const std::string& path);
    // The open file, as the library's load takes it (a C runtime
    // descriptor on Windows).
    int descriptor() const { return fd; }
    const clFileId& file() const { return fileId; }
    // A regular file's size when it was opened; 0 for a stream.
    std::uintmax_t size() const { return bytes; }
    bool isStream() const { return stream; }
    // What the path named when it was resolved.
    const clPlace& found() const { return place; }
    // Once it is read: on some hosts a file open here cannot be replaced.
    void close();

private:
    clPlace place;
    int fd = -1;
    clFileId fileId;
    std::uintmax_t bytes = 0;
    bool stream = false;
};

// The name of a new file beside the one named name: its start, a dot, ten
// letters and digits drawn from random, and ".tmp"; never longer than a
// directory entry may be (255 bytes).
inline std::string temporaryNameFor(const std::string& name, std::uint64_t random) {
    static const char symbols[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string tail = ".";
    for (int i = 0; i < 10; ++i, random /= 62) tail += symbols[random % 62];
    tail += ".tmp";
    constexpr std::size_t maxNameSize = 255;
    return name.substr(0, maxNameSize - tail.size()) + tail;
}

// A file written through the host's own calls, unbuffered: each write
// reaches the host at once, and a short write is a failed one. Every
// change after it is open goes through the open file or the directory
// held for it, never a path (on Windows, through the directory's path and
// the names in it).
class clOutputFile : public std::streambuf {
public:
    clOutputFile() = default;
    ~clOutputFile() override;  // closes it
    clOutputFile(const clOutputFile&) = delete;
    clOutputFile& operator=(const clOutputFile&) = delete;

    // Opens what place found for writing, as it is, when it can only be
    // written through: a device or a pipe (a FIFO waits for its reader),
    // or a duplicate of one of this process's descriptors.
    bool openThrough(const clPlace& place);

    // Creates a new regular file in the directory place holds, under a
    // fresh random name beside place's own, that only this user may read
    // or write. Nothing already there is ever opened, locked or removed.
    // While the new file has that name, SIGINT, SIGTERM and SIGHUP (on
    // Windows, Ctrl-C, Ctrl-Break and closing the console) remove it
    // before they end the process as they would have.
    bool createBeside(const clPlace& place);

    // Sets aside room for bytes more bytes in a regular file, without
    // changing its size; false when they cannot fit (a full disk, a file
    // size limit). Anything else takes its bytes as they come.
    bool reserve(std::uintmax_t bytes);

    // Gives the new file what the file place found has and this user may
    // set; false when any of it fails. On Linux: its owner (where this user
    // is root), its group (where a member), its permissions, access list
    // and security label (a label the security policy refuses excepted).
    // On Windows: its owner (where this user may give one), group and
    // access list, its hidden, system and not-indexed attributes, and its
    // creation time. When place found none, what a file newly created
    // there gets.
    bool takeAttributes(const clPlace& place);

    // Writes the file's data through to storage.
    bool syncData();

    // Renames the new file over place's last name in one step: a reader
    // sees the old file or the new one, never a mix. With mustReplace, only
    // while that name still stands for that file. False when the name is
    // as it was.
    bool replace(const clPlace& place, const clFileId* mustReplace);

    // After replace: syncs what makes the rename survive a power cut (on
    // Windows the move was written through already). False when that
    // fails; the new file is in place all the same.
    bool syncReplacement();

    // Removes the new file: on Linux while its name is still its own; on
    // Windows the file open here, whatever its name now.
    void discard();

    // False when the host reports an error closing it.
    bool close();

    // What the host keeps of the open file, for the host's own code.
    const clOutputState& hostState() const { return state; }

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    bool isOwnName() const;

    std::string temporaryName;  // of a created file, in the held directory
    clOutputState state;
};

}  // namespace host

#endif
