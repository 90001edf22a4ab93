#include "driver/swf_rules.h"

#include <iostream>
#include <string>

using qor::utility::clXML;
using qor::utility::clXMLNode;

bool changeSwfTag(clXML& document) {
    clXMLNode* swf = document.findTag("swf");
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
    clXMLNode* fileAttributes = document.findTag("FileAttributes");
    if (!fileAttributes) return false;
    if (fileAttributes->searchAttribute("allowABC")) return false;
    clXMLNode::tyAttributeList list = fileAttributes->getAttribute();
    list.emplace_back("allowABC", "1");
    fileAttributes->setAttribute(list);
    std::cout << "FileAttributes tag changed" << std::endl;
    return true;
}
