#include "driver/output_text.h"

#include <cstring>
#include <ostream>
#include <string>

#include "driver/host.h"

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

}  // namespace

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

std::uintmax_t replacementSize(const clXML& document) {
    // The writer's text with the host's line ends, and the declaration
    // line before any text is cut away.
    const bool hostAddsCarriageReturns = std::strlen(textLineEnd) == 2;
    const auto text = document.exportSize(hostAddsCarriageReturns);
    const std::uintmax_t carriageReturns = hostAddsCarriageReturns ? text.newlines : 0;
    return text.bytes + carriageReturns + std::strlen(declarationLine) + 1;
}

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
