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

namespace fs = std::filesystem;
using qor::utility::clXML;
using qor::utility::clXMLNode;
using host::textLineEnd;

namespace {

// The fixed first line of every file the tool writes.
const char* const declarationLine = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// Passes the writer's text on to a target buffer as the output file holds
// it: everything up to and including the first '>' dropped when asked to,
// and each newline written as the host's text mode writes it. A short
// write downstream is a failed write here, so the stream above sees it.
class clReplacementBody : public std::streambuf {
public:
    clReplacementBody(std::streambuf& target, bool skip) : target(target), skipping(skip) {}

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::streamsize taken = 0;
        if (skipping) {
            const void* tagEnd = std::memchr(s, '>', static_cast<std::size_t>(n));
            if (!tagEnd) return n;
            skipping = false;
            taken = static_cast<const char*>(tagEnd) - s + 1;
        }
        return pass(s + taken, n - taken) ? n : 0;
    }

    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

    int sync() override { return target.pubsync(); }

private:
    bool put(const char* s, std::streamsize n) { return target.sputn(s, n) == n; }

    // A block goes on in one write, its line ends translated when they must be.
    bool pass(const char* s, std::streamsize n) {
        if (std::strlen(textLineEnd) == 1) return put(s, n);
        translated.clear();
        const char* const end = s + n;
        for (const char* newline; (newline = static_cast<const char*>(std::memchr(s, '\n', end - s)));
             s = newline + 1) {
            translated.append(s, newline).append(textLineEnd);
        }
        translated.append(s, end);
        return put(translated.data(), static_cast<std::streamsize>(translated.size()));
    }

    std::streambuf& target;
    bool skipping;
    std::string translated;  // a block with the host's line ends
};

bool containsTagEnd(const std::string& s) { return s.find('>') != std::string::npos; }

// How the writer renders a declaration: every name, and each value that is
// not empty.
bool declarationContainsTagEnd(const clXMLNode& node) {
    if (containsTagEnd(node.getTag())) return true;
    for (const clXMLNode::tyAttribute& entry : node.getAttribute()) {
        if (containsTagEnd(entry.first) || containsTagEnd(entry.second)) return true;
    }
    return false;
}

// Writes the declaration line, an LF and the document's text into file.
bool writeReplacement(const clXML& document, std::streambuf& file) {
    const std::string head = std::string(declarationLine) + '\n';
    if (file.sputn(head.data(), static_cast<std::streamsize>(head.size())) !=
        static_cast<std::streamsize>(head.size())) {
        return false;
    }
    // The writer hands its text over in blocks of about 64 KiB; each
    // reaches the file in one write.
    clReplacementBody body(file, exportOpensWithDeclaration(document));
    std::ostream out(&body);
    document.exportStream(&out);
    return static_cast<bool>(out);
}

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

bool exportOpensWithDeclaration(const clXML& document) {
    // The writer's lines come in pre-order; the root writes none.
    for (auto* n = document.root.getFirstChild(); n; n = n->getNextInPreorder(&document.root)) {
        const clXMLNode& node = *static_cast<const clXMLNode*>(n);
        switch (node.getType()) {
        case clXMLNode::TYPE_NONE:
            break;
        case clXMLNode::TYPE_ELEMENT:
            if (containsTagEnd(node.getElement())) return false;
            break;
        case clXMLNode::TYPE_DECLARATION:
            return !declarationContainsTagEnd(node);
        default:
            return false;
        }
    }
    return false;
}

bool replaceOutputFile(const clXML& document, const std::string& outputPath) {
    host::clOutputFile file;
    std::string temporary;
    try {
        // The most the file can take: the writer's text with the host's
        // line ends, and the declaration line before any text is cut away.
        const bool hostAddsCarriageReturns = std::strlen(textLineEnd) == 2;
        const auto text = document.exportSize(hostAddsCarriageReturns);
        const std::uintmax_t carriageReturns = hostAddsCarriageReturns ? text.newlines : 0;
        const std::uintmax_t size = text.bytes + carriageReturns + std::strlen(declarationLine) + 1;

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
