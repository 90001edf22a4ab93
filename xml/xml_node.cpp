#include "xml/xml_node.h"

#include <cstring>

#include "xml/writer.h"

namespace qor {
namespace utility {

clXMLNode::clXMLNode() : type(TYPE_NONE) {}
clXMLNode::~clXMLNode() = default;

void clXMLNode::print(std::ostream* out, int width) const {
    writer::clLines text;
    writer::write(*this, text, out, width, true);
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

clXMLNodeTag::clXMLNodeTag() { setType(TYPE_TAG); }
clXMLNodeTag::~clXMLNodeTag() = default;

clXMLNodeEmptyTag::clXMLNodeEmptyTag() { setType(TYPE_EMPTY_TAG); }
clXMLNodeEmptyTag::~clXMLNodeEmptyTag() = default;

clXMLNodeElement::clXMLNodeElement() { setType(TYPE_ELEMENT); }
clXMLNodeElement::~clXMLNodeElement() = default;

clXMLNodeDeclaration::clXMLNodeDeclaration() { setType(TYPE_DECLARATION); }
clXMLNodeDeclaration::~clXMLNodeDeclaration() = default;

clXMLNodeComment::clXMLNodeComment() { setType(TYPE_COMMENT); }
clXMLNodeComment::~clXMLNodeComment() = default;

}  // namespace utility
}  // namespace qor
