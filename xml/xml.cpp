#include "xml/xml.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>
#include <vector>

#include "common/platform.h"

namespace qor {
namespace utility {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\r'; }

// The bytes a tag's walk must stop at: a double quote, a space, a '>'.
struct clTagBytes {
    bool stop[256] = {};
    clTagBytes() {
        for (unsigned char c : {'"', ' ', '>'}) stop[c] = true;
    }
    bool operator()(char c) const { return stop[static_cast<unsigned char>(c)]; }
};
const clTagBytes tagByte;

// Reads a regular file whole, followed by one NUL byte. Directories,
// devices and pipes are refused: their sizes mean nothing.
bool readFile(const std::string& path, std::string& text) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size >= text.max_size()) return false;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) return false;
    text.assign(static_cast<std::size_t>(size) + 1, '\0');
    in.read(&text[0], static_cast<std::streamsize>(size));
    text.back() = '\0';
    return true;
}

}  // namespace

void clXML::load(const std::string& path) {
    root.removeChildren();
    std::string text;
    // The text is this call's own, so the pass may discard what it has read.
    if (readFile(path, text)) parseText(&root, text, 0, true);
}

void clXML::parse(clXMLNode* node, const std::string& text, std::size_t start) {
    parseText(node, text, start, false);
}

void clXML::parseText(clXMLNode* node, const std::string& text, std::size_t start, bool discardParsed) {
    constexpr std::size_t discardStep = std::size_t(4) << 20;
    if (text.empty()) return;
    clXMLNode* top = node ? node : &root;
    std::vector<clXMLNode*> open;  // tags not yet closed, innermost last
    open.reserve(100);
    const char* const data = text.data();
    const std::size_t length = text.size();
    std::size_t pos = start;
    std::size_t textStart = start;  // where the pending character data begins
    // Once a search for "-->" fails, none follows any later "<!--" either.
    bool commentEndMissing = false;
    std::size_t discarded = 0;  // no byte before textStart is read again

    while (pos < length) {
        if (discardParsed && textStart - discarded >= discardStep) {
            platform::releasePages(const_cast<char*>(data) + discarded, textStart - discarded);
            discarded = textStart;
        }
        const void* next = std::memchr(data + pos, '<', length - pos);
        if (!next) break;
        pos = static_cast<std::size_t>(static_cast<const char*>(next) - data);
        clXMLNode* parent = open.empty() ? top : open.back();

        std::size_t first = textStart;
        while (first < pos && isBlank(data[first])) ++first;
        if (first < pos) {
            clXMLNode* element = new clXMLNodeElement;
            element->key.assign(data + first, pos - first);
            parent->addChild(element);
        }

        if (length - pos >= 4 && data[pos + 1] == '!' && data[pos + 2] == '-' && data[pos + 3] == '-') {
            // Searching from after "<!--" keeps "<!-->" from closing itself.
            std::size_t end = commentEndMissing ? std::string::npos : text.find("-->", pos + 4);
            if (end == std::string::npos) {
                commentEndMissing = true;
                textStart = pos;  // the unclosed "<!--" opens the next text
                ++pos;
                continue;
            }
            clXMLNode* comment = new clXMLNodeComment;
            comment->key.assign(data + pos + 4, end - pos - 4);
            parent->addChild(comment);
            pos = textStart = end + 3;
            continue;
        }

        clXMLNode* item = parseTag(&pos, text, pos);
        textStart = pos;
        if (!item) {
            if (!open.empty()) open.pop_back();  // a stray closing tag changes nothing
        } else {
            parent->addChild(item);
            if (item->getType() == clXMLNode::TYPE_TAG) open.push_back(item);
        }
    }
}

