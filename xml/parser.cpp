#include "xml/parser.h"

#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

#include "common/platform.h"

namespace qor {
namespace utility {

namespace {

// White space inside markup: between a name and its attributes, around '='.
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// What character data loses at its front. A tab is kept: it may be content.
bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\r'; }

// How a tag's walk sees a byte outside quoted values. The kinds that a tag
// name or an unquoted value runs over sort first.
enum enTagByte : unsigned char { BYTE_PLAIN, BYTE_EQUALS, BYTE_SPACE, BYTE_QUOTE, BYTE_TAG_END };

struct clTagBytes {
    unsigned char kind[256] = {};
    clTagBytes() {
        for (unsigned char c : {' ', '\t', '\n', '\r'}) kind[c] = BYTE_SPACE;
        kind[static_cast<unsigned char>('=')] = BYTE_EQUALS;
        kind[static_cast<unsigned char>('"')] = BYTE_QUOTE;
        kind[static_cast<unsigned char>('\'')] = BYTE_QUOTE;
        kind[static_cast<unsigned char>('>')] = BYTE_TAG_END;
    }
    unsigned char operator()(char c) const { return kind[static_cast<unsigned char>(c)]; }
};
const clTagBytes tagByte;

// The bytes a quoted value's walk stops at: either quote, a '<', a '>'.
struct clValueBytes {
    bool stop[256] = {};
    clValueBytes() {
        for (unsigned char c : {'"', '\'', '<', '>'}) stop[c] = true;
    }
    bool operator()(char c) const { return stop[static_cast<unsigned char>(c)]; }
};
const clValueBytes valueStop;

// Where the first marker of two or three bytes (such as "-->") at or after
// from begins, or length when none does.
template <std::size_t N>
std::size_t findMarker(const char* data, std::size_t length, std::size_t from, const char (&marker)[N]) {
    constexpr std::size_t size = N - 1;
    static_assert(size == 2 || size == 3, "a marker of two or three bytes");
    while (from + size <= length) {
        const void* first = std::memchr(data + from, marker[0], length - from - (size - 1));
        if (!first) break;
        from = static_cast<std::size_t>(static_cast<const char*>(first) - data);
        if (data[from + 1] == marker[1] && (size == 2 || data[from + size - 1] == marker[size - 1])) return from;
        ++from;
    }
    return length;
}

// The first '>' at or after from, or length.
std::size_t findTagEnd(const char* data, std::size_t length, std::size_t from) {
    const void* found = from < length ? std::memchr(data + from, '>', length - from) : nullptr;
    return found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : length;
}

// The '>' of the first "]" that white space and a '>' follow, at or after
// from: the end of a document type's internal subset. length when none.
std::size_t findSubsetEnd(const char* data, std::size_t length, std::size_t from) {
    while (from < length) {
        const void* bracket = std::memchr(data + from, ']', length - from);
        if (!bracket) break;
        from = static_cast<std::size_t>(static_cast<const char*>(bracket) - data) + 1;
        while (from < length && isSpace(data[from])) ++from;
        if (from < length && data[from] == '>') return from;
    }
    return length;
}

// One attribute: its name and its value, each a range of the text.
struct clAttributeSpans {
    const char* nameBegin;
    const char* nameEnd;
    const char* valueBegin;
    const char* valueEnd;
};

// Reads the attribute at the front of the attribute text [at, end) and
// moves at past it: white space, a name up to white space or '=', and,
// when '=' follows (white space around it allowed), a value. A quoted
// value ('"' or '\'') runs to the next quote of its kind, or to end; any
// other value runs to white space. False when only white space is left.
bool readAttribute(const char*& at, const char* end, clAttributeSpans& spans) {
    const char* p = at;
    while (p < end && isSpace(*p)) ++p;
    if (p == end) {
        at = p;
        return false;
    }
    spans.nameBegin = p;
    while (p < end && !isSpace(*p) && *p != '=') ++p;
    spans.nameEnd = p;
    while (p < end && isSpace(*p)) ++p;
    if (p == end || *p != '=') {
        spans.valueBegin = spans.valueEnd = spans.nameEnd;
        at = p;
        return true;
    }
    ++p;
    while (p < end && isSpace(*p)) ++p;
    if (p < end && (*p == '"' || *p == '\'')) {
        const char quote = *p++;
        const void* close = std::memchr(p, quote, static_cast<std::size_t>(end - p));
        spans.valueBegin = p;
        spans.valueEnd = close ? static_cast<const char*>(close) : end;
        at = close ? spans.valueEnd + 1 : end;
        return true;
    }
    spans.valueBegin = p;
    while (p < end && !isSpace(*p)) ++p;
    spans.valueEnd = p;
    at = p;
    return true;
}

// A tag as one walk reads it when it is plain: closed by a '>' outside
// quoted values, its quotes only around values, no quoted value meeting a
// '<', and at most as many attributes as are kept here.
struct clPlainTag {
    static constexpr std::size_t kept = 16;
    std::size_t nameEnd;
    std::size_t close;  // its '>'
    std::size_t count;
    clAttributeSpans attributes[kept];
};

// Reads a tag from its name on in one walk, cutting its attributes as it
// goes (the '/' or '?' before the '>' still on the last one). False when
// the tag is not plain; the general reading then takes it from the start.
// data[lastTagEnd] is a '>' at or after nameBegin: every step of the walk
// stops at a '>', so none needs to watch for the end of the text.
bool walkPlainTag(const char* data, std::size_t lastTagEnd, std::size_t nameBegin, clPlainTag& tag) {
    std::size_t i = nameBegin;
    while (tagByte(data[i]) <= BYTE_EQUALS) ++i;
    tag.nameEnd = i;
    tag.count = 0;
    for (;;) {
        while (tagByte(data[i]) == BYTE_SPACE) ++i;
        const unsigned char byte = tagByte(data[i]);
        if (byte == BYTE_TAG_END) {
            tag.close = i;
            return true;
        }
        // A quote that opens no value: the rules for the item's end and for
        // its attributes read it differently, so the general reading decides.
        if (byte == BYTE_QUOTE || tag.count == clPlainTag::kept) return false;
        clAttributeSpans& attribute = tag.attributes[tag.count++];
        attribute.nameBegin = data + i;
        while (tagByte(data[i]) == BYTE_PLAIN) ++i;
        attribute.nameEnd = data + i;
        if (data[i] != '=') {
            while (tagByte(data[i]) == BYTE_SPACE) ++i;
            if (data[i] != '=') {
                attribute.valueBegin = attribute.valueEnd = attribute.nameEnd;
                continue;
            }
        }
        ++i;
        while (tagByte(data[i]) == BYTE_SPACE) ++i;
        const char quote = data[i];
        if (quote == '"' || quote == '\'') {
            attribute.valueBegin = data + ++i;
            for (;; ++i) {
                while (!valueStop(data[i])) ++i;
                if (data[i] == quote) break;
                if (data[i] == '<' || i == lastTagEnd) return false;
            }
            attribute.valueEnd = data + i++;
        } else {
            attribute.valueBegin = data + i;
            while (tagByte(data[i]) <= BYTE_EQUALS) ++i;
            attribute.valueEnd = data + i;
        }
    }
}

// Appends count attributes, read into spans, to list.
void appendAttributes(clXMLNode::tyAttributeList& list, const clAttributeSpans* spans, std::size_t count) {
    list.reserve(list.size() + count);
    for (const clAttributeSpans* end = spans + count; spans < end; ++spans) {
        list.emplace_back(std::piecewise_construct, std::forward_as_tuple(spans->nameBegin, spans->nameEnd),
                          std::forward_as_tuple(spans->valueBegin, spans->valueEnd));
    }
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


// What one pass has learnt about the text ahead: where a search already
// failed, so that no later item searches the same bytes again and the
// pass stays linear.
struct clScan {
    // Neither "-->" nor "]]>" nor "?>" nor a subset's end lies ahead once
    // a search for it failed.
    bool commentEndMissing = false;
    bool sectionEndMissing = false;
    bool instructionEndMissing = false;
    bool subsetEndMissing = false;
    // Once a document type has no end as XML reads it, later ones are not
    // read so either.
    bool documentTypeEndMissing = false;
    // A tag whose walk met a '<' inside a quoted value, or the end of the
    // text inside one, ends at its first '>'. Every tag that begins before
    // where that walk stopped walks the same from its '<' on, so it ends
    // at its own first '>' without walking again.
    std::size_t firstTagEndBefore = 0;
    // Just past the text's last '>', 0 when it has none.
    std::size_t tagEndsBefore = 0;

    clScan(const char* data, std::size_t length, std::size_t start) {
        for (std::size_t i = length; i > start && tagEndsBefore == 0; --i) {
            if (data[i - 1] == '>') tagEndsBefore = i;
        }
    }

    // Whether a '>' lies at or after i, which ends any walk that stops at one.
    bool tagEndAhead(std::size_t i) const { return i < tagEndsBefore; }

    // The '>' that closes the tag whose '<' is at start: the first '>'
    // outside quoted values, where a '"' or '\'' opens a value and the next
    // quote of its kind closes it. When a value is still open at a '<' or
    // at the end of the text, the first '>' after start. length when the
    // tag has none.
    std::size_t tagClose(const char* data, std::size_t length, std::size_t start) {
        if (start < firstTagEndBefore) return findTagEnd(data, length, start);
        std::size_t firstTagEnd = length;
        char quote = 0;
        for (std::size_t i = start + 1; i < length; ++i) {
            const char c = data[i];
            if (!quote) {
                if (c == '>') return i;
                if (c == '"' || c == '\'') quote = c;
            } else if (c == quote) {
                quote = 0;
            } else if (c == '>') {
                if (firstTagEnd == length) firstTagEnd = i;
            } else if (c == '<') {
                firstTagEndBefore = i;
                return firstTagEnd < length ? firstTagEnd : findTagEnd(data, length, i);
            }
        }
        if (quote) firstTagEndBefore = length;
        return quote ? firstTagEnd : length;
    }

    // The '>' of the first "?>" after the "<?" at start, which ends a
    // processing instruction whatever quotes or '>' its data holds; length
    // when there is none.
    std::size_t instructionClose(const char* data, std::size_t length, std::size_t start) {
        // From the '?' of "<?" on, so that "<?>" still ends at its own '>'.
        const std::size_t end = instructionEndMissing ? length : findMarker(data, length, start + 1, "?>");
        instructionEndMissing = end == length;
        return end < length ? end + 1 : length;
    }

    // The '>' that ends the document type declaration whose "<!DOCTYPE"
    // is at start, as XML reads it: a '"' or '\'' literal is passed over
    // whole, and so, in the internal subset ("[" to "]"), are comments and
    // processing instructions; so a '>', '[' or ']' in them ends nothing.
    // length when the walk finds no end.
    std::size_t documentTypeClose(const char* data, std::size_t length, std::size_t start) {
        bool inSubset = false;
        for (std::size_t i = start + 9; i < length; ++i) {
            const char c = data[i];
            if (c == '"' || c == '\'') {
                const void* quote = std::memchr(data + i + 1, c, length - i - 1);
                if (!quote) break;
                i = static_cast<std::size_t>(static_cast<const char*>(quote) - data);
            } else if (!inSubset) {
                if (c == '>') return i;
                inSubset = c == '[';
            } else if (c == ']') {
                std::size_t after = i + 1;
                while (after < length && isSpace(data[after])) ++after;
                if (after < length && data[after] == '>') return after;
            } else if (c == '<' && length - i >= 4 && data[i + 1] == '!' && data[i + 2] == '-' && data[i + 3] == '-') {
                i = findMarker(data, length, i + 4, "-->");
                if (i == length) break;
                i += 2;
            } else if (c == '<' && i + 1 < length && data[i + 1] == '?') {
                i = findMarker(data, length, i + 2, "?>");
                if (i == length) break;
                ++i;
            }
        }
        return length;
    }

    // Just past the "<!" item at start that is no comment: a CDATA section
    // up to its first "]]>"; a document type where XML ends it (see
    // documentTypeClose); else, and where those find no end, up to the
    // first '>', or, when a '[' comes before that, up to the first ']'
    // that white space and a '>' follow. length when the item has no end.
    std::size_t bangItemEnd(const char* data, std::size_t length, std::size_t start) {
        static const char sectionOpen[] = "<![CDATA[";
        static const char typeOpen[] = "<!DOCTYPE";
        const std::size_t sectionOpenSize = sizeof sectionOpen - 1;
        const std::size_t typeOpenSize = sizeof typeOpen - 1;
        if (!sectionEndMissing && length - start >= sectionOpenSize &&
            std::memcmp(data + start, sectionOpen, sectionOpenSize) == 0) {
            const std::size_t end = findMarker(data, length, start + sectionOpenSize, "]]>");
            if (end < length) return end + 3;
            sectionEndMissing = true;  // then read as any other "<!" item
        }
        if (!documentTypeEndMissing && length - start >= typeOpenSize &&
            std::memcmp(data + start, typeOpen, typeOpenSize) == 0) {
            const std::size_t close = documentTypeClose(data, length, start);
            if (close < length) return close + 1;
            // Malformed: read as any other "<!" item, and every later one
            // too, so that no walk to the end of the text is made twice.
            documentTypeEndMissing = true;
        }
        const std::size_t close = findTagEnd(data, length, start + 2);
        const void* subset = std::memchr(data + start + 2, '[', close - start - 2);
        if (subset && !subsetEndMissing) {
            const std::size_t from = static_cast<std::size_t>(static_cast<const char*>(subset) - data) + 1;
            const std::size_t end = findSubsetEnd(data, length, from);
            if (end < length) return end + 1;
            subsetEndMissing = true;
        }
        return close < length ? close + 1 : length;
    }
};

// A CDATA section, a document type or any other "<!" item but a comment,
// at start: kept whole, as character data.
clXMLNode* readBangItem(const char* data, std::size_t length, std::size_t start, std::size_t* next, clScan& scan) {
    *next = scan.bangItemEnd(data, length, start);
    clXMLNode* item = new clXMLNodeElement;
    item->key.assign(data + start, *next - start);
    return item;
}

// The node a tag makes, told by the byte after its '<' and the byte
// before its '>': a declaration for "<?", a self-closing tag for a '/'
// there, else an opening tag.
clXMLNode* newTagNode(char kind, char last) {
    if (kind == '?') return new clXMLNodeDeclaration;
    if (last == '/') return new clXMLNodeEmptyTag;
    return new clXMLNodeTag;
}

// Appends the attributes the plain walk cut. When the attributes end
// before the '>' at cut, the kind's '/' or '?' that the walk read into
// the last of them comes off it.
void appendWalkedAttributes(clXMLNode::tyAttributeList& list, clPlainTag& plain, const char* cut, bool cutShort) {
    std::size_t count = plain.count;
    if (cutShort) {
        clAttributeSpans& lastRead = plain.attributes[count - 1];
        if (lastRead.nameBegin >= cut) {
            --count;
        } else {
            for (const char** at : {&lastRead.nameEnd, &lastRead.valueBegin, &lastRead.valueEnd}) {
                if (*at > cut) *at = cut;
            }
        }
    }
    appendAttributes(list, plain.attributes, count);
}

// Appends the attributes of the attribute text [at, end), read one by one.
void appendReadAttributes(clXMLNode::tyAttributeList& list, const char* at, const char* end) {
    clAttributeSpans spans;
    while (readAttribute(at, end, spans)) {
        list.emplace_back(std::piecewise_construct, std::forward_as_tuple(spans.nameBegin, spans.nameEnd),
                          std::forward_as_tuple(spans.valueBegin, spans.valueEnd));
    }
}

// Where the name of the tag whose '>' (or the text's end) is at close ends:
// at the first white space, or as the plain walk found; a '/' or '?' (last)
// just before close ends it too.
std::size_t tagNameEnd(const char* data, std::size_t nameBegin, std::size_t close, char last, const clPlainTag* plain) {
    std::size_t nameEnd = nameBegin;
    if (plain) {
        nameEnd = plain->nameEnd;
    } else {
        while (nameEnd < close && !isSpace(data[nameEnd])) ++nameEnd;
    }
    if (nameEnd == close && (last == '/' || last == '?') && close > nameBegin) --nameEnd;
    return nameEnd;
}

// Reads the markup item whose '<' is at start within a pass over
// data[0, length); an item left open ends at length.
clXMLNode* parseTagAt(const char* data, std::size_t length, std::size_t start, std::size_t* next, clScan& scan) {
    const char kind = start + 1 < length ? data[start + 1] : '\0';
    if (kind == '!') return readBangItem(data, length, start, next, scan);

    const std::size_t nameBegin = kind == '?' ? start + 2 : start + 1;
    // A processing instruction ends at its "?>"; any other tag at its
    // first '>' outside quoted values.
    std::size_t close = kind == '?' ? scan.instructionClose(data, length, start) : length;
    clPlainTag plain;
    const bool isPlain = close == length && start >= scan.firstTagEndBefore && scan.tagEndAhead(nameBegin) &&
                         walkPlainTag(data, scan.tagEndsBefore - 1, nameBegin, plain);
    if (close == length) close = isPlain ? plain.close : scan.tagClose(data, length, start);
    const bool closed = close < length;
    *next = closed ? close + 1 : length;
    if (kind == '/') return nullptr;

    // The byte before the '>' (for a tag without one, the text's last
    // byte) tells a self-closing tag, and a '/' or '?' there ends the name.
    const char last = close > start + 1 ? data[close - 1] : '\0';
    clXMLNode* node = newTagNode(kind, last);
    const std::size_t nameEnd = tagNameEnd(data, nameBegin, close, last, isPlain ? &plain : nullptr);
    node->key.assign(data + nameBegin, nameEnd - nameBegin);
    if (!closed) return node;  // a tag that runs to the end has no attributes

    // The attributes stand between the name and the '>', less the kind's
    // own '/' or '?' just before it.
    const bool kindByteLast = kind == '?' ? last == '?' : last == '/';
    const std::size_t attributesEnd = !kindByteLast ? close : close - 1 > nameEnd ? close - 1 : nameEnd;
    if (isPlain && plain.count > 0) {
        appendWalkedAttributes(node->attribute, plain, data + attributesEnd, attributesEnd < close);
    } else {
        // Also a name cut short by a '/' or '?' that is not its kind's.
        appendReadAttributes(node->attribute, data + nameEnd, data + attributesEnd);
    }
    return node;
}

// Past the blanks that character data loses at its front, from first on.
// Up to the text's last '>', that '>' ends the skip if nothing else does.
std::size_t skipBlanks(const char* data, std::size_t length, std::size_t first, const clScan& scan) {
    if (scan.tagEndAhead(first)) {
        while (isBlank(data[first])) ++first;
    } else {
        while (first < length && isBlank(data[first])) ++first;
    }
    return first;
}

bool isCommentOpen(const char* data, std::size_t length, std::size_t pos) {
    return length - pos >= 4 && data[pos + 1] == '!' && data[pos + 2] == '-' && data[pos + 3] == '-';
}

// Reads the comment whose "<!--" is at pos into parent, and returns where
// the text after it begins; pos itself when it has no "-->", as no later
// comment then has.
std::size_t readComment(const char* data, std::size_t length, std::size_t pos, clXMLNode* parent, clScan& scan) {
    // Searching from after "<!--" keeps "<!-->" from closing itself.
    const std::size_t end = scan.commentEndMissing ? length : findMarker(data, length, pos + 4, "-->");
    if (end == length) {
        scan.commentEndMissing = true;
        return pos;
    }
    clXMLNode* comment = new clXMLNodeComment;
    comment->key.assign(data + pos + 4, end - pos - 4);
    parent->addChild(comment);
    return end + 3;
}

// Links a markup item under parent, or, for a closing tag (null), closes
// the innermost open tag; open holds the tags not yet closed.
void placeItem(clXMLNode* item, clXMLNode* parent, std::vector<clXMLNode*>& open) {
    if (!item) {
        if (!open.empty()) open.pop_back();  // a stray closing tag changes nothing
        return;
    }
    parent->addChild(item);
    if (item->getType() == clXMLNode::TYPE_TAG) open.push_back(item);
}

}  // namespace

namespace parser {

std::size_t contentSize(const std::string& text) {
    // A trailing NUL, as a loader that terminates its text leaves, is not content.
    return !text.empty() && text.back() == '\0' ? text.size() - 1 : text.size();
}

void parseText(clXMLNode* top, const char* data, std::size_t length, std::size_t start,
               platform::clFileBytes* source) {
    constexpr std::size_t discardStep = std::size_t(4) << 20;
    std::vector<clXMLNode*> open;  // tags not yet closed, innermost last
    open.reserve(100);
    std::size_t pos = start;
    std::size_t textStart = start;  // where the pending character data begins
    clScan scan(data, length, start);
    std::size_t discarded = 0;  // no byte before textStart is read again

    while (pos < length) {
        if (source && textStart - discarded >= discardStep) {
            source->discardBefore(textStart);
            discarded = textStart;
        }
        // Leading blanks are not part of the text; skipping them first also
        // finds the next '<' at once when only blanks come before it.
        const std::size_t first = skipBlanks(data, length, textStart, scan);
        pos = findTagOpen(data, length, first > pos ? first : pos);
        if (pos == length) break;
        clXMLNode* parent = open.empty() ? top : open.back();

        if (first < pos) {
            clXMLNode* element = new clXMLNodeElement;
            element->key.assign(data + first, pos - first);
            parent->addChild(element);
        }

        if (isCommentOpen(data, length, pos)) {
            const std::size_t after = readComment(data, length, pos, parent, scan);
            // An unclosed "<!--" opens the next text.
            textStart = after;
            pos = after == pos ? pos + 1 : after;
            continue;
        }

        placeItem(parseTagAt(data, length, pos, &pos, scan), parent, open);
        textStart = pos;
    }
}

clXMLNode* parseTag(std::size_t* next, const std::string& text, std::size_t start) {
    if (!next || start >= text.size()) return nullptr;
    clScan scan(text.data(), contentSize(text), start);
    clXMLNode* node = parseTagAt(text.data(), contentSize(text), start, next, scan);
    // An item left open runs to the very end, terminator included.
    if (*next <= start || text[*next - 1] != '>') *next = text.size();
    return node;
}

void parseAttributes(clXMLNode::tyAttribute* pairs, std::size_t count, const char* begin, const char* end) {
    if (!pairs) return;
    clAttributeSpans spans;
    for (std::size_t k = 0; k < count && readAttribute(begin, end, spans); ++k) {
        pairs[k].first.assign(spans.nameBegin, spans.nameEnd);
        pairs[k].second.assign(spans.valueBegin, spans.valueEnd);
    }
}

void parseAttribute(std::string* name, std::string* value, const char* begin, const char* end) {
    if (!name || !value) return;
    clAttributeSpans spans;
    if (!readAttribute(begin, end, spans)) {
        name->clear();
        value->clear();
        return;
    }
    name->assign(spans.nameBegin, spans.nameEnd);
    value->assign(spans.valueBegin, spans.valueEnd);
}

}  // namespace parser
}  // namespace utility
}  // namespace qor
