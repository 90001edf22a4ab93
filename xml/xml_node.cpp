#include "xml/xml_node.h"

#include <cstdint>
#include <cstring>

namespace qor {
namespace utility {

namespace {

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

// Copies count bytes, sizeof(Word) to twice that many, as two words that
// may overlap, and tells whether they hold a '"'.
template <class Word>
bool copyWords(char* to, const char* from, std::size_t count) {
    Word head, tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + count - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + count - sizeof tail, &tail, sizeof tail);
    return wordHoldsDoubleQuote(head) || wordHoldsDoubleQuote(tail);
}

// copyBytes for a value, also telling whether it holds a '"': the bytes
// are looked at as they are moved, so the writer never walks a value twice.
char* copyValue(char* to, const char* from, std::size_t count, bool& holdsDoubleQuote) {
    if (count >= 8 && count <= 16) {
        holdsDoubleQuote = copyWords<std::uint64_t>(to, from, count);
    } else if (count >= 4 && count < 8) {
        holdsDoubleQuote = copyWords<std::uint32_t>(to, from, count);
    } else if (count < 4) {
        holdsDoubleQuote = false;
        for (std::size_t i = 0; i < count; ++i) {
            to[i] = from[i];
            holdsDoubleQuote = holdsDoubleQuote || from[i] == '"';
        }
    } else {
        std::memcpy(to, from, count);
        holdsDoubleQuote = std::memchr(from, '"', count) != nullptr;
    }
    return to + count;
}

}  // namespace

clXMLNode::clXMLNode() : type(TYPE_NONE) {}
clXMLNode::~clXMLNode() = default;

void clXMLNode::print(std::ostream* out, int width) const {
    clLines text;
    write(text, out, width, true);
}

void clXMLNode::printBlocks(std::ostream* out, int width) const {
    clLines text;
    write(text, out, width, false);
}

clXMLNode::clTextSize clXMLNode::printedSize(int width, bool countNewlines) const {
    clTextSize size;
    clLines counted(&size, countNewlines);
    write(counted, nullptr, width, false);
    return size;
}

void clXMLNode::write(clLines& text, std::ostream* out, int width, bool flushEachLine) const {
    constexpr std::size_t blockSize = 1 << 16;
    if (out && !*out) return;  // a failed stream would drop every line anyway
    // Hands the pending text to out when due; false once out refused any.
    // A measuring text stays empty, so it never reaches out.
    auto emit = [&](bool lineEnded) {
        if (text.size() == 0 || (!flushEachLine && lineEnded && text.size() < blockSize)) return true;
        out->write(text.data(), static_cast<std::streamsize>(text.size()));
        if (flushEachLine) out->flush();
        text.clear();
        return static_cast<bool>(*out);
    };
    // Pre-order walk of this subtree; cur is written by its own rule on the
    // way down and closed on the way up, so the call depth stays constant.
    const clXMLNode* cur = this;
    int curWidth = width;
    for (;;) {
        bool opened = cur->formatOpening(text, curWidth);
        if (!emit(true)) return;
        if (opened && cur->firstChild) {
            cur = static_cast<const clXMLNode*>(cur->firstChild);
            curWidth += 2;
            continue;
        }
        for (;;) {
            if (opened) cur->formatClosing(text, curWidth);
            opened = true;  // every node above cur was opened
            if (cur == this) {
                emit(false);
                return;
            }
            if (!emit(true)) return;
            if (cur->nextSibling) {
                cur = static_cast<const clXMLNode*>(cur->nextSibling);
                break;
            }
            cur = static_cast<const clXMLNode*>(cur->parent);
            curWidth -= 2;
        }
    }
}

clXMLNode::tyAttribute* clXMLNode::searchAttribute(const char* name) {
    return const_cast<tyAttribute*>(static_cast<const clXMLNode*>(this)->searchAttribute(name));
}

const clXMLNode::tyAttribute* clXMLNode::searchAttribute(const char* name) const {
    if (!name) return nullptr;
    const std::size_t length = std::strlen(name);
    for (const tyAttribute& entry : attribute) {
        if (entry.first.size() == length && entry.first.compare(0, length, name, length) == 0) return &entry;
    }
    return nullptr;
}

void clXMLNode::setAttribute(const tyAttribute* source, unsigned int count) {
    // Copying first keeps a source that aliases the list itself intact.
    if (source == attribute.data() && count <= attribute.size()) {
        attribute.resize(count);
        return;
    }
    attribute.resize(count);
    for (unsigned int i = 0; i < count; ++i) {
        attribute[i].first = source[i].first;
        attribute[i].second = source[i].second;
    }
}

void clXMLNode::setAttribute(const tyAttributeList& source) {
    if (&source == &attribute) return;
    setAttribute(source.data(), static_cast<unsigned int>(source.size()));
}

char* clXMLNode::clLines::extend(std::size_t count) {
    if (bytes.size() - used < count) bytes.resize(used + count > 2 * bytes.size() ? used + count : 2 * bytes.size());
    char* room = &bytes[used];
    used += count;
    return room;
}

bool clXMLNode::formatOpening(clLines&, int) const { return true; }
void clXMLNode::formatClosing(clLines&, int) const {}

void clXMLNode::appendLine(clLines& line, int width, std::string_view open, bool withAttributes,
                           std::string_view close) const {
    // Measured first, so the line grows once and is filled by plain copies.
    const std::size_t indent = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t openSize = open.size();
    const std::size_t closeSize = close.size();
    auto written = [](const tyAttribute& entry) { return !entry.first.empty() || !entry.second.empty(); };
    clTextSize* const counted = line.measuring();
    const bool countNewlines = counted && line.countsNewlines();
    std::size_t size = indent + openSize + key.size() + closeSize;
    std::uintmax_t newlines = 0;  // wanted only when measuring
    if (withAttributes) {
        for (const tyAttribute& entry : attribute) {
            if (!written(entry)) continue;
            size += entry.first.size() + entry.second.size() + 4;  // ' ', '=' and two quotes
            if (countNewlines) newlines += newlinesIn(entry.first) + newlinesIn(entry.second);
        }
    }
    if (counted) {
        counted->bytes += size;
        if (countNewlines) counted->newlines += newlines + newlinesIn(open) + newlinesIn(key) + newlinesIn(close);
        return;
    }
    char* out = line.extend(size);
    auto put = [&out](const char* bytes, std::size_t count) { out = copyBytes(out, bytes, count); };
    static const char spaces[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    std::size_t blanks = indent;
    for (; blanks > sizeof spaces; blanks -= sizeof spaces) put(spaces, sizeof spaces);
    put(spaces, blanks);
    put(open.data(), openSize);
    put(key.data(), key.size());
    if (withAttributes) {
        for (const tyAttribute& entry : attribute) {
            if (!written(entry)) continue;
            *out++ = ' ';
            put(entry.first.data(), entry.first.size());
            *out++ = '=';
            char* const opening = out++;
            bool holdsDoubleQuote;
            out = copyValue(out, entry.second.data(), entry.second.size(), holdsDoubleQuote);
            // No escaping: a value that holds a '"' (read from between '\'') goes back between '\''.
            *opening = *out++ = holdsDoubleQuote ? '\'' : '"';
        }
    }
    put(close.data(), closeSize);
}

void clXMLNode::appendPieces(clLines& line, std::initializer_list<std::string_view> pieces) {
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

clXMLNodeTag::clXMLNodeTag() { setType(TYPE_TAG); }
clXMLNodeTag::~clXMLNodeTag() = default;

bool clXMLNodeTag::formatOpening(clLines& line, int width) const {
    // Nothing, or one node of character data with nothing under it: text
    // whose every byte is content, so the layout adds none around it.
    const auto* only = static_cast<const clXMLNode*>(firstChild);
    if (only && (only != lastChild || only->type != TYPE_ELEMENT || only->firstChild)) {
        appendLine(line, width, "<", true, ">\n");
        return true;
    }
    appendLine(line, width, "<", true, ">");
    appendPieces(line, {only ? std::string_view(only->key) : std::string_view(), "</", key, ">\n"});
    return false;
}

void clXMLNodeTag::formatClosing(clLines& line, int width) const {
    appendLine(line, width, "</", false, ">\n");
}

clXMLNodeEmptyTag::clXMLNodeEmptyTag() { setType(TYPE_EMPTY_TAG); }
clXMLNodeEmptyTag::~clXMLNodeEmptyTag() = default;

bool clXMLNodeEmptyTag::formatOpening(clLines& line, int width) const {
    appendLine(line, width, "<", true, "/>\n");
    return true;
}

clXMLNodeElement::clXMLNodeElement() { setType(TYPE_ELEMENT); }
clXMLNodeElement::~clXMLNodeElement() = default;

bool clXMLNodeElement::formatOpening(clLines& line, int) const {
    appendLine(line, 0, "", false, "\n");  // flush left at every depth
    return true;
}

clXMLNodeDeclaration::clXMLNodeDeclaration() { setType(TYPE_DECLARATION); }
clXMLNodeDeclaration::~clXMLNodeDeclaration() = default;

bool clXMLNodeDeclaration::formatOpening(clLines& line, int width) const {
    appendLine(line, width, "<?", true, "?>\n");
    return true;
}

clXMLNodeComment::clXMLNodeComment() { setType(TYPE_COMMENT); }
clXMLNodeComment::~clXMLNodeComment() = default;

bool clXMLNodeComment::formatOpening(clLines& line, int width) const {
    appendLine(line, width, "<!--", false, "-->\n");
    return true;
}

}  // namespace utility
}  // namespace qor
