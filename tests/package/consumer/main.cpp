#include <sstream>

#include <qor/xml/xml.h>

int main() {
    qor::utility::clXML document;
    std::string text = "<swf version=\"8\"><FileAttributes/></swf>";
    text.push_back('\0');
    document.parse(nullptr, text, 0);
    std::ostringstream out;
    document.print(&out);
    return out.str() == "  <swf version=\"8\">\n    <FileAttributes/>\n  </swf>\n" ? 0 : 1;
}
