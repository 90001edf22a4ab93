// The library's one-pass reader of XML text, behind clXML's load and
// parse functions. Private to the library: not installed.
#ifndef QOR_UTILITY_PARSER_H
#define QOR_UTILITY_PARSER_H

#include <cstddef>
#include <string>

#include "xml/xml_node.h"

namespace qor {
namespace platform {
class clFileBytes;
}
namespace utility {
namespace parser {

/// Parses data[0, length) from start, appending the top-level nodes under
/// top, as clXML::parse describes. With source, the file's pages behind the
/// pending character data go back to the host as the pass moves on, so a
/// large file and its tree are not held in memory whole at once.
void parseText(clXMLNode* top, const char* data, std::size_t length, std::size_t start,
               platform::clFileBytes* source);

/// clXML::parseTag, clXML::parseAttributes and clXML::parseAttribute.
clXMLNode* parseTag(std::size_t* next, const std::string& text, std::size_t start);
void parseAttributes(clXMLNode::tyAttribute* pairs, std::size_t count, const char* begin, const char* end);
void parseAttribute(std::string* name, std::string* value, const char* begin, const char* end);

/// The bytes of a caller's text that are content: all but a trailing NUL.
std::size_t contentSize(const std::string& text);

}  // namespace parser
}  // namespace utility
}  // namespace qor

#endif
