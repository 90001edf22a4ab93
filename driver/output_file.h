// Replacing the output file with the patched document, atomically.
#ifndef SWFUPGRADE_OUTPUT_FILE_H
#define SWFUPGRADE_OUTPUT_FILE_H

#include <string>

#include "xml/xml.h"

// The path a symbolic link at path names, through chains of links, or
// path itself when it is no link; empty for a loop.
std::string followLinks(const std::string& path);

// Whether output goes straight into what is at the path: a device, a pipe
// or a socket, which can only be written through, never replaced.
bool writesThrough(const std::string& outputPath);

// Where the new content is written before it replaces the output: beside
// the file a link at the output names. Empty when no temporary file is
// made (the output is written through) or can be (a loop of links).
std::string temporaryPath(const std::string& outputPath);

// The temporary path beside target: target plus ".tmp", or, where that
// name would be too long for a directory entry, a shorter one made of the
// name's start and a hash of all of it, the same for every run.
std::string temporaryPathFor(const std::string& target);

// Whether two paths name one existing file (or are the same string); an
// empty path names none.
bool namesSameFile(const std::string& a, const std::string& b);

// Writes the output's text (see output_text.h) to the output. One of the
// process's own descriptors, a device or a pipe is written through. A
// regular file, or the file a link names, is replaced whole: the content
// goes to a new private file at the temporary path, locked against other
// writers, with room for all of it set aside first; it takes the existing
// file's permissions, owner, group and access list, reaches storage, and
// is renamed over the file, the rename synced too. On any failure (memory
// running out among them) a replaced file is left as it was, this run's
// temporary file is removed and the answer is false.
bool replaceOutputFile(const qor::utility::clXML& document, const std::string& outputPath);

#endif
