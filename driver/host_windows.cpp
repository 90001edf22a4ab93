// The tool's host layer on Windows. The host has no calls that work
// relative to a held directory, so paths are resolved by the host itself
// and names are used within the directory found; every file is opened
// once, and what is learnt about it comes from its handle.
#ifdef _WIN32

#define _CRT_RAND_S  // rand_s, drawn from the host's own random source
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "driver/host.h"

namespace host {

namespace {

namespace fs = std::filesystem;

// Others may rename or remove a file while it is open here, as this run will.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A fresh name collides only with a file made for the purpose; a few
// tries more than any chance collision needs, and a bound on one that is not.
constexpr int maxCreateAttempts = 100;

// As many links as the host itself follows before it calls a chain a loop.
constexpr int maxLinksFollowed = 40;

clFileId identityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    clFileId id;
    if (!GetFileInformationByHandle(handle, &info)) return id;
    id.device = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.known = true;
    return id;
}

// Opens what is at path without creating it, to look at it; a console asks
// for an access right before it tells what it is.
HANDLE openToLook(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        handle = CreateFileA(path.c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return handle;
}

clFileId identityAt(const std::string& path) {
    const HANDLE handle = openToLook(path);
    if (handle == INVALID_HANDLE_VALUE) return clFileId();
    const clFileId id = identityOf(handle);
    CloseHandle(handle);
    return id;
}

bool isDirectory(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The path a symbolic link at path names, through chains of links, or
// path itself when it is no link; empty for a loop. The new file goes
// beside the file a link names, so that the link stays.
std::string followLinks(const std::string& path) {
    fs::path at = path;
    for (int followed = 0; followed <= maxLinksFollowed; ++followed) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(at, error))) return at.string();
        const fs::path target = fs::read_symlink(at, error);
        if (error) return "";
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return "";
}

// The security descriptor of an open file, as bytes; empty when it
// cannot be read.
std::string securityOf(HANDLE handle) {
    const SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION |
                                       GROUP_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS) {
        return "";
    }
    const std::string bytes(static_cast<const char*>(descriptor), GetSecurityDescriptorLength(descriptor));
    LocalFree(descriptor);
    return bytes;
}

std::uint64_t randomBits() {
    unsigned int low = 0, high = 0;
    if (rand_s(&low) == 0 && rand_s(&high) == 0) return (static_cast<std::uint64_t>(high) << 32) | low;
    // Any name will do where none can be drawn: a taken one is only tried again.
    static std::uint64_t counter = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull + GetCurrentProcessId() + ++counter;
}

}  // namespace

void (*beforeStep)(enStep step, const std::string& path) = nullptr;

void prepareProcess() {}

// Files are read, not mapped, here.
clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {}
clBusErrorExit::~clBusErrorExit() = default;

clPlace::~clPlace() { reset(); }

void clPlace::reset() {
    security.clear();
    attributes = 0;
    placeKind = PLACE_UNREACHABLE;
    fileId = clFileId();
    spelled.clear();
    name.clear();
    directory.clear();
}

enPlaceKind clPlace::resolve(const std::string& path) {
    reset();
    if (path.empty()) return placeKind;
    spelled = followLinks(path);
    if (spelled.empty()) return placeKind;
    const std::size_t cut = spelled.find_last_of("/\\:");
    directory = cut == std::string::npos ? "" : spelled.substr(0, cut + 1);  // ends in its separator
    name = cut == std::string::npos ? spelled : spelled.substr(cut + 1);

    const HANDLE handle = openToLook(spelled);
    if (handle == INVALID_HANDLE_VALUE) {
        // Nothing there: a new file may go there if its directory is.
        if (GetLastError() != ERROR_FILE_NOT_FOUND || name.empty()) return placeKind;
        const HANDLE parent = openToLook(directory.empty() ? "." : directory);
        if (parent == INVALID_HANDLE_VALUE) return placeKind;
        const bool inDirectory = isDirectory(parent);
        CloseHandle(parent);
        return placeKind = inDirectory ? PLACE_MISSING : PLACE_UNREACHABLE;
    }
    // Not held open: here a file that is open cannot be replaced.
    fileId = identityOf(handle);
    placeKind = GetFileType(handle) != FILE_TYPE_DISK ? PLACE_STREAM
                : isDirectory(handle)                 ? PLACE_DIRECTORY
                                                      : PLACE_REGULAR;
    FILE_BASIC_INFO basic;
    if (placeKind == PLACE_REGULAR && GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        security = securityOf(handle);
        attributes = basic.FileAttributes;
    }
    CloseHandle(handle);
    return placeKind;
}

