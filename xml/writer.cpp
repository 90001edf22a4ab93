#include "xml/writer.h"

#include <algorithm>
#include <cstring>

namespace qor {
namespace utility {
namespace writer {

namespace {

using tyAttribute = clXMLNode::tyAttribute;

// Copies count bytes and returns the end of the copy. Most pieces of a
// line are a few bytes long, where fixed-size moves beat a library call.
char* copyBytes(char* to, const char* from, std::size_t count) {
    if (count >= 8 && count <= 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + count - 8, from + count - 8, 8);
    } else if (count >= 4 && count < 8) {
        std::memcpy(to, from, 4);
        std::memcpy(to + count - 4, from + count - 4, 4);
    } else if (count < 4) {
        if (count > 0) to[0] = from[0];
        if (count > 1) to[1] = from[1];
        if (count > 2) to[2] = from[2];
    } else {
        std::memcpy(to, from, count);
    }
    return to + count;
}

char* copyBytes(char* to, std::string_view bytes) { return copyBytes(to, bytes.data(), bytes.size()); }

// How many '\n' bytes text holds. Most text holds none, which one memchr
// finds without a byte-by-byte loop.
std::uintmax_t newlinesIn(std::string_view text) {
    std::uintmax_t count = 0;
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end) {
        const void* found = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        if (!found) break;
        ++count;
        at = static_cast<const char*>(found) + 1;
    }
    return count;
}

// Whether a word holds a '"' byte: the classic test for a zero byte, on
// the word with every byte xor'ed by '"'.
template <class Word>
bool wordHoldsDoubleQuote(Word word) {
    constexpr Word ones = static_cast<Word>(~Word(0)) / 0xFF;  // 0x0101...
    word ^= ones * '"';
    return ((word - ones) & ~word & (ones * 0x80)) != 0;
}

// Loads count bytes, sizeof(Word) to twice that many, as two words that
// may overlap.
template <class Word>
void loadWords(const char* from, std::size_t count, Word& head, Word& tail) {
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + count - sizeof tail, sizeof tail);
}

// Copies count bytes, sizeof(Word) to twice that many, as two words, and
// tells whether they hold a '"'.
template <class Word>
bool copyWords(char* to, const char* from, std::size_t count) {
    Word head, tail;
    loadWords(from, count, head, tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + count - sizeof tail, &tail, sizeof tail);
    return wordHoldsDoubleQuote(head) || wordHoldsDoubleQuote(tail);
}

// Four two-byte pieces that cover [from, from + count), count being from
// two to eight, as one 64-bit word: the pieces lie side by side from the
// start, the last ones drawn back to end at the value's end.
std::uint64_t coveringWord(const char* from, std::size_t count) {
    const std::size_t last = count - 2;
    std::uint64_t word = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        std::uint16_t piece;
        std::memcpy(&piece, from + std::min(2 * k, last), sizeof piece);
        word = word << 16 | piece;
    }
    return word;
}

// Whether value holds a '"'. The lengths of most values are spread over a
// few bytes either side of four, so up to 8 bytes one branch-free test
// serves them all.
bool holdsDoubleQuote(const std::string& value) {
    const char* const from = value.data();
    const std::size_t count = value.size();
    if (count < 2) return from[0] == '"';  // an empty value's terminator is no '"'
    if (count <= 8) return wordHoldsDoubleQuote(coveringWord(from, count));
    if (count <= 16) {
        std::uint64_t head, tail;
        loadWords(from, count, head, tail);
        return wordHoldsDoubleQuote(head) || wordHoldsDoubleQuote(tail);
    }
    return std::memchr(from, '"', count) != nullptr;
}

