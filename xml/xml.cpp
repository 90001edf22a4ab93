#include "xml/xml.h"

#include <fstream>
#include <iostream>

#include "common/platform.h"
#include "xml/parser.h"

namespace qor {
namespace utility {

using parser::parseText;

void clXML::load(const std::string& path) {
    root.removeChildren();
    platform::clFileBytes file;
    // The bytes are this call's own, so the pass may discard what it has read.
    if (file.open(path)) parseText(&root, file.data(), file.size(), 0, &file);
}

void clXML::load(int descriptor, enLoad how) {
    root.removeChildren();
    platform::clFileBytes file;
    const unsigned access = platform::ACCESS_STREAM | (how == LOAD_MAP ? platform::ACCESS_MAP : platform::ACCESS_READ);
    if (file.openDescriptor(descriptor, access)) parseText(&root, file.data(), file.size(), 0, &file);
}

void clXML::load(int descriptor) { load(descriptor, LOAD_READ); }

void clXML::parse(clXMLNode* node, const std::string& text, std::size_t start) {
    parseText(node ? node : &root, text.data(), parser::contentSize(text), start, nullptr);
}

clXMLNode* clXML::parseTag(std::size_t* next, const std::string& text, std::size_t start) {
    return parser::parseTag(next, text, start);
}

void clXML::parseAttributes(clXMLNode::tyAttribute* pairs, std::size_t count, const char* begin,
                            const char* end) {
    parser::parseAttributes(pairs, count, begin, end);
}

void clXML::parseAttribute(std::string* name, std::string* value, const char* begin,
                           const char* end) {
    parser::parseAttribute(name, value, begin, end);
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
