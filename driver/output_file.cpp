#include "driver/output_file.h"

#include <cstring>
#include <filesystem>
#include <ostream>
#include <streambuf>
#include <system_error>

#include "common/platform.h"

namespace fs = std::filesystem;
using qor::utility::clXML;
using qor::utility::clXMLNode;
using qor::platform::textLineEnd;

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

// A new file takes over an existing output's permissions, and its owner
// where the host allows.
bool keepAttributes(const std::string& output, const std::string& replacement) {
    std::error_code error;
    const fs::file_status status = fs::status(output, error);
    if (!fs::exists(status)) return true;
    qor::platform::copyOwner(output, replacement);
    fs::permissions(replacement, status.permissions(), fs::perm_options::replace, error);
    return !error;
}

void removeFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

// As many links as the host itself follows before it calls a chain a loop.
constexpr int maxLinksFollowed = 40;

}  // namespace

std::string followLinks(const std::string& path) {
    fs::path at = path;
    for (int followed = 0; followed <= maxLinksFollowed; ++followed) {
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
    return qor::platform::pathKind(outputPath) == qor::platform::PATH_STREAM;
}

std::string temporaryPath(const std::string& outputPath) {
    if (writesThrough(outputPath)) return "";
    const std::string target = followLinks(outputPath);
    return target.empty() ? "" : target + ".tmp";
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
    qor::platform::clOutputFile file;
    if (writesThrough(outputPath)) {
        // A device or a pipe cannot be replaced: it takes the bytes as they come.
        return file.openExisting(outputPath) && writeReplacement(document, file) && file.close();
    }
    const std::string target = followLinks(outputPath);
    if (target.empty() || qor::platform::pathKind(target) == qor::platform::PATH_DIRECTORY) return false;
    const std::string temporary = target + ".tmp";
    // Held until the rename, so that runs writing one output take turns.
    if (!file.openLocked(temporary)) return false;
    // The data reaches storage before the rename does, so a crash leaves
    // the old file or the new one, never an empty one.
    bool replaced = writeReplacement(document, file) && keepAttributes(target, temporary) && file.syncData();
    replaced = replaced && qor::platform::replaceFile(temporary, target);
    if (!replaced) removeFile(temporary);
    file.close();  // the new file is in place and synced; closing it releases the lock
    return replaced;
}
