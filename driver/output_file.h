// Replacing the output file with the patched document, atomically.
#ifndef SWFUPGRADE_OUTPUT_FILE_H
#define SWFUPGRADE_OUTPUT_FILE_H

#include "driver/host.h"
#include "xml/xml.h"

// Writes the output's text (see output_text.h) to what output found. One
// of the process's own descriptors, a device or a pipe is written through.
// A regular file, or a missing one, is replaced whole: the content goes to
// a new private file in the held directory, with room for all of it set
// aside first; it takes the old file's permissions, owner, group and
// access list, reaches storage, and is renamed over the file's name, the
// rename synced too. When output found the file that was read (readFile,
// when one was), only that file is replaced: if the name stands for anything else by
// then, nothing changes. On any failure (memory running out among them)
// the old file is left as it was, the new one is removed and the answer
// is false.
bool replaceOutputFile(const qor::utility::clXML& document, const host::clPlace& output,
                       const host::clFileId* readFile);

#endif
