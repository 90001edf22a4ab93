// Loads a document, changes one attribute and saves the result:
//   edit_attribute INPUT OUTPUT VERSION
// sets the version of the first swf element of INPUT and writes OUTPUT.
#include <iostream>
#include <string>

#include <qor/xml/xml.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: edit_attribute INPUT OUTPUT VERSION\n";
        return 2;
    }
    qor::utility::clXML document(argv[1]);
    if (!document.isLoad()) {
        std::cerr << "cannot load " << argv[1] << '\n';
        return 1;
    }
    // findTag returns the first tag named so, in document order.
    qor::utility::clXMLNode* swf = document.findTag("swf");
    qor::utility::clXMLNode::tyAttribute* version = swf ? swf->searchAttribute("version") : nullptr;
    if (!version) {
        std::cerr << "no swf element with a version in " << argv[1] << '\n';
        return 1;
    }
    const std::string before = version->second;
    version->second = argv[3];
    // exportFile answers false unless the whole file was written.
    if (!document.exportFile(argv[2])) {
        std::cerr << "cannot write " << argv[2] << '\n';
        return 1;
    }
    std::cout << "swf version " << before << " -> " << argv[3] << '\n';
    return 0;
}
