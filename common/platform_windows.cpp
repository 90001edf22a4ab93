// The library's host layer on Windows: files are read, never mapped.
#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>

#include "common/platform.h"

namespace qor {
namespace platform {

namespace {

// Reads a disk file from its start up to expected bytes, the size it had
// when it was opened, whatever the descriptor's offset. A read that fails
// (another process's byte-range lock, a disk error) or ends before that is
// no file at all.
bool readWhole(HANDLE file, std::size_t expected, std::string& buffer) {
    buffer.assign(expected, '\0');
    std::size_t done = 0;
    while (done < expected) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(done) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(done) >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(expected - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, &buffer[done], chunk, &got, &at) || got == 0) return false;
        done += got;
    }
    return true;
}

// Reads a pipe or a console to its end: a pipe whose writer has closed it
// ends, any other failure is no input at all.
enFileResult readToEnd(HANDLE file, std::string& buffer) {
    std::size_t done = 0;
    for (;;) {
        if (!growForRead(buffer, done)) return FILE_TOO_LARGE;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, &buffer[done], chunk, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            return FILE_READ_FAILED;
        }
        if (got == 0) break;
        done += got;
    }
    buffer.resize(done);
    return FILE_READ;
}

}  // namespace

clFileBytes::~clFileBytes() { close(); }

bool clFileBytes::open(const std::string& path) {
    close();
    const int descriptor = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (descriptor < 0) {
        // A directory does not open as a file: it is there, but no file to read.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        outcome = directory ? FILE_NOT_READABLE : FILE_CANNOT_OPEN;
        return false;
    }
    const bool held = openDescriptor(descriptor);
    _close(descriptor);
    return held;
}

bool clFileBytes::openDescriptor(int descriptor, unsigned access) {
    close();
    outcome = readUnlessTooLarge([&] { return read(descriptor, access); });
    if (outcome != FILE_READ) {
        close();
        return false;
    }
    bytes = buffer.data();
    length = buffer.size();
    return true;
}

enFileResult clFileBytes::read(int descriptor, unsigned access) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    if (file == INVALID_HANDLE_VALUE) return FILE_CANNOT_OPEN;
    const DWORD type = GetFileType(file);
    if (type == FILE_TYPE_DISK) {
        // The size and the kind in one query, which asks nothing of the volume.
        FILE_STANDARD_INFO info;
        if (!GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) return FILE_READ_FAILED;
        if (info.Directory) return FILE_NOT_READABLE;
        // Past what a string can hold (in a 32-bit build) it cannot be loaded.
        const auto size = static_cast<std::uintmax_t>(info.EndOfFile.QuadPart);
        if (size > buffer.max_size()) return FILE_TOO_LARGE;
        return readWhole(file, static_cast<std::size_t>(size), buffer) ? FILE_READ : FILE_READ_FAILED;
    }
    if (!(access & ACCESS_STREAM) || (type != FILE_TYPE_PIPE && type != FILE_TYPE_CHAR)) return FILE_NOT_READABLE;
    return readToEnd(file, buffer);
}

void clFileBytes::discardBefore(std::size_t) {}

void clFileBytes::close() {
    std::string().swap(buffer);
    bytes = nullptr;
    length = 0;
}

}  // namespace platform
}  // namespace qor

#endif
