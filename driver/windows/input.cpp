// The input on Windows: a regular file only.
#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "driver/host.h"
#include "driver/windows/open_files.h"

namespace host {

clInputFile::~clInputFile() { close(); }

void clInputFile::close() {
    if (fd >= 0) _close(fd);
    fd = -1;
}

bool clInputFile::open(const std::string& path) {
    // Opened for reading, it must still be the regular file found. Others
    // may replace it meanwhile, as this run will.
    if (place.resolve(path) != PLACE_REGULAR) return false;
    const std::wstring found = place.hostState().directory + widened(place.lastName());
    const HANDLE handle = CreateFileW(found.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    fileId = identityOf(handle);
    if (!(fileId == place.file()) || GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return false;
    }
    bytes = static_cast<std::uintmax_t>(size.QuadPart);
    fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) CloseHandle(handle);
    return fd >= 0;
}

}  // namespace host
