// What the tool writes: the fixed declaration line, an LF, and the
// document's text as the host's text mode writes it.
#ifndef SWFUPGRADE_OUTPUT_TEXT_H
#define SWFUPGRADE_OUTPUT_TEXT_H

#include <cstdint>
#include <streambuf>

#include "xml/xml.h"

// Whether the writer's text opens with a declaration node, that is, its
// first '>' is the one that closes a declaration's line.
bool exportOpensWithDeclaration(const qor::utility::clXML& document);

// The most writeReplacement can write for document: room to set aside
// before writing.
std::uintmax_t replacementSize(const qor::utility::clXML& document);

// Writes the declaration line, an LF and the document's text (its own
// declaration, when it opens with one, replaced) into file, each newline
// of the text as the host's text mode writes it. False at the first block
// file refuses.
bool writeReplacement(const qor::utility::clXML& document, std::streambuf& file);

#endif
