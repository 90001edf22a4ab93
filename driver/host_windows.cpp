// The tool's host layer on Windows. The host has no calls that work
// relative to a held directory, so a path is resolved by the host itself,
// once, to the long absolute form that lifts its length limit, and what it
// found is then named by the path the host gives for the open file. Names
// are UTF-8 outside this file and UTF-16 in every call to the host.
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
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <utility>

#include "driver/host.h"

namespace host {

namespace {

// Others may rename or remove a file while it is open here, as this run will.
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A fresh name collides only with a file made for the purpose; a few
// tries more than any chance collision needs, and a bound on one that is not.
constexpr int maxCreateAttempts = 100;

std::wstring widened(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string narrowed(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr, nullptr);
    return text;
}

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

clFileId identityOf(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    clFileId id;
    if (!GetFileInformationByHandle(handle, &info)) return id;
    id.device = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.known = true;
    return id;
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

clFileId identityAt(const std::wstring& path) {
    const HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return clFileId();
    const clFileId id = identityOf(handle);
    CloseHandle(handle);
    return id;
}

bool isDirectory(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The token of this process, for what this user is and gets.
class clToken {
public:
    clToken() { OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token); }
    ~clToken() {
        if (token) CloseHandle(token);
    }
    clToken(const clToken&) = delete;
    clToken& operator=(const clToken&) = delete;
    HANDLE get() const { return token; }

private:
    HANDLE token = nullptr;
};

const SECURITY_INFORMATION securityParts = DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION |
                                           GROUP_SECURITY_INFORMATION;

// A security descriptor as bytes, self-relative; empty when there is none.
std::string bytesOf(PSECURITY_DESCRIPTOR descriptor) {
    return descriptor ? std::string(static_cast<const char*>(descriptor), GetSecurityDescriptorLength(descriptor))
                      : std::string();
}

// The security descriptor of an open file; empty when it cannot be read.
std::string securityOf(HANDLE handle) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, securityParts, nullptr, nullptr, nullptr, nullptr, &descriptor) !=
        ERROR_SUCCESS) {
        return "";
    }
    const std::string bytes = bytesOf(descriptor);
    LocalFree(descriptor);
    return bytes;
}

// The security descriptor the host gives a file newly created in the open
// directory: what the directory passes on to files, or this user's default.
std::string newFileSecurityIn(HANDLE directory) {
    const std::string parent = securityOf(directory);
    if (parent.empty()) return "";
    clToken token;
    GENERIC_MAPPING fileRights = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    PSECURITY_DESCRIPTOR created = nullptr;
    if (!CreatePrivateObjectSecurity(const_cast<char*>(parent.data()), nullptr, &created, FALSE, token.get(),
                                     &fileRights)) {
        return "";
    }
    const std::string bytes = bytesOf(created);
    DestroyPrivateObjectSecurity(&created);
    return bytes;
}

// Access for the user running the tool alone, protected from what the
// directory passes on: the temporary file's, from its creation.
class clPrivateSecurity {
public:
    clPrivateSecurity() {
        clToken token;
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        user.resize(size);
        if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return;
        const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        list.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        const PACL acl = reinterpret_cast<PACL>(list.data());
        made = InitializeAcl(acl, static_cast<DWORD>(list.size()), ACL_REVISION) &&
               AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
               InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
               SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes = {sizeof attributes, &descriptor, FALSE};
    }
    SECURITY_ATTRIBUTES* get() { return made ? &attributes : nullptr; }

private:
    std::vector<BYTE> user, list;
    SECURITY_DESCRIPTOR descriptor = {};
    SECURITY_ATTRIBUTES attributes = {};
    bool made = false;
};

std::uint64_t randomBits() {
    unsigned int low = 0, high = 0;
    if (rand_s(&low) == 0 && rand_s(&high) == 0) return (static_cast<std::uint64_t>(high) << 32) | low;
    // Any name will do where none can be drawn: a taken one is only tried again.
    static std::uint64_t counter = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<std::uint64_t>(now.QuadPart) * 0x9E3779B97F4A7C15ull + GetCurrentProcessId() + ++counter;
}

// The start of name, at most size bytes, never cut within a character.
std::string startOf(const std::string& name, std::size_t size) {
    if (name.size() <= size) return name;
    while (size > 0 && (static_cast<unsigned char>(name[size]) & 0xC0) == 0x80) --size;
    return name.substr(0, size);
}

// Removes the file open at handle, whatever its name now and even when it
// is read-only. Safe from the console's event thread.
void removeOpenFile(HANDLE handle) {
    FILE_DISPOSITION_INFO removal = {TRUE};
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &removal, sizeof removal)) return;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return;
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic)) {
        SetFileInformationByHandle(handle, FileDispositionInfo, &removal, sizeof removal);
    }
}

