// What the tool writes: the XML declaration line, an LF, and the
// document's text as the host's text mode writes it.
#ifndef SWFUPGRADE_OUTPUT_TEXT_H
#define SWFUPGRADE_OUTPUT_TEXT_H

#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>

#include "xml/xml.h"

// The bytes writeReplacement writes for document: room to set aside
// before writing.
std::uintmax_t replacementSize(const qor::utility::clXML& document);

// Writes the declaration line, an LF and the document's text into file,
// its line ends as appendTextMode writes them for the host. When the
// first '>' of the document's text lies in a top-level declaration named
// xml, the line takes the place of that declaration and of everything
// before it (the line end after the declaration stays), and names the
// encoding that declaration names, UTF-8 unless it names another.
// Otherwise the whole text follows the line, less a UTF-8 byte-order mark
// before the first markup. False at the first block file refuses.
bool writeReplacement(const qor::utility::clXML& document, std::streambuf& file);

// Appends text to out as a text-mode file holds it on a host whose line
// end is lineEnd: each LF as lineEnd, but an LF that follows a CR (a
// CR LF the document already holds) as it is, so that no line end is
// doubled. afterCarriageReturn tells whether the byte before text was a
// CR, and is left telling the same of text's last byte.
void appendTextMode(std::string& out, std::string_view text, std::string_view lineEnd, bool& afterCarriageReturn);

#endif
