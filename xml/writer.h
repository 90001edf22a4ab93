// The writer behind print and export: each kind's rule, chosen by the
// node's type, and one walk that hands the text to a stream in blocks or
// line by line. Private to the library and the tool built with it: not
// installed, so the writer's inside may change without touching the ABI.
#ifndef QOR_UTILITY_WRITER_H
#define QOR_UTILITY_WRITER_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

#include "xml/xml.h"

namespace qor {
namespace utility {
namespace writer {

/// What the writer writes for a subtree: bytes in all, and how many of
/// them are '\n' (a host that ends lines in CR LF writes one more byte for
/// each).
struct clTextSize {
    std::uintmax_t bytes = 0;
    std::uintmax_t newlines = 0;
};

/// Text being written: grows by whole lines, and only on growth are bytes
/// set that a line then overwrites. A measuring text stores nothing and
/// only counts what its lines would hold.
class clLines {
public:
    clLines() = default;
    clLines(clTextSize* counted, bool newlines) : measured(counted), countNewlines(newlines) {}
    clTextSize* measuring() const { return measured; }
    bool countsNewlines() const { return countNewlines; }
    /// Room for count more bytes, to be filled by the caller.
    char* extend(std::size_t count);
    /// Room for count more bytes after cursor, a place in the room handed
    /// out last: returns where cursor now lies, the text having moved.
    char* extendAfter(char* cursor, std::size_t count);
    const char* data() const { return bytes.data(); }
    std::size_t size() const { return used; }
    void clear() { used = 0; }

private:
    std::string bytes;
    std::size_t used = 0;
    clTextSize* measured = nullptr;
    bool countNewlines = false;
};

/// How a line writes the node's attributes: not at all; as a tag's, each
/// value made XML; or as an instruction's data, whose bytes stay.
enum enAttributes { ATTRIBUTES_NONE, ATTRIBUTES_TAG, ATTRIBUTES_INSTRUCTION };

/// The one line every rule writes: width spaces, open, the key, the
/// attributes as how says, close; a measuring line is only counted. An
/// attribute with neither name nor value is left out. In a tag each is
/// written ` name="value"`; between '\'' when the value holds a '"' but no
/// '\''; between '"', each '"' as "&quot;", when it holds both. In an
/// instruction one with an empty value is its bare name, any other is
/// written as in a tag but never escaped.
void appendLine(const clXMLNode& node, clLines& line, int width, std::string_view open, enAttributes how,
                std::string_view close);

/// Appends the pieces as they stand (a measuring line counts them).
void appendPieces(clLines& line, std::initializer_list<std::string_view> pieces);

/// The rule of node's kind, by its type: what it writes before its
/// children, appended to line (at most one line, ending in '\n'). False
/// when that line holds the children too: the walk then writes neither
/// them nor the closing line. A type outside enType writes as TYPE_NONE.
bool formatOpening(const clXMLNode& node, clLines& line, int width);
/// What the kind writes after its children.
void formatClosing(const clXMLNode& node, clLines& line, int width);

/// The kinds' rules as the walk calls them.
struct clKindRules {
    bool opening(const clXMLNode& node, clLines& line, int width) const { return formatOpening(node, line, width); }
    void closing(const clXMLNode& node, clLines& line, int width) const { formatClosing(node, line, width); }
};

/// Hands the text gathered so far to out when due: at once when flushing
/// every line, else in blocks of 64 KiB at least, and the rest when the
/// walk ends (lineEnded false). False once out refused any byte. A
/// measuring text stays empty, so it never reaches out.
inline bool emit(clLines& text, std::ostream* out, bool flushEachLine, bool lineEnded) {
    constexpr std::size_t blockSize = 1 << 16;
    if (text.size() == 0 || (!flushEachLine && lineEnded && text.size() < blockSize)) return true;
    out->write(text.data(), static_cast<std::streamsize>(text.size()));
    if (flushEachLine) out->flush();
    text.clear();
    return static_cast<bool>(*out);
}

/// The one walk behind print, printBlocks and printedSize: a pre-order
/// walk of top's subtree, each node written by rules on the way down and
/// closed on the way up, so the call depth stays constant. The text goes
/// to out (when given) as emit hands it; the walk ends at the first block
/// out refuses, and does nothing for a stream already failed.
template <class Rules = clKindRules>
void write(const clXMLNode& top, clLines& text, std::ostream* out, int width, bool flushEachLine,
           const Rules& rules = Rules()) {
    if (out && !*out) return;
    auto next = [](const common::clMultiTree<std::string>* node) { return static_cast<const clXMLNode*>(node); };
    const clXMLNode* cur = &top;
    int curWidth = width;
    for (;;) {
        bool opened = rules.opening(*cur, text, curWidth);
        if (!emit(text, out, flushEachLine, true)) return;
        if (opened && cur->firstChild) {
            cur = next(cur->firstChild);
            curWidth += 2;
            continue;
        }
        for (;;) {
            if (opened) rules.closing(*cur, text, curWidth);
            opened = true;  // every node above cur was opened
            if (cur == &top) {
                emit(text, out, flushEachLine, false);
                return;
            }
            if (!emit(text, out, flushEachLine, true)) return;
            if (cur->nextSibling) {
                cur = next(cur->nextSibling);
                break;
            }
            cur = next(cur->parent);
            curWidth -= 2;
        }
    }
}

/// Writes the same bytes as node's print, handed to out in large blocks
/// and never flushed: for files, where every flush is a system call.
void printBlocks(const clXMLNode& node, std::ostream* out, int width);

/// What print and printBlocks write for node's subtree at width, found by
/// one walk that writes nothing. Counting the '\n' bytes costs as much
/// again as the rest of the walk, so without countNewlines they are left
/// at 0.
clTextSize printedSize(const clXMLNode& node, int width, bool countNewlines = true);

/// Writes root's children as a document, as XML allows it: a leading
/// byte-order mark bare (on a line of its own only when no XML declaration
/// follows it) and an XML declaration that opens the document at the start
/// of its line; the rest as root's print lays it out. Flushed at every line
/// end, or handed over in blocks.
void writeDocument(const clXMLNode& root, std::ostream* out, bool flushEachLine);

/// What writeDocument writes for document, without writing: room to
/// reserve before exporting. Without countNewlines the count of '\n' is
/// left at 0, for half the cost.
clTextSize exportSize(const clXML& document, bool countNewlines = true);

}  // namespace writer
}  // namespace utility
}  // namespace qor

#endif
