#include "driver/run.h"

#include <cstdio>
#include <iostream>
#include <new>

#include "driver/host.h"
#include "driver/output_file.h"
#include "driver/swf_rules.h"

using qor::utility::clXML;

namespace {

std::string openFailure(const std::string& inputPath) { return "Can't Open File : " + printableName(inputPath); }
std::string writeFailure(const std::string& outputPath) { return "Can't Write File : " + printableName(outputPath); }
std::string syncFailure(const std::string& outputPath) { return "Can't Sync File : " + printableName(outputPath); }

int fail(const std::string& message) {
    std::cout << message << std::endl;
    return 1;
}

}  // namespace

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

    if (inputSizeKnown) inputSizeKnown(input.size());
    try {
        // The input is mapped while it loads: cut short meanwhile, it
        // cannot be read, and the run ends as for any unreadable input.
        const host::clBusErrorExit inputCutShort(openFailure(inputPath) + "\n");
        document.load(input.descriptor());
    } catch (const std::bad_alloc&) {
        return fail(openFailure(inputPath));  // too large to hold: unreadable here
    }
    if (host::beforeStep) host::beforeStep(host::STEP_INPUT_READ, input.stepFile());
    input.close();
    if (!document.isLoad()) return fail(openFailure(inputPath));

    try {
        const bool swfChanged = changeSwfTag(document);
        const bool fileAttributesChanged = changeFileAttributesTag(document);
        if (!swfChanged || !fileAttributesChanged) return 1;
        switch (replaceOutputFile(document, output, &input.file())) {
        case OUTPUT_NOT_WRITTEN:
            return fail(writeFailure(outputPath));
        case OUTPUT_NOT_SYNCED:
            return fail(syncFailure(outputPath));  // replaced, but not yet for sure
        case OUTPUT_WRITTEN:
            break;
        }
    } catch (const std::bad_alloc&) {
        return fail(writeFailure(outputPath));  // nothing was written
    }
    return 0;
}
