#include "driver/output_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <ostream>
#include <streambuf>
#include <system_error>

#include "driver/host.h"
#include "driver/output_text.h"

namespace fs = std::filesystem;
using qor::utility::clXML;

namespace {

// As many links as the host itself follows before it calls a chain a loop.
constexpr int maxLinksFollowed = 40;

// The longest name a directory entry may have, in bytes, on the file
// systems the tool meets (ext4, XFS, tmpfs; NTFS counts 255 characters).
constexpr std::size_t maxNameSize = 255;

#ifdef _WIN32
const char* const nameSeparators = "/\\:";
#else
const char* const nameSeparators = "/";
#endif

}  // namespace

std::string followLinks(const std::string& path) {
    fs::path at = path;
    for (int followed = 0; followed <= maxLinksFollowed; ++followed) {
        // A name of this process's own descriptor is written into, not followed.
        if (host::ownDescriptor(at.string()) >= 0) return at.string();
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(at, error))) return at.string();
        const fs::path target = fs::read_symlink(at, error);
        if (error) return "";
        // A relative link is read from the directory that holds it.
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return "";
}

bool writesThrough(const std::string& outputPath) {
    return host::ownDescriptor(followLinks(outputPath)) >= 0 || host::pathKind(outputPath) == host::PATH_STREAM;
}

std::string temporaryPathFor(const std::string& target) {
    const std::size_t nameBegin = target.find_last_of(nameSeparators) + 1;  // 0 when there is none
    const std::size_t nameSize = target.size() - nameBegin;
    if (nameSize + 4 <= maxNameSize) return target + ".tmp";
    // Too long for the suffix: a shorter name, still the same for every run
    // writing this output, so that they take turns.
    std::uint32_t hash = 2166136261u;  // FNV-1a over the whole name
    for (std::size_t i = nameBegin; i < target.size(); ++i) {
        hash = (hash ^ static_cast<unsigned char>(target[i])) * 16777619u;
    }
    char tail[16];
    std::snprintf(tail, sizeof tail, "~%08x.tmp", static_cast<unsigned>(hash));
    return target.substr(0, nameBegin + maxNameSize - std::strlen(tail)) + tail;
}

std::string temporaryPath(const std::string& outputPath) {
    if (writesThrough(outputPath)) return "";
    const std::string target = followLinks(outputPath);
    return target.empty() ? "" : temporaryPathFor(target);
}

bool namesSameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return !a.empty() && (a == b || fs::equivalent(a, b, error));
}

bool replaceOutputFile(const clXML& document, const std::string& outputPath) {
    host::clOutputFile file;
    std::string temporary;
    try {
        const std::uintmax_t size = replacementSize(document);

        const std::string target = followLinks(outputPath);
        if (writesThrough(outputPath)) {
            // A descriptor, a device or a pipe cannot be replaced: it takes
            // the bytes as they come.
            const int descriptor = host::ownDescriptor(target);
            const bool opened = descriptor >= 0 ? file.openDescriptor(descriptor) : file.openExisting(outputPath);
            return opened && file.reserve(size) && writeReplacement(document, file) && file.close();
        }
        if (target.empty() || host::pathKind(target) == host::PATH_DIRECTORY) return false;
        temporary = temporaryPathFor(target);
        // Held until the rename, so that runs writing one output take turns.
        if (!file.createLocked(temporary)) return false;
        // Private until written; then the old file's attributes, and all of
        // it on storage before the rename, so that a crash leaves the old
        // file or the new one, never an empty one. Whatever someone else
        // put at the temporary path meanwhile is never renamed over the
        // output, nor removed.
        const bool replaced = file.reserve(size) && writeReplacement(document, file) &&
                              file.takeAttributes(target) && file.syncData() && file.isAt(temporary) &&
                              host::replaceFile(temporary, target);
        if (!replaced) file.removeIfAt(temporary);
        file.close();  // the new file is in place and synced; closing it releases the lock
        return replaced;
    } catch (const std::bad_alloc&) {
        // Memory ran out while writing: a failed write like any other.
        if (!temporary.empty()) file.removeIfAt(temporary);
        return false;
    }
}