clXMLNode* clXML::parseTag(std::size_t* next, const std::string& text, std::size_t start) {
    if (!next || start >= text.size()) return nullptr;
    const char* const data = text.data();
    const std::size_t length = text.size();
    // The loader's trailing NUL is not part of the file.
    const std::size_t contentEnd = data[length - 1] == '\0' ? length - 1 : length;

    // Separators: a space outside double quotes, or any '>'. The item ends
    // just after its first '>'.
    std::size_t nameEnd = std::string::npos;
    std::size_t separators = 0;
    std::size_t close = std::string::npos;
    bool quoted = false;
    for (std::size_t i = start; i < length; ++i) {
        const char c = data[i];
        if (!tagByte(c)) continue;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '>' || (c == ' ' && !quoted)) {
            if (separators++ == 0) nameEnd = i;
            if (c == '>') {
                close = i;
                break;
            }
        }
    }
    const std::size_t end = close == std::string::npos ? length : close + 1;
    *next = end;

    const char kind = start + 1 < length ? data[start + 1] : '\0';
    if (kind == '/') return nullptr;

    // Without a separator the name is the rest of the file.
    const bool named = nameEnd != std::string::npos;
    if (!named) nameEnd = contentEnd;
    const char last = close != std::string::npos ? data[close - 1]
                                                 : (contentEnd > 0 ? data[contentEnd - 1] : '\0');
    clXMLNode* node;
    std::size_t nameBegin = start + 1;
    if (kind == '?') {
        node = new clXMLNodeDeclaration;
        nameBegin = start + 2;
    } else if (last == '/') {
        node = new clXMLNodeEmptyTag;
        // "<name/>" and "<name/" at the end: the '/' is not part of the name.
        if (!named || nameEnd == close) --nameEnd;
    } else {
        node = new clXMLNodeTag;
    }
    if (nameEnd < nameBegin) nameEnd = nameBegin;
    node->key.assign(data + nameBegin, nameEnd - nameBegin);

    if (close != std::string::npos && separators >= 2) {
        const std::size_t count = separators - 1;
        node->attribute.resize(count);
        parseAttributes(node->attribute.data(), count, data + nameEnd + 1, data + end);
    }
    return node;
}

void clXML::parseAttributes(clXMLNode::tyAttribute* pairs, std::size_t count, const char* begin,
                            const char* end) {
    if (!pairs || count == 0) return;
    bool quoted = false;
    std::size_t piece = 0;
    const char* pieceBegin = begin;
    for (const char* p = begin; p < end && piece < count; ++p) {
        if (!tagByte(*p)) continue;
        if (*p == '"') {
            quoted = !quoted;
        } else if (*p == '>' || (*p == ' ' && !quoted)) {
            parseAttribute(&pairs[piece].first, &pairs[piece].second, pieceBegin, p);
            ++piece;
            pieceBegin = p + 1;
        }
    }
}

void clXML::parseAttribute(std::string* name, std::string* value, const char* begin,
                           const char* end) {
    if (!name || !value) return;
    const char* equals = static_cast<const char*>(std::memchr(begin, '=', static_cast<std::size_t>(end - begin)));
    if (!equals) {
        name->assign(begin, end);
        value->clear();
        return;
    }
    name->assign(begin, equals);
    const char* valueBegin = equals + 1;
    if (valueBegin == end) {
        value->clear();
        return;
    }
    const char* openQuote = static_cast<const char*>(std::memchr(valueBegin, '"', static_cast<std::size_t>(end - valueBegin)));
    if (openQuote) valueBegin = openQuote + 1;
    const char* valueEnd = end;
    for (const char* p = end; p > valueBegin;) {
        if (*--p == '"') {
            valueEnd = p;
            break;
        }
    }
    value->assign(valueBegin, valueEnd);
}

clXMLNode* clXML::find(const std::string& name) {
    return const_cast<clXMLNode*>(static_cast<const clXML*>(this)->find(name));
}

const clXMLNode* clXML::find(const std::string& name) const {
    // Every node of a document tree is a clXMLNode.
    return static_cast<const clXMLNode*>(root.find(name));
}

const std::string& clXML::getElement(const std::string& name) const {
    static const std::string none;
    const clXMLNode* node = find(name);
    if (!node) return none;
    const clXMLNode* child = static_cast<const clXMLNode*>(node->getFirstChild());
    if (child && child->getType() == clXMLNode::TYPE_ELEMENT) return child->getElement();
    return none;
}

void clXML::print() const { print(&std::cout); }

void clXML::print(std::ostream* out) const { root.clXMLNode::print(out, 0); }

void clXML::exportStream(std::ostream* out) const { root.clXMLNode::printBlocks(out, 0); }

void clXML::exportFile(const std::string& path) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (out) exportStream(&out);
}

}  // namespace utility
}  // namespace qor
