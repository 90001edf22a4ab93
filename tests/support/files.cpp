#include "support/files.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace qor_test {

std::string readFile(const std::string& path) {
#ifdef _WIN32
    const HANDLE file = CreateFileW(fs::u8path(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    0, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot read " + path);
    std::string bytes;
    char block[65536];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
    CloseHandle(file);
    return bytes;
#else
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
#endif
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

#ifndef _WIN32
void writeFileOf(uid_t owner, mode_t mode, const std::string& path, const std::string& bytes) {
    writeFile(path, bytes);
    if (chown(path.c_str(), owner, owner) != 0 || chmod(path.c_str(), mode) != 0) {
        throw std::runtime_error("cannot give away " + path);
    }
}

void makeDirectoryOf(uid_t owner, mode_t mode, const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 || chown(path.c_str(), owner, owner) != 0 || chmod(path.c_str(), mode) != 0) {
        throw std::runtime_error("cannot make " + path);
    }
}

Ownership ownershipOf(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return {};
    return {info.st_uid, info.st_gid, info.st_mode & 07777};
}

std::string accessList(std::uint32_t user, unsigned userPermissions, unsigned groupPermissions,
                       unsigned maskPermissions) {
    // A version, then (tag, permissions, id) entries.
    struct Entry {
        std::uint16_t tag, permissions;
        std::uint32_t id;
    };
    const std::uint32_t none = 0xFFFFFFFF, version = 2;
    const Entry entries[] = {{0x01, 6, none},
                             {0x02, static_cast<std::uint16_t>(userPermissions), user},
                             {0x04, static_cast<std::uint16_t>(groupPermissions), none},
                             {0x10, static_cast<std::uint16_t>(maskPermissions), none},
                             {0x20, 0, none}};
    std::string bytes(reinterpret_cast<const char*>(&version), 4);
    return bytes.append(reinterpret_cast<const char*>(entries), sizeof entries);
}

std::string accessListOf(const std::string& path) {
    std::string kept(256, '\0');
    const ssize_t size = getxattr(path.c_str(), "system.posix_acl_access", &kept[0], kept.size());
    return kept.substr(0, size > 0 ? static_cast<std::size_t>(size) : 0);
}
#endif

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(fs::u8path(path), error));
}

bool isTemporaryNameFor(const std::string& file, const std::string& name) {
    if (file.size() != name.size() + 15 || file.compare(0, name.size(), name) != 0) return false;
    const std::string tail = file.substr(name.size());
    bool letters = tail[0] == '.' && tail.compare(11, 4, ".tmp") == 0;
    for (std::size_t i = 1; i < 11; ++i) letters = letters && std::isalnum(static_cast<unsigned char>(tail[i]));
    return letters;
}

std::vector<std::string> temporaryFilesBeside(const std::string& path) {
    const fs::path of = fs::u8path(path);
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(of.parent_path(), error)) {
        if (isTemporaryNameFor(entry.path().filename().u8string(), of.filename().u8string())) {
            found.push_back(entry.path().u8string());
        }
    }
    return found;
}

}  // namespace qor_test
