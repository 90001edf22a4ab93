// One run of the tool, from its two paths to its exit status.
#ifndef SWFUPGRADE_RUN_H
#define SWFUPGRADE_RUN_H

#include <cstdint>
#include <string>

#include "xml/xml.h"

// Resolves INPUT and OUTPUT once, reads INPUT into document, applies both
// rules and, when both changed it, writes OUTPUT (see output_file.h);
// prints the messages and answers the exit status (0 when OUTPUT was
// written). inputSizeKnown, when given, hears INPUT's size before it loads
// (UINTMAX_MAX for a stream, whose size is known only once it is read). The document is the caller's, so
// that a program may end without taking its tree apart.
int runUpgrade(qor::utility::clXML& document, const std::string& inputPath, const std::string& outputPath,
               void (*inputSizeKnown)(std::uintmax_t bytes) = nullptr);

// A name as a message shows it: each control byte escaped (\n, \t, \xHH)
// so that the message stays one line; every other byte as it is.
std::string printableName(const std::string& name);

#endif