// copyBytes for a value, also telling whether it holds a '"': the bytes
// are looked at as they are moved, so the writer never walks a value twice.
char* copyValue(char* to, const std::string& value, bool& holdsQuote) {
    const char* const from = value.data();
    const std::size_t count = value.size();
    if (count >= 8 && count <= 16) {
        holdsQuote = copyWords<std::uint64_t>(to, from, count);
    } else if (count >= 4 && count < 8) {
        holdsQuote = copyWords<std::uint32_t>(to, from, count);
    } else if (count < 4) {
        holdsQuote = false;
        for (std::size_t i = 0; i < count; ++i) {
            to[i] = from[i];
            holdsQuote = holdsQuote || from[i] == '"';
        }
    } else {
        std::memcpy(to, from, count);
        holdsQuote = std::memchr(from, '"', count) != nullptr;
    }
    return to + count;
}

const char quoteEntity[] = "&quot;";
constexpr std::size_t quoteGrowth = sizeof quoteEntity - 2;  // what each '"' gains

bool holdsApostrophe(const std::string& value) { return value.find('\'') != std::string::npos; }

// The bytes a tag's value gains when it is written. One that holds both
// quotes is written between '"', each '"' as an entity: there is no other
// way to write it as XML.
std::size_t escapingGrowth(const std::string& value) {
    if (!holdsDoubleQuote(value) || !holdsApostrophe(value)) return 0;
    return quoteGrowth * static_cast<std::size_t>(std::count(value.begin(), value.end(), '"'));
}

bool isWritten(const tyAttribute& entry) { return !entry.first.empty() || !entry.second.empty(); }

// What an attribute takes on a line before any escaping: a space, the
// name, and, unless it is bare, '=' and the value between two quotes.
std::size_t attributeSize(const tyAttribute& entry, enAttributes how) {
    if (how == ATTRIBUTES_INSTRUCTION && entry.second.empty()) return 1 + entry.first.size();
    return entry.first.size() + entry.second.size() + 4;
}

// Writes the value between '"' from opening on, each '"' as an entity,
// growing line by what that adds; returns the end of what was written.
char* putEscapedValue(clLines& line, char* opening, const std::string& value) {
    char* out = line.extendAfter(opening, escapingGrowth(value));
    *out++ = '"';
    for (const char c : value) {
        if (c == '"') {
            out = copyBytes(out, quoteEntity, sizeof quoteEntity - 1);
        } else {
            *out++ = c;
        }
    }
    *out++ = '"';
    return out;
}

// Writes one attribute at out, as attributeSize counts it (a tag's value
// with both quotes grows line); returns the end of what was written.
char* putAttribute(clLines& line, char* out, const tyAttribute& entry, enAttributes how) {
    *out++ = ' ';
    out = copyBytes(out, entry.first);
    if (how == ATTRIBUTES_INSTRUCTION && entry.second.empty()) return out;
    *out++ = '=';
    char* const opening = out++;
    bool holdsQuote;
    out = copyValue(out, entry.second, holdsQuote);
    // A value that holds a '"' (read from between '\'') goes back between '\''.
    if (holdsQuote && how == ATTRIBUTES_TAG && holdsApostrophe(entry.second)) {
        return putEscapedValue(line, opening, entry.second);
    }
    *opening = *out++ = holdsQuote ? '\'' : '"';
    return out;
}

// Adds to counted what appendLine would write for node, fixed being the
// bytes of its indentation and its open and close markers.
void countLine(const clXMLNode& node, clTextSize& counted, bool countNewlines, std::size_t fixed,
               enAttributes how) {
    counted.bytes += fixed + node.getTag().size();
    if (countNewlines) counted.newlines += newlinesIn(node.getTag());
    if (how == ATTRIBUTES_NONE) return;
    bool anyDoubleQuote = false;  // rare: then the values are looked at again
    for (const tyAttribute& entry : node.getAttribute()) {
        if (!isWritten(entry)) continue;
        counted.bytes += attributeSize(entry, how);
        anyDoubleQuote |= how == ATTRIBUTES_TAG && holdsDoubleQuote(entry.second);
        if (countNewlines) counted.newlines += newlinesIn(entry.first) + newlinesIn(entry.second);
    }
    if (!anyDoubleQuote) return;
    for (const tyAttribute& entry : node.getAttribute()) counted.bytes += escapingGrowth(entry.second);
}

