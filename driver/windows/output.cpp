// The output on Windows: written through as it is, or a new file created
// beside it, filled, flushed and moved over it.
#include <algorithm>

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/windows/console_events.h"
#include "driver/windows/open_files.h"
#include "driver/windows/security.h"

namespace host {

namespace {

// A fresh name collides only with a file made for the purpose; a few
// tries more than any chance collision needs, and a bound on one that is not.
constexpr int maxCreateAttempts = 100;

// The start of name, at most size bytes, never cut within a character.
std::string startOf(const std::string& name, std::size_t size) {
    if (name.size() <= size) return name;
    while (size > 0 && (static_cast<unsigned char>(name[size]) & 0xC0) == 0x80) --size;
    return name.substr(0, size);
}

}  // namespace

clOutputFile::~clOutputFile() { close(); }

bool clOutputFile::openThrough(const clPlace& place) {
    close();
    if (place.kind() != PLACE_STREAM || !place.hostState().held) return false;
    HANDLE opened = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(place.hostState().held), GetCurrentProcess(), &opened,
                         0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    state.handle = opened;
    return true;
}

bool clOutputFile::createBeside(const clPlace& place) {
    close();
    // The host's own copy and move refuse to replace a read-only file; so
    // does the tool, before it writes a byte.
    if (place.kind() == PLACE_REGULAR && (place.hostState().attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (place.hostState().directory.empty()) return false;
    // A name is at most 255 UTF-16 units; its UTF-8 bytes are never fewer.
    constexpr std::size_t tailSize = 15;
    const std::string start = startOf(place.lastName(), 255 - tailSize);
    clPrivateSecurity privately;
    for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
        const std::string candidate = temporaryNameFor(start, drawRandom());
        const std::wstring path = place.hostState().directory + widened(candidate);
        const HANDLE created =
            CreateFileW(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL | DELETE, shareAll,
                        privately.get(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            state.handle = created;
            temporaryName = candidate;
            state.temporaryPath = path;
            removeOnConsoleEvent(created);
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return false;
}

bool clOutputFile::reserve(std::uintmax_t bytes) {
    const HANDLE file = static_cast<HANDLE>(state.handle);
    if (!file) return false;
    if (bytes == 0 || GetFileType(file) != FILE_TYPE_DISK) return true;
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    if (SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_FILE_TOO_LARGE) return false;
    // The file system cannot reserve: its free space has to do.
    const std::wstring folder = state.temporaryPath.substr(0, state.temporaryPath.find_last_of(L'\\') + 1);
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return true;
    return bytes <= available.QuadPart;
}

std::streamsize clOutputFile::xsputn(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (state.handle && done < n) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::streamsize>(n - done, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(state.handle), s + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    return done;
}

bool clOutputFile::syncData() { return state.handle && FlushFileBuffers(static_cast<HANDLE>(state.handle)); }

bool clOutputFile::isOwnName() const {
    return state.handle && !temporaryName.empty() &&
           identityAt(state.temporaryPath) == identityOf(static_cast<HANDLE>(state.handle));
}

bool clOutputFile::replace(const clPlace& place, const clFileId* mustReplace) {
    // The name as its directory spells it, which the file keeps.
    const std::wstring target = place.hostState().directory + widened(place.lastName());
    if (!isOwnName() || (mustReplace && !(identityAt(target) == *mustReplace))) return false;
    // A file that another program holds open cannot be replaced here. Such
    // holds are brief (another run checking the path, a virus scanner, an
    // indexer), so the move is tried again for about two seconds before
    // the refusal stands.
    constexpr DWORD patience = 2000;
    for (DWORD waited = 0, pause = 1;; waited += pause, pause = std::min<DWORD>(pause * 2, 100)) {
        DWORD error = 0;
        if (moveRecordedFile(state.temporaryPath, target, error)) {
            temporaryName.clear();
            return true;
        }
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || waited >= patience) return false;
        Sleep(pause);
    }
}

// MOVEFILE_WRITE_THROUGH has the move on disk, directory and all, when it returns.
bool clOutputFile::syncReplacement() { return state.handle != nullptr; }

void clOutputFile::discard() {
    if (state.handle && !temporaryName.empty()) removeOpenFile(static_cast<HANDLE>(state.handle));
    temporaryName.clear();
}

bool clOutputFile::close() {
    if (!state.temporaryPath.empty()) removeOnConsoleEvent(nullptr);
    temporaryName.clear();
    state.temporaryPath.clear();
    if (!state.handle) return true;
    const bool closed = CloseHandle(static_cast<HANDLE>(state.handle));
    state.handle = nullptr;
    return closed;
}

}  // namespace host
