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

void setFileMapping(bool) {}

clFileBytes::~clFileBytes() { close(); }

bool clFileBytes::open(const std::string& path) {
    close();
    const int descriptor = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (descriptor < 0) return false;
    const bool read = openDescriptor(descriptor);
    _close(descriptor);
    return read;
}

bool clFileBytes::openDescriptor(int descriptor) {
    close();
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        !GetFileSizeEx(file, &size) || static_cast<std::uintmax_t>(size.QuadPart) >= buffer.max_size()) {
        return false;
    }
    buffer.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    // From the start, whatever the descriptor's offset; a file that shrinks
    // meanwhile gives what could be read.
    std::size_t done = 0;
    while (done < buffer.size()) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(done) & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(done) >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(buffer.size() - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, &buffer[done], chunk, &got, &at) || got == 0) break;
        done += got;
    }
    buffer.resize(done);
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