// Writes width spaces at out.
char* putIndent(char* out, std::size_t width) {
    static const char spaces[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    for (; width > sizeof spaces; width -= sizeof spaces) out = copyBytes(out, spaces, sizeof spaces);
    return copyBytes(out, spaces, width);
}

// An element that holds nothing, or one node of character data with
// nothing under it: text whose every byte is content, written on the
// element's own line with no layout around it.
bool opensWithChildren(const clXMLNode& tag, int width, clLines& line) {
    const auto* only = static_cast<const clXMLNode*>(tag.firstChild);
    if (only && (only != tag.lastChild || only->type != clXMLNode::TYPE_ELEMENT || only->firstChild)) {
        appendLine(tag, line, width, "<", ATTRIBUTES_TAG, ">\n");
        return true;
    }
    appendLine(tag, line, width, "<", ATTRIBUTES_TAG, ">");
    appendPieces(line, {only ? std::string_view(only->key) : std::string_view(), "</", tag.key, ">\n"});
    return false;
}

}  // namespace

char* clLines::extend(std::size_t count) {
    if (bytes.size() - used < count) bytes.resize(used + count > 2 * bytes.size() ? used + count : 2 * bytes.size());
    char* room = &bytes[used];
    used += count;
    return room;
}

char* clLines::extendAfter(char* cursor, std::size_t count) {
    const std::size_t offset = static_cast<std::size_t>(cursor - &bytes[0]);
    extend(count);
    return &bytes[offset];
}

void appendLine(const clXMLNode& node, clLines& line, int width, std::string_view open, enAttributes how,
                std::string_view close) {
    const std::size_t indent = width > 0 ? static_cast<std::size_t>(width) : 0;
    if (clTextSize* const counted = line.measuring()) {
        countLine(node, *counted, line.countsNewlines(), indent + open.size() + close.size(), how);
        if (line.countsNewlines()) counted->newlines += newlinesIn(open) + newlinesIn(close);
        return;
    }
    // Measured first, so the line grows once and is filled by plain copies.
    const std::string& key = node.getTag();
    std::size_t size = indent + open.size() + key.size() + close.size();
    if (how != ATTRIBUTES_NONE) {
        for (const tyAttribute& entry : node.getAttribute()) {
            if (isWritten(entry)) size += attributeSize(entry, how);
        }
    }
    char* out = line.extend(size);
    out = putIndent(out, indent);
    out = copyBytes(out, open);
    out = copyBytes(out, key);
    if (how != ATTRIBUTES_NONE) {
        for (const tyAttribute& entry : node.getAttribute()) {
            if (isWritten(entry)) out = putAttribute(line, out, entry, how);
        }
    }
    copyBytes(out, close);
}

void appendPieces(clLines& line, std::initializer_list<std::string_view> pieces) {
    std::size_t size = 0;
    for (std::string_view piece : pieces) size += piece.size();
    if (clTextSize* const counted = line.measuring()) {
        counted->bytes += size;
        if (line.countsNewlines()) {
            for (std::string_view piece : pieces) counted->newlines += newlinesIn(piece);
        }
        return;
    }
    char* out = line.extend(size);
    for (std::string_view piece : pieces) {
        if (piece.empty()) continue;
        std::memcpy(out, piece.data(), piece.size());
        out += piece.size();
    }
}

