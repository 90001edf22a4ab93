#include "driver/output_text.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>

#include "driver/host.h"

using qor::utility::clXML;
using qor::utility::clXMLNode;
using host::textLineEnd;

namespace {

// Passes the writer's text on to a target buffer as the output file holds
// it: its first bytes dropped when asked to, and each newline written as
// the host's text mode writes it. A short write downstream is a failed
// write here, so the stream above sees it.
class clReplacementBody : public std::streambuf {
public:
    clReplacementBody(std::streambuf& target, std::uintmax_t skipped) : target(target), skipping(skipped) {}

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::streamsize taken = 0;
        if (skipping > 0) {
            taken = skipping < static_cast<std::uintmax_t>(n) ? static_cast<std::streamsize>(skipping) : n;
            skipping -= static_cast<std::uintmax_t>(taken);
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
        if (n == 0) return true;
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
    std::uintmax_t skipping;  // bytes of the writer's text still to drop
    std::string translated;   // a block with the host's line ends
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Character data that is a UTF-8 byte-order mark with nothing but white
// space after it: what the parser makes of a mark before the first markup.
bool isByteOrderMark(const clXMLNode& node) {
    static const std::string mark = "\xEF\xBB\xBF";
    const std::string& text = node.getElement();
    if (node.getType() != clXMLNode::TYPE_ELEMENT || text.compare(0, mark.size(), mark) != 0) return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(mark.size()), text.end(), isSpace);
}

// The encoding a declaration names: its own when that is a well-formed
// encoding name and not UTF-8 (which UTF8, in any case, also means).
std::string encodingOf(const clXMLNode& declaration) {
    const clXMLNode::tyAttribute* named = declaration.searchAttribute("encoding");
    if (!named || named->second.empty()) return "UTF-8";
    const std::string& name = named->second;
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    auto isNameByte = [&](char c) {
        return isLetter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
    };
    if (!isLetter(name[0]) || !std::all_of(name.begin(), name.end(), isNameByte)) return "UTF-8";
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper == "UTF-8" || upper == "UTF8" ? "UTF-8" : name;
}

// The bytes of the writer's text a top-level node's own line takes,
// without its children's lines.
std::uintmax_t ownLineSize(const clXMLNode& node) {
    const int width = 2;  // the root writes no line; its children are indented by two
    std::uintmax_t size = node.printedSize(width, false).bytes;
    for (auto* child = node.getFirstChild(); child; child = child->getNextSibling()) {
        size -= static_cast<const clXMLNode*>(child)->printedSize(width + 2, false).bytes;
    }
    return size;
}

// The output's head: the line it begins with, and how many of the
// writer's first bytes that line takes the place of.
struct clHead {
    std::string line;
    std::uintmax_t replaced = 0;
};

clHead headOf(const clXML& document) {
    std::string encoding = "UTF-8";
    std::uintmax_t replaced = 0;
    auto* first = static_cast<const clXMLNode*>(document.root.getFirstChild());
    if (first && isByteOrderMark(*first)) {
        replaced = ownLineSize(*first);  // the mark's whole line
        first = static_cast<const clXMLNode*>(first->getNextSibling());
    }
    if (first && first->getType() == clXMLNode::TYPE_DECLARATION && first->getTag() == "xml") {
        replaced += ownLineSize(*first) - 1;  // up to its '>': the newline after it opens the body
        encoding = encodingOf(*first);
    }
    return {"<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>", replaced};
}

}  // namespace

std::uintmax_t replacementSize(const clXML& document) {
    // The writer's text with the host's line ends, and the declaration
    // line before any text is cut away.
    const bool hostAddsCarriageReturns = std::strlen(textLineEnd) == 2;
    const auto text = document.exportSize(hostAddsCarriageReturns);
    const std::uintmax_t carriageReturns = hostAddsCarriageReturns ? text.newlines : 0;
    return text.bytes + carriageReturns + headOf(document).line.size() + 1;
}

bool writeReplacement(const clXML& document, std::streambuf& file) {
    const clHead head = headOf(document);
    const std::string line = head.line + '\n';
    if (file.sputn(line.data(), static_cast<std::streamsize>(line.size())) !=
        static_cast<std::streamsize>(line.size())) {
        return false;
    }
    // The writer hands its text over in blocks of about 64 KiB; each
    // reaches the file in one write.
    clReplacementBody body(file, head.replaced);
    std::ostream out(&body);
    document.exportStream(&out);
    return static_cast<bool>(out);
}
