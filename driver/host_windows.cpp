// The tool's host layer on Windows.
#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <utility>

#include "driver/host.h"

namespace host {

namespace {

// Each pass of the loop that creates the locked file either removes a
// stale entry or follows a writer that has finished; this bounds a
// pathological file system, not a busy one.
constexpr int maxCreateAttempts = 1000;

// Others may rename or remove a file while it is open here, as this run will.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens what is at path without creating it; a console asks for an
// access right before it tells what it is.
HANDLE openExistingForQuery(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), 0, shareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        handle = CreateFileA(path.c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return handle;
}

bool isSameFile(HANDLE handle, const std::string& path) {
    const HANDLE other = openExistingForQuery(path);
    if (other == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    const bool same = GetFileInformationByHandle(handle, &a) && GetFileInformationByHandle(other, &b) &&
                      a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                      a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(other);
    return same;
}

// The lock is on one byte far past any data: locks here bind every reader
// too, and other programs may read the file meanwhile. A file system
// without locks gives no turns, but still a whole file.
void lockWaiting(HANDLE handle) {
    OVERLAPPED lockedByte = {};
    lockedByte.OffsetHigh = 0x40000000;
    LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockedByte);
}

// Something is at path where a new file must go: a file that another run
// is writing is waited for; anything else (left by a killed run, a file
// with other names) is removed, never opened for writing. False when it
// stays in the way.
bool clearWay(const std::string& path) {
    const HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION info;
        const bool single = GetFileType(held) == FILE_TYPE_DISK && GetFileInformationByHandle(held, &info) &&
                            info.nNumberOfLinks == 1;
        if (single) lockWaiting(held);
        // Still there once its lock is free: its run was killed.
        const bool stale = !single || isSameFile(held, path);
        CloseHandle(held);
        if (!stale) return true;
    }
    return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

void (*beforeStep)(enStep step, const std::string& path) = nullptr;

void prepareProcess() {}

// Files are read, not mapped, here.
clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {}
clBusErrorExit::~clBusErrorExit() = default;

enPathKind pathKind(const std::string& path) {
    const HANDLE handle = openExistingForQuery(path);
    if (handle == INVALID_HANDLE_VALUE) return PATH_MISSING;
    enPathKind kind = PATH_STREAM;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) == FILE_TYPE_DISK) {
        const bool directory = GetFileInformationByHandle(handle, &info) &&
                               (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        kind = directory ? PATH_DIRECTORY : PATH_REGULAR;
    }
    CloseHandle(handle);
    return kind;
}

int ownDescriptor(const std::string&) { return -1; }

clOutputFile::~clOutputFile() { close(); }

bool clOutputFile::openExisting(const std::string& path) {
    close();
    const HANDLE opened = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    handle = opened;
    return true;
}

bool clOutputFile::openDescriptor(int) { return false; }

bool clOutputFile::createLocked(const std::string& path) {
    close();
    for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
        const HANDLE created = CreateFileA(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL,
                                           shareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || !clearWay(path)) return false;
            continue;
        }
        lockWaiting(created);
        // Another run may have taken it for stale before the lock was held.
        if (isSameFile(created, path)) {
            handle = created;
            this->path = path;
            return true;
        }
        CloseHandle(created);
    }
    return false;
}

bool clOutputFile::reserve(std::uintmax_t bytes) {
    const HANDLE file = static_cast<HANDLE>(handle);
    if (!file) return false;
    if (bytes == 0 || GetFileType(file) != FILE_TYPE_DISK) return true;
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    if (SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_FILE_TOO_LARGE) return false;
    // The file system cannot reserve: its free space has to do.
    ULARGE_INTEGER available;
    const std::string directory = path.substr(0, path.find_last_of("/\\:") + 1);
    if (!GetDiskFreeSpaceExA(directory.empty() ? nullptr : directory.c_str(), &available, nullptr, nullptr)) return true;
    return bytes <= available.QuadPart;
}

bool clOutputFile::takeAttributes(const std::string& model) {
    if (beforeStep) beforeStep(STEP_SET_ATTRIBUTES, model);
    const HANDLE file = static_cast<HANDLE>(handle);
    if (!file) return false;
    // The old file's access list, owner and group, where this user may set
    // them; a missing model leaves what the directory gave the new file.
    const SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION |
                                       GROUP_SECURITY_INFORMATION;
    PSID owner = nullptr, group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(model.c_str(), SE_FILE_OBJECT, parts, &owner, &group, &dacl, nullptr, &descriptor) ==
        ERROR_SUCCESS) {
        if (SetSecurityInfo(file, SE_FILE_OBJECT, parts, owner, group, dacl, nullptr) != ERROR_SUCCESS) {
            SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
        }
        LocalFree(descriptor);
    }
    const DWORD attributes = GetFileAttributesA(model.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        FILE_BASIC_INFO basic;
        if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
        basic.FileAttributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
        return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
    return true;
}

std::streamsize clOutputFile::xsputn(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (handle && done < n) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::streamsize>(n - done, 1 << 30));
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle), s + done, chunk, &written, nullptr) || written == 0) break;
        done += written;
    }
    return done;
}

bool clOutputFile::syncData() {
    if (beforeStep) beforeStep(STEP_SYNC_DATA, "");
    return handle && FlushFileBuffers(static_cast<HANDLE>(handle));
}

bool clOutputFile::isAt(const std::string& path) const {
    return handle && isSameFile(static_cast<HANDLE>(handle), path);
}

void clOutputFile::removeIfAt(const std::string& path) {
    if (isAt(path)) DeleteFileA(path.c_str());
}

bool clOutputFile::close() {
    path.clear();
    if (!handle) return true;
    const bool closed = CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
    return closed;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (beforeStep) beforeStep(STEP_RENAME, from);
    // A file that another program holds open cannot be replaced here. Such
    // holds are brief (another run checking the path, a virus scanner, an
    // indexer), so the move is tried again for about two seconds before
    // the refusal stands. Written through, the move is on disk when it
    // returns, directory and all.
    constexpr DWORD patience = 2000;
    for (DWORD waited = 0, pause = 1;; waited += pause, pause = std::min<DWORD>(pause * 2, 100)) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || waited >= patience) return false;
        Sleep(pause);
    }
}

}  // namespace host

#endif
