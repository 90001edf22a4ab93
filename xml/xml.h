// An XML document: an owning tree of nodes read from a file by a lenient
// one-pass parser, searched by name and written back as indented text.
#ifndef QOR_UTILITY_XML_H
#define QOR_UTILITY_XML_H

#include <cstddef>
#include <ostream>
#include <string>

#include "export.h"
#include "xml_node.h"

namespace qor {
namespace utility {

/// A document: root and the nodes under it, which it owns.
class QOR_API clXML {
public:
    clXML() = default;
    explicit clXML(const std::string& path) { load(path); }
    ~clXML() = default;

    clXML(const clXML&) = delete;
    clXML& operator=(const clXML&) = delete;

    /// Takes other's tree and load result; other is left empty, as a new
    /// document. Pointers into the tree stay valid, now into this document.
    clXML(clXML&& other) noexcept;
    /// Empties this document first, then takes other's as construction does.
    clXML& operator=(clXML&& other) noexcept;

    /// True when loading left at least one node under root.
    bool isLoad() const { return root.getFirstChild() != nullptr; }

    /// How the last load, loadText or file construction ended.
    enum enLoadResult {
        LOAD_OK,            ///< read whole, and at least one node made
        LOAD_CANNOT_OPEN,   ///< missing, no permission, or not an open descriptor
        LOAD_NOT_READABLE,  ///< not a regular file, nor a stream the load reads: a directory, a device
        LOAD_READ_FAILED,   ///< a read that failed or ended before the file's size
        LOAD_TOO_LARGE,     ///< past what a string can hold, or out of memory
        LOAD_NO_MARKUP      ///< read whole, but no node made; also a document never loaded
    };
    /// The result of the last load; every result but LOAD_OK leaves the
    /// document empty.
    enLoadResult getLoadResult() const { return loadResult; }

    /// Replaces the whole tree by the parse of the file at path. Anything
    /// but a regular file read whole leaves the document empty.
    void load(const std::string& path);

    /// Replaces the whole tree by the parse of exactly the bytes of text, a
    /// trailing NUL too, as load parses a file's, and sets the same results.
    void loadText(const std::string& text);

    /// How a load takes a regular file's bytes.
    enum enLoad {
        LOAD_READ,  ///< read into memory: a file cut short meanwhile cannot hurt the caller
        /// mapped where the host can (POSIX), not copied. A file that another
        /// program cuts short meanwhile raises SIGBUS in the caller, which
        /// must handle that signal.
        LOAD_MAP
    };

    /// The same for the file open at descriptor (POSIX, or the C runtime's
    /// on Windows), read from its start; the descriptor stays the caller's.
    /// For a file opened once and checked by the caller. A regular file is
    /// taken whole, as large as it is when the load starts, as how says; a
    /// pipe, a socket or a terminal is read to its end. A read that fails or
    /// ends early leaves the document empty.
    void load(int descriptor, enLoad how);
    /// load(descriptor, LOAD_READ).
    void load(int descriptor);

    /// Parses text from start in one forward pass, appending the top-level
    /// nodes after the children node (root when null) already has; nothing
    /// is cleared first. node owns the new nodes, as with addChild. Any bytes
    /// are accepted. Character data becomes a node less its leading spaces,
    /// LF and CR bytes; a comment ("<!--" to the first "-->") a comment
    /// node; every other markup item is read as parseTag reads it, an
    /// opening tag holding what follows it up to a closing tag. A trailing
    /// NUL, as a loader that terminates its text leaves, is not content.
    void parse(clXMLNode* node, const std::string& text, std::size_t start);

    /// Reads the markup item whose '<' is at start and stores the position
    /// just past it in *next. Returns the new unlinked node, or null for a
    /// closing tag ("</"). A declaration ("<?") ends just past its first
    /// "?>"; any other item, and a declaration without "?>", just past its
    /// first '>' outside quoted values ('"' or '\'' opens one, the next
    /// quote of its kind closes it); should a value still be open at a '<'
    /// or at the end of the text, just past its first '>'; with neither, at
    /// the end of the text. "<?" gives a declaration, a '/' just before
    /// the '>' a self-closing tag, anything else an opening tag. The name runs from
    /// after "<" or "<?" to the first white space (space, tab, LF, CR), to
    /// the '/' or '?' just before the '>', or to the '>'; the attributes,
    /// as parseAttributes reads them, stand between the name and the '>',
    /// less the kind's own '/' or '?'. A tag that runs to the end of the
    /// text has no attributes, and its last byte tells its kind. A CDATA
    /// section (up to its first "]]>"), a document type (up to its '>' as
    /// XML reads it: not one inside a literal, or inside a comment or an
    /// instruction of its internal subset) and any other "<!" item (up to
    /// its first '>', or, when a '[' comes before that, to the first ']'
    /// that white space and a '>' follow) become character data holding
    /// the item byte for byte. Comments are read by parse, not here.
    clXMLNode* parseTag(std::size_t* next, const std::string& text, std::size_t start);

    /// Reads at most count attributes, in order, from the attribute text
    /// [begin, end) into pairs; pairs past the last attribute read are left
    /// as they were. Each is white space, a name up to white space or '=',
    /// and, when '=' follows (white space around it allowed), a value: one
    /// in '"' or '\'' runs to the next quote of its kind (to end without
    /// one) and loses its quotes; any other runs to white space. A name
    /// without '=' has an empty value. Nothing is unescaped.
    void parseAttributes(clXMLNode::tyAttribute* pairs, std::size_t count, const char* begin,
                         const char* end);

    /// Reads the first attribute of [begin, end), as parseAttributes does,
    /// into name and value; both are emptied when it holds only white space.
    void parseAttribute(std::string* name, std::string* value, const char* begin, const char* end);

    /// First node, in depth-first document order from root (a node before
    /// its children), whose key equals name: the name of a tag or a
    /// declaration, or the whole text of character data or a comment. root
    /// itself, keyed empty, matches the empty name. Null when none does.
    clXMLNode* find(const std::string& name);
    const clXMLNode* find(const std::string& name) const;

    /// First opening or self-closing tag named name, in the same order as
    /// find; null when there is none. Text, comments and instructions are
    /// passed over, whatever their key.
    clXMLNode* findTag(const std::string& name);
    const clXMLNode* findTag(const std::string& name) const;

    /// Text of the character data that is the first child of the node
    /// named name, or a shared empty string.
    const std::string& getElement(const std::string& name) const;

    /// Writes the document to standard output as XML, flushing at every
    /// line end: root's print, but a leading byte-order mark is written
    /// bare (on a line of its own only when no XML declaration follows it)
    /// and an XML declaration that opens the document starts its line, as
    /// XML requires.
    void print() const;
    /// The same, to out.
    void print(std::ostream* out) const;
    /// Writes the same bytes as print to out in large blocks, without
    /// flushing.
    void exportStream(std::ostream* out) const;
    /// Writes the document as print does into the file at path (host text
    /// mode), emptying or creating it. True only when the file was opened,
    /// every byte written and the file closed; false leaves a missing,
    /// empty or cut-short file.
    bool exportFile(const std::string& path);

    clXMLNode root;

private:
    enLoadResult loadResult = LOAD_NO_MARKUP;
};

}  // namespace utility
}  // namespace qor

#endif
