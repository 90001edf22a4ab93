// Replacing the output file with the patched document, atomically.
#ifndef SWFUPGRADE_OUTPUT_FILE_H
#define SWFUPGRADE_OUTPUT_FILE_H

#include "driver/host.h"
#include "xml/xml.h"

// How far the output got.
enum enOutputWritten {
    OUTPUT_NOT_WRITTEN,  // OUTPUT is as it was
    OUTPUT_NOT_SYNCED,   // replaced, but the rename may not survive a power cut
    OUTPUT_WRITTEN
};

// Writes the output's text (see output_text.h) to what output found. One
// of the process's own descriptors, a device or a pipe is written through.
// A regular file, or a missing one, is replaced whole: the content goes to
// a new private file in the held directory, with room for all of it set
// aside first; it takes the old file's permissions, owner, group, access
// list and security label as far as this user may set them, reaches
// storage, and is renamed over the file's name, the rename synced too.
// When output found the file that was read (readFile, when one was), only
// that file is replaced: if the name stands for anything else by then,
// nothing changes. On any failure before the rename (memory running out
// among them) the old file is left as it was and the new one is removed.
enOutputWritten replaceOutputFile(const qor::utility::clXML& document, const host::clPlace& output,
                                  const host::clFileId* readFile);

#endif