// The temporary file of this run while it exists, for the console's
// events. They come on a thread of their own; the lock keeps the move in
// place and the removal apart, and an event holds it until the process ends.
SRWLOCK temporaryLock = SRWLOCK_INIT;
HANDLE temporaryFile = nullptr;

void setTemporaryFile(HANDLE handle) {
    AcquireSRWLockExclusive(&temporaryLock);
    temporaryFile = handle;
    ReleaseSRWLockExclusive(&temporaryLock);
}

// Ctrl-C, Ctrl-Break and closing the console end the run as they would
// have, but without leaving the temporary file behind.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    AcquireSRWLockExclusive(&temporaryLock);
    if (temporaryFile) removeOpenFile(temporaryFile);
    return FALSE;  // the host's own handler ends the process
}

}  // namespace

void (*beforeStep)(enStep step, tyStepFile file) = nullptr;
std::uint64_t (*drawRandom)() = randomBits;

std::vector<std::string> arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> all;
    for (int i = 1; wide && i < count; ++i) all.push_back(narrowed(wide[i]));
    LocalFree(wide);
    return all;
}

void writeLine(const std::string& line) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode)) {
        // A console shows characters, whatever its code page.
        std::cout.flush();
        const std::wstring text = widened(line) + L"\r\n";
        DWORD written = 0;
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::cout << line << std::endl;
}

void prepareProcess() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

// Files are read, not mapped, here.
clBusErrorExit::clBusErrorExit(std::string text) : message(std::move(text)) {}
clBusErrorExit::~clBusErrorExit() = default;

clPlace::~clPlace() { reset(); }

void clPlace::reset() {
    if (held) CloseHandle(static_cast<HANDLE>(held));
    held = nullptr;
    security.clear();
    attributes = 0;
    created = 0;
    placeKind = PLACE_UNREACHABLE;
    fileId = clFileId();
    spelled.clear();
    name.clear();
    directory.clear();
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
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return placeKind;
        const HANDLE link = CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (link != INVALID_HANDLE_VALUE) {
            CloseHandle(link);
            return placeKind;
        }
        const std::size_t cut = full.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut + 1 == full.size()) return placeKind;
        std::wstring parentPath = full.substr(0, cut);
        if (parentPath.back() == L':') parentPath += L'\\';  // a drive's root
        const HANDLE parent = openToLook(parentPath);
        if (parent == INVALID_HANDLE_VALUE) return placeKind;
        const std::wstring found = finalPathOf(parent);
        const std::wstring& parentWhole = found.empty() ? parentPath : found;
        if (isDirectory(parent)) {
            directory = parentWhole.back() == L'\\' ? parentWhole : parentWhole + L'\\';
            name = narrowed(full.substr(cut + 1));
            security = newFileSecurityIn(parent);
            placeKind = PLACE_MISSING;
        }
        CloseHandle(parent);
        spelled = narrowed(directory) + name;
        return placeKind;
    }
    fileId = identityOf(handle);
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        placeKind = PLACE_STREAM;
        if (writable) held = handle;
        else CloseHandle(handle);
        return placeKind;
    }
    // Not held open: here a file that is open cannot be replaced.
    placeKind = isDirectory(handle) ? PLACE_DIRECTORY : PLACE_REGULAR;
    const std::wstring found = finalPathOf(handle);
    const std::wstring& whole = found.empty() ? full : found;
    const std::size_t cut = whole.find_last_of(L'\\');
    directory = whole.substr(0, cut + 1);
    name = narrowed(whole.substr(cut + 1));
    spelled = narrowed(whole);
    FILE_BASIC_INFO basic;
    if (placeKind == PLACE_REGULAR && GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        security = securityOf(handle);
        attributes = basic.FileAttributes;
        created = basic.CreationTime.QuadPart;
    }
    CloseHandle(handle);
    return placeKind;
}

clInputFile::~clInputFile() { close(); }

tyStepFile clInputFile::stepFile() const {
    return fd >= 0 ? reinterpret_cast<void*>(_get_osfhandle(fd)) : nullptr;
}

void clInputFile::close() {
    if (fd >= 0) _close(fd);
    fd = -1;
}

bool clInputFile::open(const std::string& path) {
    // Opened for reading, it must still be the regular file found. Others
    // may replace it meanwhile, as this run will.
    if (place.resolve(path) != PLACE_REGULAR) return false;
    const std::wstring found = place.directory + widened(place.name);
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

clOutputFile::~clOutputFile() { close(); }

bool clOutputFile::openThrough(const clPlace& place) {
    close();
    if (place.kind() != PLACE_STREAM || !place.held) return false;
    HANDLE opened = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(place.held), GetCurrentProcess(), &opened, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        return false;
    }
    handle = opened;
    return true;
}

