#include "driver/output_text.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ostream>

#include "driver/host.h"
#include "xml/writer.h"

using qor::utility::clXML;
using qor::utility::clXMLNode;
using host::textLineEnd;
namespace writer = qor::utility::writer;

namespace {

constexpr bool translatesLineEnds = textLineEnd != "\n";
// The root writes no line; its children are indented by two.
constexpr int topLevelWidth = 2;

// Hands the writer's text on to target as the host's text mode writes it,
// in blocks of at least blockSize bytes but the last: the writer hands
// over each top-level node on its own, and each write to a file is a
// system call. Without a target, the bytes are only counted.
class clTextModeBody : public std::streambuf {
public:
    explicit clTextModeBody(std::streambuf* target) : target(target) {}

    // Hands on the bytes still held; false when target refused any.
    bool finish() {
        const bool passed = pass(pending.data(), pending.size());
        pending.clear();
        return passed;
    }
    std::uintmax_t written() const { return count; }

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const auto size = static_cast<std::size_t>(n);
        if (!translatesLineEnds && pending.empty() && size >= blockSize) return pass(s, size) ? n : 0;
        if (translatesLineEnds) {
            appendTextMode(pending, {s, size}, textLineEnd, afterCarriageReturn);
        } else {
            pending.append(s, size);
        }
        if (pending.size() >= blockSize && !finish()) return 0;
        return n;
    }

    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    static constexpr std::size_t blockSize = 1 << 16;

    // A short write is a failed one, so the stream above sees it.
    bool pass(const char* s, std::size_t n) {
        const bool passed = !target || target->sputn(s, static_cast<std::streamsize>(n)) == static_cast<std::streamsize>(n);
        if (passed) count += n;
        return passed;
    }

    std::streambuf* target;
    std::string pending;  // bytes held until there are enough for a write
    bool afterCarriageReturn = false;
    std::uintmax_t count = 0;
};

// Character data that is a UTF-8 byte-order mark with nothing but white
// space after it: what the parser makes of a mark before the first markup.
bool isByteOrderMark(const clXMLNode& node) {
    static const std::string mark = "\xEF\xBB\xBF";
    const std::string& text = node.getElement();
    return node.getType() == clXMLNode::TYPE_ELEMENT && text.compare(0, mark.size(), mark) == 0 &&
           text.find_first_not_of(" \t\n\r", mark.size()) == std::string::npos;
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

// Whether the writer's text for top's subtree holds a '>': every kind
// writes one but character data, which holds its text alone, and the
// plain node, which writes nothing of its own.
bool writesTagEnd(const clXMLNode& top) {
    for (auto* node = static_cast<const qor::common::clMultiTree<std::string>*>(&top); node;
         node = node->getNextInPreorder(&top)) {
        const auto& written = static_cast<const clXMLNode&>(*node);
        switch (written.getType()) {
        case clXMLNode::TYPE_NONE:
            break;
        case clXMLNode::TYPE_ELEMENT:
            if (written.getElement().find('>') != std::string::npos) return true;
            break;
        default:
            return true;
        }
    }
    return false;
}

const clXMLNode* nextOf(const clXMLNode& node) { return static_cast<const clXMLNode*>(node.getNextSibling()); }

// The output's head: the line it begins with, and the first top-level
// node written after it.
struct clHead {
    std::string line;
    const clXMLNode* body;
};

clHead headOf(const clXML& document) {
    auto line = [](const std::string& encoding) { return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n"; };
    const auto* first = static_cast<const clXMLNode*>(document.root.getFirstChild());
    const clXMLNode* holder = first;  // of the text's first '>'
    while (holder && !writesTagEnd(*holder)) holder = nextOf(*holder);
    if (holder && holder->getType() == clXMLNode::TYPE_DECLARATION && holder->getTag() == "xml") {
        // The line end the writer puts after the declaration stays.
        return {line(encodingOf(*holder)).append(textLineEnd), nextOf(*holder)};
    }
    if (first && isByteOrderMark(*first)) first = nextOf(*first);
    return {line("UTF-8"), first};
}

// Writes the top-level nodes from first on into target, or only counts
// them without one. False when target refused any byte.
bool writeBody(const clXMLNode* first, std::streambuf* target, std::uintmax_t* written = nullptr) {
    clTextModeBody body(target);
    std::ostream out(&body);
    for (const clXMLNode* node = first; node && out; node = nextOf(*node)) writer::printBlocks(*node, &out, topLevelWidth);
    const bool passed = out && body.finish();
    if (written) *written = body.written();
    return passed;
}

}  // namespace

void appendTextMode(std::string& out, std::string_view text, std::string_view lineEnd, bool& afterCarriageReturn) {
    const char* at = text.data();
    const char* const end = at + text.size();
    for (const char* newline; (newline = static_cast<const char*>(std::memchr(at, '\n', end - at))); at = newline + 1) {
        const bool followsCarriageReturn = newline > text.data() ? newline[-1] == '\r' : afterCarriageReturn;
        out.append(at, newline);
        if (followsCarriageReturn) {
            out += '\n';
        } else {
            out.append(lineEnd);
        }
    }
    out.append(at, end);
    if (!text.empty()) afterCarriageReturn = text.back() == '\r';
}

std::uintmax_t replacementSize(const clXML& document) {
    const clHead head = headOf(document);
    std::uintmax_t size = head.line.size();
    if (translatesLineEnds) {
        // Which LF gains a CR depends on the byte before it: the text is counted as written.
        std::uintmax_t body = 0;
        writeBody(head.body, nullptr, &body);
        return size + body;
    }
    for (const clXMLNode* node = head.body; node; node = nextOf(*node)) {
        size += writer::printedSize(*node, topLevelWidth, false).bytes;
    }
    return size;
}

bool writeReplacement(const clXML& document, std::streambuf& file) {
    const clHead head = headOf(document);
    const auto lineSize = static_cast<std::streamsize>(head.line.size());
    return file.sputn(head.line.data(), lineSize) == lineSize && writeBody(head.body, &file);
}