clInputFile::~clInputFile() { close(); }

void clInputFile::close() {
    if (fd >= 0) _close(fd);
    fd = -1;
}

bool clInputFile::open(const std::string& path) {
    // Opened for reading, it must still be the regular file found. Others
    // may replace it meanwhile, as this run will.
    if (place.resolve(path) != PLACE_REGULAR) return false;
    const HANDLE handle = CreateFileA(place.spelled.c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING, 0, nullptr);
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

clOutputFile::~clOutputFile() { close(); }

bool clOutputFile::openThrough(const clPlace& place) {
    close();
    if (place.kind() != PLACE_STREAM) return false;
    const HANDLE opened = CreateFileA(place.spelled.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    handle = opened;
    return true;
}

bool clOutputFile::createBeside(const clPlace& place) {
    close();
    for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
        const std::string candidate = temporaryNameFor(place.name, randomBits());
        const std::string path = place.directory + candidate;
        const HANDLE created = CreateFileA(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL,
                                           shareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            handle = created;
            directory = place.directory;
            temporaryName = candidate;
            temporaryPath = path;
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
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
    if (!GetDiskFreeSpaceExA(directory.empty() ? nullptr : directory.c_str(), &available, nullptr, nullptr)) return true;
    return bytes <= available.QuadPart;
}

bool clOutputFile::takeAttributes(const clPlace& place) {
    if (beforeStep) beforeStep(STEP_SET_ATTRIBUTES, temporaryPath);
    const HANDLE file = static_cast<HANDLE>(handle);
    if (!file) return false;
    if (place.kind() != PLACE_REGULAR) return true;  // a new file keeps what the directory gave it
    // The old file's access list, owner and group, where this user may set them.
    if (!place.security.empty()) {
        const auto descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<char*>(place.security.data()));
        PSID owner = nullptr, group = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
        GetSecurityDescriptorGroup(descriptor, &group, &defaulted);
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
        const SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION |
                                           GROUP_SECURITY_INFORMATION;
        if (SetSecurityInfo(file, SE_FILE_OBJECT, parts, owner, group, dacl, nullptr) != ERROR_SUCCESS) {
            SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
        }
    }
    const DWORD kept = place.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    basic.FileAttributes = kept ? kept : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
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
    if (beforeStep) beforeStep(STEP_SYNC_DATA, temporaryPath);
    return handle && FlushFileBuffers(static_cast<HANDLE>(handle));
}

bool clOutputFile::isOwnName() const {
    return handle && !temporaryName.empty() && identityAt(temporaryPath) == identityOf(static_cast<HANDLE>(handle));
}

bool clOutputFile::replace(const clPlace& place, const clFileId* mustReplace) {
    if (beforeStep) beforeStep(STEP_RENAME, temporaryPath);
    const std::string target = place.directory + place.name;
    if (!isOwnName() || (mustReplace && !(identityAt(target) == *mustReplace))) return false;
    // A file that another program holds open cannot be replaced here. Such
    // holds are brief (another run checking the path, a virus scanner, an
    // indexer), so the move is tried again for about two seconds before
    // the refusal stands. Written through, the move is on disk when it
    // returns, directory and all.
    constexpr DWORD patience = 2000;
    for (DWORD waited = 0, pause = 1;; waited += pause, pause = std::min<DWORD>(pause * 2, 100)) {
        if (MoveFileExA(temporaryPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            temporaryName.clear();
            return true;
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || waited >= patience) return false;
        Sleep(pause);
    }
}

void clOutputFile::discard() {
    if (isOwnName()) DeleteFileA(temporaryPath.c_str());
    temporaryName.clear();
}

bool clOutputFile::close() {
    temporaryName.clear();
    temporaryPath.clear();
    directory.clear();
    if (!handle) return true;
    const bool closed = CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
    return closed;
}

}  // namespace host

#endif