bool clOutputFile::createBeside(const clPlace& place) {
    close();
    // The host's own copy and move refuse to replace a read-only file; so
    // does the tool, before it writes a byte.
    if (place.kind() == PLACE_REGULAR && (place.attributes & FILE_ATTRIBUTE_READONLY)) return false;
    if (place.directory.empty()) return false;
    // A name is at most 255 UTF-16 units; its UTF-8 bytes are never fewer.
    constexpr std::size_t tailSize = 15;
    const std::string start = startOf(place.name, 255 - tailSize);
    clPrivateSecurity privately;
    for (int attempt = 0; attempt < maxCreateAttempts; ++attempt) {
        const std::string candidate = temporaryNameFor(start, drawRandom());
        const std::wstring path = place.directory + widened(candidate);
        const HANDLE created =
            CreateFileW(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER | READ_CONTROL | DELETE, shareAll,
                        privately.get(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            handle = created;
            temporaryName = candidate;
            temporaryPath = path;
            setTemporaryFile(created);
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
    const std::wstring folder = temporaryPath.substr(0, temporaryPath.find_last_of(L'\\') + 1);
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return true;
    return bytes <= available.QuadPart;
}

bool clOutputFile::takeAttributes(const clPlace& place) {
    if (beforeStep) beforeStep(STEP_SET_ATTRIBUTES, handle);
    const HANDLE file = static_cast<HANDLE>(handle);
    if (!file) return false;
    // The old file's security, or a new file's as the directory gives it.
    // Each part this user may set must be set, or the file could open to
    // more than the old one did; only a privileged user may give a file
    // to another owner.
    DWORD volumeFlags = 0;
    const bool keepsSecurity = GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &volumeFlags, nullptr, 0) &&
                               (volumeFlags & FILE_PERSISTENT_ACLS);
    if (keepsSecurity && !place.security.empty()) {
        const auto descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(const_cast<char*>(place.security.data()));
        PSID owner = nullptr, group = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
        GetSecurityDescriptorGroup(descriptor, &group, &defaulted);
        GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
        GetSecurityDescriptorControl(descriptor, &control, &revision);
        const SECURITY_INFORMATION access =
            DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
        DWORD result = SetSecurityInfo(file, SE_FILE_OBJECT, access | OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                                       owner, group, dacl, nullptr);
        if (result == ERROR_INVALID_OWNER) {
            result = SetSecurityInfo(file, SE_FILE_OBJECT, access | GROUP_SECURITY_INFORMATION, nullptr, group, dacl,
                                     nullptr);
        }
        if (result != ERROR_SUCCESS) return false;
    }
    // Its attributes but read-only, which stops the move, and its creation
    // time; marked for backup, as its content changed.
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    basic.FileAttributes =
        (place.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)) |
        FILE_ATTRIBUTE_ARCHIVE;
    if (place.kind() == PLACE_REGULAR) basic.CreationTime.QuadPart = place.created;
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
    if (beforeStep) beforeStep(STEP_SYNC_DATA, handle);
    return handle && FlushFileBuffers(static_cast<HANDLE>(handle));
}

bool clOutputFile::isOwnName() const {
    return handle && !temporaryName.empty() && identityAt(temporaryPath) == identityOf(static_cast<HANDLE>(handle));
}

bool clOutputFile::replace(const clPlace& place, const clFileId* mustReplace) {
    if (beforeStep) beforeStep(STEP_RENAME, handle);
    // The name as its directory spells it, which the file keeps.
    const std::wstring target = place.directory + widened(place.name);
    if (!isOwnName() || (mustReplace && !(identityAt(target) == *mustReplace))) return false;
    // A file that another program holds open cannot be replaced here. Such
    // holds are brief (another run checking the path, a virus scanner, an
    // indexer), so the move is tried again for about two seconds before
    // the refusal stands. Written through, the move is on disk when it
    // returns, directory and all.
    constexpr DWORD patience = 2000;
    for (DWORD waited = 0, pause = 1;; waited += pause, pause = std::min<DWORD>(pause * 2, 100)) {
        AcquireSRWLockExclusive(&temporaryLock);
        const bool moved =
            MoveFileExW(temporaryPath.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        const DWORD error = GetLastError();
        if (moved) temporaryFile = nullptr;
        ReleaseSRWLockExclusive(&temporaryLock);
        if (moved) {
            temporaryName.clear();
            return true;
        }
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || waited >= patience) return false;
        Sleep(pause);
    }
}

// MOVEFILE_WRITE_THROUGH has the move on disk, directory and all, when it returns.
bool clOutputFile::syncReplacement() { return handle != nullptr; }

void clOutputFile::discard() {
    if (handle && !temporaryName.empty()) removeOpenFile(static_cast<HANDLE>(handle));
    temporaryName.clear();
}

bool clOutputFile::close() {
    if (!temporaryPath.empty()) setTemporaryFile(nullptr);
    temporaryName.clear();
    temporaryPath.clear();
    if (!handle) return true;
    const bool closed = CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
    return closed;
}

}  // namespace host

#endif
