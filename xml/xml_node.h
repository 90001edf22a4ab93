// XML nodes: a tree node keyed by its tag name (or, for character data and
// comments, by its text) with a kind and an ordered attribute list.
#ifndef QOR_UTILITY_XML_NODE_H
#define QOR_UTILITY_XML_NODE_H

#include <cstddef>
#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "../common/multi_tree.h"
#include "export.h"

namespace qor {
namespace utility {

/// The children of a node, first to last, for a range-for; Node is
/// clXMLNode or const clXMLNode. It reads the links as it goes, so a child
/// may be changed on the way but not removed.
template <class Node>
class clXMLChildRange {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Node;
        using difference_type = std::ptrdiff_t;
        using pointer = Node*;
        using reference = Node&;

        explicit iterator(Node* node = nullptr) : at(node) {}
        Node& operator*() const { return *at; }
        Node* operator->() const { return at; }
        // Every node linked under a document's node is a clXMLNode.
        iterator& operator++() {
            at = static_cast<Node*>(at->getNextSibling());
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const iterator& other) const { return at == other.at; }
        bool operator!=(const iterator& other) const { return at != other.at; }

    private:
        Node* at;
    };

    explicit clXMLChildRange(Node* first) : firstNode(first) {}
    iterator begin() const { return iterator(firstNode); }
    iterator end() const { return iterator(); }
    bool empty() const { return firstNode == nullptr; }

private:
    Node* firstNode;
};

/// A node of a document. Its kind is its type: each kind's class below
/// sets it in its constructor, and the writer and findTag go by getType
/// alone, so a node given another type with setType is taken for that kind.
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
    /// on lines of its own, flush left. A tag writes each attribute as
    /// name="value", between '\'' instead when the value holds a '"' but no
    /// '\'', and between '"' with each '"' as &quot; when it holds both. An
    /// instruction's data is written as it is held: a name with an empty
    /// value bare, any other value quoted as in a tag but never escaped.
    /// An attribute with neither name nor value is left out.
    virtual void print(std::ostream* out, int width) const;

    /// First attribute named name, or null (also for a null name).
    tyAttribute* searchAttribute(const char* name);
    const tyAttribute* searchAttribute(const char* name) const;

    /// Tag name and text are one string: both pairs read and write key.
    void setTag(const std::string& tag) { key = tag; }
    void setElement(const std::string& text) { key = text; }
    const std::string& getTag() const { return key; }
    const std::string& getElement() const { return key; }

    /// The children, in order, as nodes: `for (clXMLNode& child : node.getChildren())`.
    clXMLChildRange<clXMLNode> getChildren() {
        return clXMLChildRange<clXMLNode>(static_cast<clXMLNode*>(firstChild));
    }
    clXMLChildRange<const clXMLNode> getChildren() const {
        return clXMLChildRange<const clXMLNode>(static_cast<const clXMLNode*>(firstChild));
    }

    enType getType() const { return type; }
    void setType(enType t) { type = t; }

    const tyAttributeList& getAttribute() const { return attribute; }
    /// Makes the list an exact copy of the count pairs at source, reusing
    /// the entries (and storage) already there.
    void setAttribute(const tyAttribute* source, unsigned int count);
    void setAttribute(const tyAttributeList& source);

    enType type;
    tyAttributeList attribute;
};

/// An element with content: `<name ...>`, its children, `</name>`; on one
/// line when it holds nothing or only one node of character data.
class QOR_API clXMLNodeTag : public clXMLNode {
public:
    clXMLNodeTag();
    ~clXMLNodeTag() override;
};

/// An element without content: `<name .../>`.
class QOR_API clXMLNodeEmptyTag : public clXMLNode {
public:
    clXMLNodeEmptyTag();
    ~clXMLNodeEmptyTag() override;
};

/// Character data; its key is the text.
class QOR_API clXMLNodeElement : public clXMLNode {
public:
    clXMLNodeElement();
    ~clXMLNodeElement() override;
};

/// A processing instruction, `<?name ...?>`, such as the XML declaration;
/// its key is the name.
class QOR_API clXMLNodeDeclaration : public clXMLNode {
public:
    clXMLNodeDeclaration();
    ~clXMLNodeDeclaration() override;
};

/// `<!-- ... -->`; its key is the text between the markers.
class QOR_API clXMLNodeComment : public clXMLNode {
public:
    clXMLNodeComment();
    ~clXMLNodeComment() override;
};

}  // namespace utility
}  // namespace qor

#endif
