// XML nodes: a tree node keyed by its tag name (or, for character data and
// comments, by its text) with a kind and an ordered attribute list.
#ifndef QOR_UTILITY_XML_NODE_H
#define QOR_UTILITY_XML_NODE_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../common/multi_tree.h"
#include "export.h"

namespace qor {
namespace utility {

/// A node of a document; its kind is its class, also told by getType.
class QOR_API clXMLNode : public common::clMultiTree<std::string> {
public:
    enum enType : int {
        TYPE_NONE = 0,
        TYPE_TAG = 1,
        TYPE_EMPTY_TAG = 2,
        TYPE_ELEMENT = 3,
        TYPE_DECLARATION = 4,
        TYPE_COMMENT = 5
    };
    using tyAttribute = std::pair<std::string, std::string>;
    using tyAttributeList = std::vector<tyAttribute>;

    clXMLNode();
    ~clXMLNode() override;

    /// Writes this node and its subtree to out, this node indented by width
    /// spaces and each level below by two more; every line end flushes out.
    /// Each node is written by its own kind's rule; the walk is iterative.
    /// An element that holds nothing, or only one node of character data,
    /// takes one line, its text byte for byte between its tags: there the
    /// white space is content. Character data beside other nodes is written
    /// on lines of its own, flush left.
    virtual void print(std::ostream* out, int width) const;

    /// Writes the same bytes as print, handed to out in large blocks and
    /// never flushed: for files, where every flush is a system call.
    void printBlocks(std::ostream* out, int width) const;

    /// What print and printBlocks write for this subtree at width: bytes in
    /// all, and how many of them are '\n' (a host that ends lines in CR LF
    /// writes one more byte for each). Found by one walk that writes nothing.
    struct clTextSize {
        std::uintmax_t bytes = 0;
        std::uintmax_t newlines = 0;
    };
    /// Counting the '\n' bytes costs as much again as the rest of the walk,
    /// so without countNewlines they are left at 0.
    clTextSize printedSize(int width, bool countNewlines = true) const;

    /// First attribute named name, or null (also for a null name).
    tyAttribute* searchAttribute(const char* name);
    const tyAttribute* searchAttribute(const char* name) const;

    /// Tag name and text are one string: both pairs read and write key.
    void setTag(const std::string& tag) { key = tag; }
    void setElement(const std::string& text) { key = text; }
    const std::string& getTag() const { return key; }
    const std::string& getElement() const { return key; }

    enType getType() const { return type; }
    void setType(enType t) { type = t; }

    const tyAttributeList& getAttribute() const { return attribute; }
    /// Makes the list an exact copy of the count pairs at source, reusing
    /// the entries (and storage) already there.
    void setAttribute(const tyAttribute* source, unsigned int count);
    void setAttribute(const tyAttributeList& source);

    enType type;
    tyAttributeList attribute;

protected:
    /// Text being written: grows by whole lines, and only on growth are
    /// bytes set that a line then overwrites. A measuring text stores
    /// nothing and only counts what its lines would hold.
    class clLines {
    public:
        clLines() = default;
        clLines(clTextSize* counted, bool newlines) : measured(counted), countNewlines(newlines) {}
        clTextSize* measuring() const { return measured; }
        bool countsNewlines() const { return countNewlines; }
        // Room for count more bytes, to be filled by the caller.
        char* extend(std::size_t count);
        const char* data() const { return bytes.data(); }
        std::size_t size() const { return used; }
        void clear() { used = 0; }

    private:
        std::string bytes;
        std::size_t used = 0;
        clTextSize* measured = nullptr;
        bool countNewlines = false;
    };

    /// A kind's rule: what it writes before its children and after them,
    /// appended to line (at most one line each, ending in '\n'). False
    /// when the opening line holds the children too: the walk then writes
    /// neither them nor the closing line.
    virtual bool formatOpening(clLines& line, int width) const;
    virtual void formatClosing(clLines& line, int width) const;

    /// Appends the pieces as they stand (a measuring line counts them).
    static void appendPieces(clLines& line, std::initializer_list<std::string_view> pieces);

    /// The one walk behind print, printBlocks and printedSize: each node's
    /// rule appends to text, which is handed to out (when given) in blocks.
    /// It ends at the first block out refuses.
    void write(clLines& text, std::ostream* out, int width, bool flushEachLine) const;

    /// The one line every rule writes: width spaces, open, the key, the
    /// attributes when asked, close. Each attribute is written as
    /// ` name="value"`, between '\'' instead when the value holds a '"';
    /// one with neither name nor value is left out. A measuring line is
    /// only counted.
    void appendLine(clLines& line, int width, std::string_view open, bool withAttributes,
                    std::string_view close) const;
};

/// An element with content: `<name ...>`, its children, `</name>`; on one
/// line when it holds nothing or only one node of character data.
class QOR_API clXMLNodeTag : public clXMLNode {
public:
    clXMLNodeTag();
    ~clXMLNodeTag() override;

protected:
    bool formatOpening(clLines& line, int width) const override;
    void formatClosing(clLines& line, int width) const override;
};

/// An element without content: `<name .../>`.
class QOR_API clXMLNodeEmptyTag : public clXMLNode {
public:
    clXMLNodeEmptyTag();
    ~clXMLNodeEmptyTag() override;

protected:
    bool formatOpening(clLines& line, int width) const override;
};

/// Character data; its key is the text.
class QOR_API clXMLNodeElement : public clXMLNode {
public:
    clXMLNodeElement();
    ~clXMLNodeElement() override;

protected:
    bool formatOpening(clLines& line, int width) const override;
};

/// A processing instruction, `<?name ...?>`, such as the XML declaration;
/// its key is the name.
class QOR_API clXMLNodeDeclaration : public clXMLNode {
public:
    clXMLNodeDeclaration();
    ~clXMLNodeDeclaration() override;

protected:
    bool formatOpening(clLines& line, int width) const override;
};

/// `<!-- ... -->`; its key is the text between the markers.
class QOR_API clXMLNodeComment : public clXMLNode {
public:
    clXMLNodeComment();
    ~clXMLNodeComment() override;

protected:
    bool formatOpening(clLines& line, int width) const override;
};

}  // namespace utility
}  // namespace qor

#endif
