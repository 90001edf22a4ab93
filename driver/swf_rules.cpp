#include "driver/swf_rules.h"

#include <iostream>
#include <string>

using qor::utility::clXML;
using qor::utility::clXMLNode;

namespace {

// The first element named name, in document order. The library's find
// compares every kind of node, and the writer shows no attribute of a
// text, a comment or an instruction.
clXMLNode* firstElement(clXML& document, const std::string& name) {
    for (auto* node = document.root.getFirstChild(); node; node = node->getNextInPreorder(&document.root)) {
        auto* element = static_cast<clXMLNode*>(node);
        const auto type = element->getType();
        if ((type == clXMLNode::TYPE_TAG || type == clXMLNode::TYPE_EMPTY_TAG) && element->getTag() == name) {
            return element;
        }
    }
    return nullptr;
}

}  // namespace

bool changeSwfTag(clXML& document) {
    clXMLNode* swf = firstElement(document, "swf");
    if (!swf) return false;
    clXMLNode::tyAttribute* version = swf->searchAttribute("version");
    if (!version) return false;
    const std::string& value = version->second;
    if (value != "6" && value != "7" && value != "8") return false;
    version->second = "10";
    std::cout << "swf tag changed" << std::endl;
    return true;
}

bool changeFileAttributesTag(clXML& document) {
    clXMLNode* fileAttributes = firstElement(document, "FileAttributes");
    if (!fileAttributes) return false;
    if (fileAttributes->searchAttribute("allowABC")) return false;
    clXMLNode::tyAttributeList list = fileAttributes->getAttribute();
    list.emplace_back("allowABC", "1");
    fileAttributes->setAttribute(list);
    std::cout << "FileAttributes tag changed" << std::endl;
    return true;
}
