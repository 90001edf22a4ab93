#include "xml/xml_node.h"

#include <cstring>

namespace qor {
namespace utility {

clXMLNode::clXMLNode() : type(TYPE_NONE) {}
clXMLNode::~clXMLNode() = default;

void clXMLNode::print(std::ostream* out, int width) const {
    std::string line;
    auto emit = [&]() {
        if (line.empty()) return;
        out->write(line.data(), static_cast<std::streamsize>(line.size()));
        out->flush();
        line.clear();
    };
    // Pre-order walk of this subtree; cur is written by its own rule on the
    // way down and closed on the way up, so the call depth stays constant.
    const clXMLNode* cur = this;
    int curWidth = width;
    for (;;) {
        cur->formatOpening(line, curWidth);
        emit();
        if (cur->firstChild) {
            cur = static_cast<const clXMLNode*>(cur->firstChild);
            curWidth += 2;
            continue;
        }
        for (;;) {
            cur->formatClosing(line, curWidth);
            emit();
            if (cur == this) return;
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

void clXMLNode::formatOpening(std::string&, int) const {}
void clXMLNode::formatClosing(std::string&, int) const {}

void clXMLNode::appendIndent(std::string& line, int width) {
    if (width > 0) line.append(static_cast<std::size_t>(width), ' ');
}

void clXMLNode::appendAttributes(std::string& line, bool quoteEmptyValues) const {
    for (const tyAttribute& entry : attribute) {
        line += ' ';
        line += entry.first;
        if (quoteEmptyValues || !entry.second.empty()) {
            line += "=\"";
            line += entry.second;
            line += '"';
        }
    }
}

clXMLNodeTag::clXMLNodeTag() { setType(TYPE_TAG); }
clXMLNodeTag::~clXMLNodeTag() = default;

void clXMLNodeTag::formatOpening(std::string& line, int width) const {
    appendIndent(line, width);
    line += '<';
    line += key;
    appendAttributes(line, true);
    line += ">\n";
}

void clXMLNodeTag::formatClosing(std::string& line, int width) const {
    appendIndent(line, width);
    line += "</";
    line += key;
    line += ">\n";
}

clXMLNodeEmptyTag::clXMLNodeEmptyTag() { setType(TYPE_EMPTY_TAG); }
clXMLNodeEmptyTag::~clXMLNodeEmptyTag() = default;

void clXMLNodeEmptyTag::formatOpening(std::string& line, int width) const {
    appendIndent(line, width);
    line += '<';
    line += key;
    appendAttributes(line, false);
    line += "/>\n";
}

clXMLNodeElement::clXMLNodeElement() { setType(TYPE_ELEMENT); }
clXMLNodeElement::~clXMLNodeElement() = default;

void clXMLNodeElement::formatOpening(std::string& line, int) const {
    line += key;  // character data stays flush left at every depth
    line += '\n';
}

clXMLNodeDeclaration::clXMLNodeDeclaration() { setType(TYPE_DECLARATION); }
clXMLNodeDeclaration::~clXMLNodeDeclaration() = default;

void clXMLNodeDeclaration::formatOpening(std::string& line, int width) const {
    appendIndent(line, width);
    line += '<';
    line += key;
    appendAttributes(line, false);
    line += ">\n";
}

clXMLNodeComment::clXMLNodeComment() { setType(TYPE_COMMENT); }
clXMLNodeComment::~clXMLNodeComment() = default;

void clXMLNodeComment::formatOpening(std::string& line, int width) const {
    appendIndent(line, width);
    line += "<!--";
    line += key;
    line += "-->\n";
}

}  // namespace utility
}  // namespace qor
