// Parses a document held in a string and prints it as indented text.
#include <iostream>
#include <string>

#include <qor/xml/xml.h>

int main() {
    const std::string text = "<note lang=\"en\"><to>Ada</to><!-- draft --><seen/></note>";
    qor::utility::clXML document;
    // Null: the nodes go under the document's root, after any already there.
    document.parse(nullptr, text, 0);
    document.print(&std::cout);
    return document.isLoad() ? 0 : 1;
}
