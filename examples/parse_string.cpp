// Parses a document held in a string and prints it as indented text.
#include <iostream>
#include <string>

#include <qor/xml/xml.h>

int main() {
    const std::string text = "<note lang=\"en\"><to>Ada</to><!-- draft --><seen/></note>";
    qor::utility::clXML document;
    // Parsed as a file holding these bytes would be.
    document.loadText(text);
    if (document.getLoadResult() != qor::utility::clXML::LOAD_OK) return 1;
    document.print(&std::cout);
    return 0;
}
