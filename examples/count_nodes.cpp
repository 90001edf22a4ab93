// Walks a document's tree and counts its nodes of each kind:
//   count_nodes FILE
#include <cstddef>
#include <iostream>
#include <vector>

#include <qor/xml/xml.h>

using qor::utility::clXMLNode;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: count_nodes FILE\n";
        return 2;
    }
    qor::utility::clXML document(argv[1]);
    if (!document.isLoad()) {
        std::cerr << "cannot load " << argv[1] << '\n';
        return 1;
    }
    std::size_t count[clXMLNode::TYPE_COMMENT + 1] = {};
    // The nodes still to count, kept here rather than on the call stack,
    // so any depth will do.
    std::vector<const clXMLNode*> pending;
    for (const clXMLNode& top : document.root.getChildren()) pending.push_back(&top);
    while (!pending.empty()) {
        const clXMLNode& node = *pending.back();
        pending.pop_back();
        ++count[node.getType()];
        for (const clXMLNode& child : node.getChildren()) pending.push_back(&child);
    }
    std::cout << "tags " << count[clXMLNode::TYPE_TAG] << '\n'
              << "empty tags " << count[clXMLNode::TYPE_EMPTY_TAG] << '\n'
              << "character data " << count[clXMLNode::TYPE_ELEMENT] << '\n'
              << "declarations " << count[clXMLNode::TYPE_DECLARATION] << '\n'
              << "comments " << count[clXMLNode::TYPE_COMMENT] << '\n';
    return 0;
}
