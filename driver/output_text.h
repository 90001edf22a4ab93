// What the tool writes: the XML declaration line, an LF, and the
// document's text as the host's text mode writes it.
#ifndef SWFUPGRADE_OUTPUT_TEXT_H
#define SWFUPGRADE_OUTPUT_TEXT_H

#include <cstdint>
#include <streambuf>

#include "xml/xml.h"

// The most writeReplacement can write for document: room to set aside
// before writing.
std::uintmax_t replacementSize(const qor::utility::clXML& document);

// Writes the declaration line, an LF and the document's text into file,
// each newline of the text as the host's text mode writes it. The line
// takes the place of the document's own XML declaration (a leading `<?xml
// ...?>`, of which the newline after it stays) and names the encoding
// that declaration names, UTF-8 unless it names another; a UTF-8
// byte-order mark before the first markup is left out. False at the first
// block file refuses.
bool writeReplacement(const qor::utility::clXML& document, std::streambuf& file);

#endif
