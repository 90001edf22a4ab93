// Resolving a path on Windows: the host has no calls that work relative
// to a held directory, so a path is resolved by the host itself, once, to
// the long absolute form that lifts its length limit, and what it found is
// then named by the path the host gives for the open file.
#include "driver/host.h"
#include "driver/windows/open_files.h"
#include "driver/windows/security.h"

namespace host {

namespace {

bool startsWith(const std::wstring& text, const wchar_t* start) { return text.rfind(start, 0) == 0; }

// The path as the host's calls take it past 260 characters: made absolute
// as the host does (relative, drive-relative, either separator), then in
// the \\?\ form, which the host uses as it stands. A path already in that
// form or naming a device (\\.\) is left as it is.
std::wstring hostPath(const std::string& path) {
    const std::wstring given = widened(path);
    if (given.empty() || startsWith(given, L"\\\\?\\") || startsWith(given, L"\\\\.\\")) return given;
    const DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::wstring();
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(given.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return std::wstring();
    full.resize(length);
    if (startsWith(full, L"\\\\.\\")) return full;  // a device's reserved name: CON, NUL, COM1 and the like
    if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The path of an open file as the host found it: every link followed, and
// each name spelt as its directory holds it. Empty when the host cannot
// tell (Wine cannot past 260 characters): the path opened then stands.
std::wstring finalPathOf(HANDLE handle) {
    const DWORD size = GetFinalPathNameByHandleW(handle, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (size == 0) return std::wstring();
    std::wstring path(size, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, &path[0], size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= size) return std::wstring();
    path.resize(length);
    return path;
}

// Opens what is at path without creating it, following links. It is
// first opened for writing too: a pipe, a device or a console is found
// only by opening it, and a pipe's server may take a single connection,
// so the handle that found one must be the one that writes to it. What
// may not be written is opened only to be looked at.
HANDLE openToLook(const std::wstring& path, bool* writable = nullptr) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | READ_CONTROL | FILE_READ_ATTRIBUTES, shareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (writable) *writable = handle != INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return handle;
        handle = CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    }
    return handle;
}

bool isDirectory(HANDLE handle) {
    FILE_BASIC_INFO basic;
    return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
           (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether anything stands at path itself, a link there not followed.
bool isAnythingAt(const std::wstring& path) {
    const HANDLE link = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (link == INVALID_HANDLE_VALUE) return false;
    CloseHandle(link);
    return true;
}

// Nothing stands at full: whether the directory that would hold it is
// there. If so, notes that directory, the last name, and the security a
// new file gets there.
bool findHolderOfMissing(const std::wstring& full, clPlaceState& state, std::string& name) {
    const std::size_t cut = full.find_last_of(L'\\');
    if (cut == std::wstring::npos || cut + 1 == full.size()) return false;
    std::wstring parentPath = full.substr(0, cut);
    if (parentPath.back() == L':') parentPath += L'\\';  // a drive's root
    const HANDLE parent = openToLook(parentPath);
    if (parent == INVALID_HANDLE_VALUE) return false;
    const bool found = isDirectory(parent);
    if (found) {
        const std::wstring final = finalPathOf(parent);
        const std::wstring& whole = final.empty() ? parentPath : final;
        state.directory = whole.back() == L'\\' ? whole : whole + L'\\';
        name = narrowed(full.substr(cut + 1));
        state.security = newFileSecurityIn(parent);
    }
    CloseHandle(parent);
    return found;
}

// Notes where the host found the file open at handle, opened as full: its
// directory and its name, and for a regular file what a new file takes
// from it.
void noteFound(HANDLE handle, const std::wstring& full, bool regular, clPlaceState& state, std::string& name) {
    const std::wstring found = finalPathOf(handle);
    const std::wstring& whole = found.empty() ? full : found;
    const std::size_t cut = whole.find_last_of(L'\\');
    state.directory = whole.substr(0, cut + 1);
    name = narrowed(whole.substr(cut + 1));
    FILE_BASIC_INFO basic;
    if (regular && GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        state.security = securityOf(handle);
        state.attributes = basic.FileAttributes;
        state.created = basic.CreationTime.QuadPart;
    }
}

}  // namespace

clPlace::~clPlace() { reset(); }

void clPlace::reset() {
    if (state.held) CloseHandle(static_cast<HANDLE>(state.held));
    state = clPlaceState();
    placeKind = PLACE_UNREACHABLE;
    fileId = clFileId();
    name.clear();
}

enPlaceKind clPlace::resolve(const std::string& path) {
    reset();
    const std::wstring full = hostPath(path);
    if (full.empty()) return placeKind;
    bool writable = false;
    const HANDLE handle = openToLook(full, &writable);
    if (handle == INVALID_HANDLE_VALUE) {
        // Nothing there: a new file may go there if its directory is. A
        // link to nothing is not replaced by a file.
        if (GetLastError() != ERROR_FILE_NOT_FOUND || isAnythingAt(full)) return placeKind;
        return placeKind = findHolderOfMissing(full, state, name) ? PLACE_MISSING : PLACE_UNREACHABLE;
    }
    fileId = identityOf(handle);
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        if (writable) state.held = handle;
        else CloseHandle(handle);
        return placeKind = PLACE_STREAM;
    }
    // Not held open: here a file that is open cannot be replaced.
    placeKind = isDirectory(handle) ? PLACE_DIRECTORY : PLACE_REGULAR;
    noteFound(handle, full, placeKind == PLACE_REGULAR, state, name);
    CloseHandle(handle);
    return placeKind;
}

}  // namespace host
