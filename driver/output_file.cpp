#include "driver/output_file.h"

#include <cstdint>
#include <new>

#include "driver/output_text.h"

using qor::utility::clXML;

enOutputWritten replaceOutputFile(const clXML& document, const host::clPlace& output, const host::clFileId* readFile) {
    host::clOutputFile file;
    try {
        const std::uintmax_t size = replacementSize(document);
        switch (output.kind()) {
        case host::PLACE_DESCRIPTOR:
        case host::PLACE_STREAM:
            // A descriptor, a device or a pipe cannot be replaced: it takes
            // the bytes as they come.
            return file.openThrough(output) && file.reserve(size) && writeReplacement(document, file) && file.close()
                       ? OUTPUT_WRITTEN
                       : OUTPUT_NOT_WRITTEN;
        case host::PLACE_MISSING:
        case host::PLACE_REGULAR:
            break;
        default:
            return OUTPUT_NOT_WRITTEN;
        }
        const bool inPlace = readFile && output.file() == *readFile;
        if (!file.createBeside(output)) return OUTPUT_NOT_WRITTEN;
        // Private until written; then the old file's attributes, and all of
        // it on storage before the rename, so that a crash leaves the old
        // file or the new one, never an empty one.
        const bool replaced = file.reserve(size) && writeReplacement(document, file) && file.takeAttributes(output) &&
                              file.syncData() && file.replace(output, inPlace ? readFile : nullptr);
        if (!replaced) {
            file.discard();
            return OUTPUT_NOT_WRITTEN;
        }
        const bool synced = file.syncReplacement();
        file.close();
        return synced ? OUTPUT_WRITTEN : OUTPUT_NOT_SYNCED;
    } catch (const std::bad_alloc&) {
        // Memory ran out while writing: a failed write like any other.
        file.discard();
        return OUTPUT_NOT_WRITTEN;
    }
}
