// Replacing the output file with the patched document, atomically.
#ifndef SWFUPGRADE_OUTPUT_FILE_H
#define SWFUPGRADE_OUTPUT_FILE_H

#include <string>

#include "xml/xml.h"

// Where the new content is written before it replaces the output.
std::string temporaryPath(const std::string& outputPath);

// Whether two paths name one existing file (or are the same string).
bool namesSameFile(const std::string& a, const std::string& b);

// Whether the writer's text opens with a declaration node, that is, its
// first '>' is the one that closes a declaration's line.
bool exportOpensWithDeclaration(const qor::utility::clXML& document);

// Writes the declaration line, an LF and the document's text (its own
// declaration, when it opens with one, replaced) to the temporary path and
// renames that over the output path, keeping an existing output's
// permissions. On any failure the output is left as it was, the temporary
// file is removed and the answer is false.
bool replaceOutputFile(const qor::utility::clXML& document, const std::string& outputPath);

#endif
