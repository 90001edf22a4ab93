#include "xml/xml.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <tuple>
#include <utility>
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

// Where the first "-->" at or after from begins, or length when none does.
std::size_t findCommentEnd(const char* data, std::size_t length, std::size_t from) {
    while (from + 3 <= length) {
        const void* dash = std::memchr(data + from, '-', length - from - 2);
        if (!dash) break;
        from = static_cast<std::size_t>(static_cast<const char*>(dash) - data);
        if (data[from + 1] == '-' && data[from + 2] == '>') return from;
        ++from;
    }
    return length;
}

// Where one attribute piece [begin, end) has its name, [begin, nameEnd),
// and its value, [valueBegin, valueEnd): the name runs to the first '=',
// the value drops everything outside its outermost double quotes.
struct clAttributeSpans {
    const char* nameEnd;
    const char* valueBegin;
    const char* valueEnd;
};

clAttributeSpans splitAttribute(const char* begin, const char* end) {
    // Pieces are short, so plain loops beat library calls here.
    const char* equals = begin;
    while (equals < end && *equals != '=') ++equals;
    if (equals == end) return {end, end, end};
    const char* valueBegin = equals + 1;
    const char* openQuote = valueBegin;
    while (openQuote < end && *openQuote != '"') ++openQuote;
    if (openQuote < end) valueBegin = openQuote + 1;
    const char* valueEnd = end;
    for (const char* p = end; p > valueBegin;) {
        if (*--p == '"') {
            valueEnd = p;
            break;
        }
    }
    return {equals, valueBegin, valueEnd};
}

// The first '<' at or after pos, or length. Markup mostly follows a line
// end and some indentation, too near for a library call to pay off.
std::size_t findTagOpen(const char* data, std::size_t length, std::size_t pos) {
    const std::size_t near = length - pos > 16 ? pos + 16 : length;
    for (; pos < near; ++pos) {
        if (data[pos] == '<') return pos;
    }
    const void* found = pos < length ? std::memchr(data + pos, '<', length - pos) : nullptr;
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : length;
}

}  // namespace

void clXML::load(const std::string& path) {
    root.removeChildren();
    platform::clFileBytes file;
    // The bytes are this call's own, so the pass may discard what it has read.
    if (file.open(path)) parseText(&root, file.data(), file.size(), 0, &file);
}

void clXML::load(int descriptor) {
    root.removeChildren();
    platform::clFileBytes file;
    if (file.openDescriptor(descriptor)) parseText(&root, file.data(), file.size(), 0, &file);
}

void clXML::parse(clXMLNode* node, const std::string& text, std::size_t start) {
    parseText(node, text.data(), contentSize(text), start, nullptr);
}

std::size_t clXML::contentSize(const std::string& text) {
    // A trailing NUL, as a loader that terminates its text leaves, is not content.
    return !text.empty() && text.back() == '\0' ? text.size() - 1 : text.size();
}

void clXML::parseText(clXMLNode* node, const char* data, std::size_t length, std::size_t start,
                      platform::clFileBytes* source) {
    constexpr std::size_t discardStep = std::size_t(4) << 20;
    clXMLNode* top = node ? node : &root;
    std::vector<clXMLNode*> open;  // tags not yet closed, innermost last
    open.reserve(100);
    std::size_t pos = start;
    std::size_t textStart = start;  // where the pending character data begins
    // Once a search for "-->" fails, none follows any later "<!--" either.
    bool commentEndMissing = false;
    std::size_t discarded = 0;  // no byte before textStart is read again

    while (pos < length) {
        if (source && textStart - discarded >= discardStep) {
            source->discardBefore(textStart);
            discarded = textStart;
        }
        // Leading blanks are not part of the text; skipping them first also
        // finds the next '<' at once when only blanks come before it.
        std::size_t first = textStart;
        while (first < length && isBlank(data[first])) ++first;
        pos = findTagOpen(data, length, first > pos ? first : pos);
        if (pos == length) break;
        clXMLNode* parent = open.empty() ? top : open.back();

        if (first < pos) {
            clXMLNode* element = new clXMLNodeElement;
            element->key.assign(data + first, pos - first);
            parent->addChild(element);
        }

        if (length - pos >= 4 && data[pos + 1] == '!' && data[pos + 2] == '-' && data[pos + 3] == '-') {
            // Searching from after "<!--" keeps "<!-->" from closing itself.
            const std::size_t end = commentEndMissing ? length : findCommentEnd(data, length, pos + 4);
            if (end == length) {
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

        clXMLNode* item = parseTagAt(data, length, pos, &pos);
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
    clXMLNode* node = parseTagAt(text.data(), contentSize(text), start, next);
    // An item left open runs to the very end, terminator included.
    if (*next <= start || text[*next - 1] != '>') *next = text.size();
    return node;
}

clXMLNode* clXML::parseTagAt(const char* data, std::size_t length, std::size_t start,
                             std::size_t* next) {
    // Separators: a space outside double quotes, or any '>'. The item ends
    // just after its first '>'. The first separators are kept, so a tag of
    // ordinary size is cut into its attributes without a second walk.
    constexpr std::size_t kept = 16;
    std::size_t separatorAt[kept];
    std::size_t nameEnd = length;
    std::size_t separators = 0;
    std::size_t close = length;
    bool quoted = false;
    for (std::size_t i = start; i < length; ++i) {
        const char c = data[i];
        if (!tagByte(c)) continue;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '>' || (c == ' ' && !quoted)) {
            if (separators < kept) separatorAt[separators] = i;
            if (separators++ == 0) nameEnd = i;
            if (c == '>') {
                close = i;
                break;
            }
        }
    }
    const bool closed = close < length;
    const std::size_t end = closed ? close + 1 : length;
    *next = end;

    const char kind = start + 1 < length ? data[start + 1] : '\0';
    if (kind == '/') return nullptr;

    // Without a separator the name is the rest of the text.
    const bool named = separators > 0;
    const std::size_t lastAt = closed ? close : length;  // just past the item's last byte
    const char last = lastAt > 0 ? data[lastAt - 1] : '\0';
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
    if (nameBegin > length) nameBegin = length;
    if (nameEnd < nameBegin) nameEnd = nameBegin;
    node->key.assign(data + nameBegin, nameEnd - nameBegin);

    if (closed && separators >= 2) {
        // Each attribute is the piece between two separators.
        const std::size_t count = separators - 1;
        clXMLNode::tyAttributeList& list = node->attribute;
        if (separators > kept) {
            list.resize(count);
            parseAttributes(list.data(), count, data + nameEnd + 1, data + end);
        } else {
            list.reserve(count);
            for (std::size_t k = 0; k < count; ++k) {
                const char* begin = data + separatorAt[k] + 1;
                const clAttributeSpans spans = splitAttribute(begin, data + separatorAt[k + 1]);
                list.emplace_back(std::piecewise_construct, std::forward_as_tuple(begin, spans.nameEnd),
                                  std::forward_as_tuple(spans.valueBegin, spans.valueEnd));
            }
        }
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
    const clAttributeSpans spans = splitAttribute(begin, end);
    name->assign(begin, spans.nameEnd);
    value->assign(spans.valueBegin, spans.valueEnd);
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

clXMLNode::clTextSize clXML::exportSize(bool countNewlines) const { return root.printedSize(0, countNewlines); }

void clXML::exportFile(const std::string& path) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (out) exportStream(&out);
}

}  // namespace utility
}  // namespace qor
