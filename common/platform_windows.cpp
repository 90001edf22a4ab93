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
bool readToEnd(HANDLE file, std::string& buffer) {
    std::size_t done = 0;
    for (;;) {
        if (!growForRead(buffer, done)) return false;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, &buffer[done], chunk, &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    buffer.resize(done);
    return true;
}

}  // namespace

clFileBytes::~clFileBytes() { close(); }

bool clFileBytes::open(const std::string& path) {
    close();
    const int descriptor = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (descriptor < 0) return false;
    const bool read = openDescriptor(descriptor);
    _close(descriptor);
    return read;
}

bool clFileBytes::openDescriptor(int descriptor, unsigned access) {
    close();
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    if (file == INVALID_HANDLE_VALUE) return false;
    const DWORD type = GetFileType(file);
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    bool read = false;
    if (type == FILE_TYPE_DISK) {
        // Past what a string can hold (in a 32-bit build) it cannot be loaded.
        read = GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
               GetFileSizeEx(file, &size) && static_cast<std::uintmax_t>(size.QuadPart) <= buffer.max_size() &&
               readWhole(file, static_cast<std::size_t>(size.QuadPart), buffer);
    } else if ((access & ACCESS_STREAM) && (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR)) {
        read = readToEnd(file, buffer);
    }
    if (!read) {
        close();
        return false;
    }
    bytes = buffer.data();
    length = buffer.size();
    return true;
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