bool formatOpening(const clXMLNode& node, clLines& line, int width) {
    switch (node.getType()) {
    case clXMLNode::TYPE_TAG:
        return opensWithChildren(node, width, line);
    case clXMLNode::TYPE_EMPTY_TAG:
        appendLine(node, line, width, "<", ATTRIBUTES_TAG, "/>\n");
        break;
    case clXMLNode::TYPE_ELEMENT:
        appendLine(node, line, 0, "", ATTRIBUTES_NONE, "\n");  // flush left at every depth
        break;
    case clXMLNode::TYPE_DECLARATION:
        appendLine(node, line, width, "<?", ATTRIBUTES_INSTRUCTION, "?>\n");
        break;
    case clXMLNode::TYPE_COMMENT:
        appendLine(node, line, width, "<!--", ATTRIBUTES_NONE, "-->\n");
        break;
    default:
        break;  // a plain node writes nothing of its own
    }
    return true;
}

void formatClosing(const clXMLNode& node, clLines& line, int width) {
    if (node.getType() == clXMLNode::TYPE_TAG) appendLine(node, line, width, "</", ATTRIBUTES_NONE, ">\n");
}

void printBlocks(const clXMLNode& node, std::ostream* out, int width) {
    clLines text;
    write(node, text, out, width, false);
}

clTextSize printedSize(const clXMLNode& node, int width, bool countNewlines) {
    clTextSize size;
    clLines counted(&size, countNewlines);
    write(node, counted, nullptr, width, false);
    return size;
}

namespace {

const char byteOrderMark[] = "\xEF\xBB\xBF\n";  // the mark, and its line end when it has one

// Character data that is a UTF-8 byte-order mark and white space, with
// nothing under it: what reading makes of a mark before the first markup.
bool isByteOrderMark(const clXMLNode* node) {
    if (!node || node->getType() != clXMLNode::TYPE_ELEMENT || node->getFirstChild()) return false;
    const std::string& text = node->getElement();
    return text.compare(0, 3, byteOrderMark, 3) == 0 && text.find_first_not_of(" \t\r\n", 3) == std::string::npos;
}

bool isXmlDeclaration(const clXMLNode* node) {
    return node && node->getType() == clXMLNode::TYPE_DECLARATION && node->getTag() == "xml" &&
           !node->getFirstChild();
}

// Walks the document as XML allows it: hands bytes a leading byte-order
// mark, bare (with its own line end only when no declaration follows), and
// node each top-level node with its width: 0 for the declaration that opens
// the document, which nothing may precede but the mark, 2 for the rest, as
// root's children.
template <class Bytes, class Node>
void walkDocument(const clXMLNode& root, Bytes bytes, Node node) {
    auto next = [](const clXMLNode* at) { return static_cast<const clXMLNode*>(at->getNextSibling()); };
    auto* at = static_cast<const clXMLNode*>(root.getFirstChild());
    if (isByteOrderMark(at)) {
        at = next(at);
        bytes(std::string_view(byteOrderMark, isXmlDeclaration(at) ? 3 : 4));
    }
    if (isXmlDeclaration(at)) {
        node(*at, 0);
        at = next(at);
    }
    for (; at; at = next(at)) node(*at, 2);
}

}  // namespace

void writeDocument(const clXMLNode& root, std::ostream* out, bool flushEachLine) {
    auto bytes = [&](std::string_view text) {
        if (!*out) return;
        out->write(text.data(), static_cast<std::streamsize>(text.size()));
        if (flushEachLine) out->flush();
    };
    auto node = [&](const clXMLNode& top, int width) {
        if (flushEachLine) {
            top.print(out, width);
        } else {
            printBlocks(top, out, width);
        }
    };
    walkDocument(root, bytes, node);
}

clTextSize exportSize(const clXML& document, bool countNewlines) {
    clTextSize size;
    auto bytes = [&](std::string_view text) {
        size.bytes += text.size();
        if (countNewlines) size.newlines += newlinesIn(text);
    };
    auto node = [&](const clXMLNode& top, int width) {
        const clTextSize part = printedSize(top, width, countNewlines);
        size.bytes += part.bytes;
        size.newlines += part.newlines;
    };
    walkDocument(document.root, bytes, node);
    return size;
}

}  // namespace writer
}  // namespace utility
}  // namespace qor
