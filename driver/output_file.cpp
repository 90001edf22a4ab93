#include "driver/output_file.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <streambuf>
#include <system_error>

#include "common/platform.h"

namespace fs = std::filesystem;
using qor::utility::clXML;
using qor::utility::clXMLNode;

namespace {

// The fixed first line of every file the tool writes.
const char* const declarationLine = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

// Passes output on to a target buffer, dropping everything up to and
// including the first '>' when asked to. A short write downstream is a
// failed write here, so the stream above sees it.
class clSkipToFirstTagEnd : public std::streambuf {
public:
    clSkipToFirstTagEnd(std::streambuf& target, bool skip) : target(target), skipping(skip) {}

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::streamsize taken = 0;
        if (skipping) {
            const void* tagEnd = std::memchr(s, '>', static_cast<std::size_t>(n));
            if (!tagEnd) return n;
            skipping = false;
            taken = static_cast<const char*>(tagEnd) - s + 1;
        }
        const std::streamsize rest = n - taken;
        return target.sputn(s + taken, rest) == rest ? n : 0;
    }

    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

    int sync() override { return target.pubsync(); }

private:
    std::streambuf& target;
    bool skipping;
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

bool writeReplacement(const clXML& document, const std::string& path) {
    {
        std::ofstream head(path, std::ios::out | std::ios::trunc | std::ios::binary);
        head << declarationLine << '\n';
        head.close();
        if (head.fail()) return false;
    }
    // The document's text follows in the host's text mode, as its own
    // export would be.
    std::filebuf file;
    if (!file.open(path, std::ios::out | std::ios::app)) return false;
    clSkipToFirstTagEnd body(file, exportOpensWithDeclaration(document));
    std::ostream out(&body);
    document.exportStream(&out);
    const bool written = static_cast<bool>(out);
    return file.close() != nullptr && written;
}

void removeFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

}  // namespace

std::string temporaryPath(const std::string& outputPath) { return outputPath + ".tmp"; }

bool namesSameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return a == b || fs::equivalent(a, b, error);
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
    const std::string temporary = temporaryPath(outputPath);
    std::error_code error;
    const fs::file_status temporaryStatus = fs::symlink_status(temporary, error);
    if (fs::is_directory(temporaryStatus)) return false;
    // A stale entry, or a link that would carry the write elsewhere, goes.
    if (fs::exists(temporaryStatus) && !fs::remove(temporary, error)) return false;

    bool replaced = writeReplacement(document, temporary);
    if (replaced) {
        const fs::file_status outputStatus = fs::status(outputPath, error);
        if (fs::exists(outputStatus)) {
            qor::platform::copyOwner(outputPath, temporary);
            fs::permissions(temporary, outputStatus.permissions(), fs::perm_options::replace, error);
            replaced = !error;
        }
    }
    if (replaced) {
        fs::rename(temporary, outputPath, error);
        replaced = !error;
    }
    if (!replaced) removeFile(temporary);
    return replaced;
}
