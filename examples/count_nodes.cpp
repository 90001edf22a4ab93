// Walks a document's tree and counts its nodes of each kind:
//   count_nodes FILE
#include <cstddef>
#include <iostream>

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
    // A node before its children, each subtree before the next sibling;
    // no recursion, so any depth will do.
    for (const auto* node = document.root.getFirstChild(); node;
         node = node->getNextInPreorder(&document.root)) {
        // Every node under a document's root is a clXMLNode.
        ++count[static_cast<const clXMLNode*>(node)->getType()];
    }
    std::cout << "tags " << count[clXMLNode::TYPE_TAG] << '\n'
              << "empty tags " << count[clXMLNode::TYPE_EMPTY_TAG] << '\n'
              << "character data " << count[clXMLNode::TYPE_ELEMENT] << '\n'
              << "declarations " << count[clXMLNode::TYPE_DECLARATION] << '\n'
              << "comments " << count[clXMLNode::TYPE_COMMENT] << '\n';
    return 0;
}
