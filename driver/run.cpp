#include "driver/run.h"

#include <cstdio>
#include <new>
#include <stdexcept>

#include "driver/host.h"
#include "driver/host_seam.h"
#include "driver/output_file.h"
#include "driver/swf_rules.h"

using qor::utility::clXML;

namespace {

std::string openFailure(const std::string& inputPath) { return "Can't Open File : " + printableName(inputPath); }
std::string writeFailure(const std::string& outputPath) { return "Can't Write File : " + printableName(outputPath); }
std::string syncFailure(const std::string& outputPath) { return "Can't Sync File : " + printableName(outputPath); }

int fail(const std::string& message) {
    host::writeLine(message);
    return 1;
}

// Reads the open input into document, whole or not at all; false when it
// could not be read.
bool loadInput(clXML& document, host::clInputFile& input, const std::string& inputPath) {
    {
        // Where the host maps a regular input (Linux), a cut meanwhile ends
        // the run as for any unreadable input; elsewhere it is read whole.
        // An input too large to hold leaves the document empty.
        const host::clBusErrorExit inputCutShort(openFailure(inputPath) + "\n");
        document.load(input.descriptor(), clXML::LOAD_MAP);
    }
    host::announce(host::STEP_INPUT_READ, input);
    input.close();
    return document.isLoad();
}

// Applies both rules and, when both changed the document, replaces OUTPUT;
// the exit status.
int patchAndWrite(clXML& document, const host::clPlace& output, const std::string& outputPath,
                  const host::clFileId& readFile) {
    try {
        const bool swfChanged = changeSwfTag(document);
        const bool fileAttributesChanged = changeFileAttributesTag(document);
        if (!swfChanged || !fileAttributesChanged) return 1;
        switch (replaceOutputFile(document, output, &readFile)) {
        case OUTPUT_NOT_WRITTEN:
            return fail(writeFailure(outputPath));
        case OUTPUT_NOT_SYNCED:
            return fail(syncFailure(outputPath));  // replaced, but not yet for sure
        case OUTPUT_WRITTEN:
            break;
        }
    } catch (const std::bad_alloc&) {
        return fail(writeFailure(outputPath));  // nothing was written
    } catch (const std::length_error&) {
        return fail(writeFailure(outputPath));
    }
    return 0;
}

}  // namespace

int runUpgrade(clXML& document, const std::string& inputPath, const std::string& outputPath,
               void (*inputSizeKnown)(std::uintmax_t bytes)) {
    // Both paths are resolved before a byte is read: from here on the run
    // acts on what they named then, whatever happens to the names.
    host::clInputFile input;
    if (!input.open(inputPath)) return fail(openFailure(inputPath));
    // One path given twice is resolved once: no one can slip another file
    // in between two resolutions of it.
    host::clPlace otherOutput;
    if (outputPath != inputPath) otherOutput.resolve(outputPath);
    const host::clPlace& output = outputPath == inputPath ? input.found() : otherOutput;
    // What a pipe held is gone once read: it cannot take the result back.
    if (input.isStream() && (&output == &input.found() || output.file() == input.file())) {
        return fail(writeFailure(outputPath));
    }

    // A pipe's size is known only once it is read: it may be as large as any.
    if (inputSizeKnown) inputSizeKnown(input.isStream() ? UINTMAX_MAX : input.size());
    if (!loadInput(document, input, inputPath)) return fail(openFailure(inputPath));
    return patchAndWrite(document, output, outputPath, input.file());
}

std::string printableName(const std::string& name) {
    std::string shown;
    shown.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            shown += c;
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}
