#include "driver/output_file.h"

#include <cstdint>
#include <new>
#include <stdexcept>

#include "driver/host_seam.h"
#include "driver/output_text.h"

using qor::utility::clXML;

namespace {

// Fills the new file and puts it in place of output's last name: private
// until written; then the old file's attributes, and all of it on storage
// before the rename, so that a crash leaves the old file or the new one,
// never an empty one.
bool writeAndRename(host::clOutputFile& file, const clXML& document, std::uintmax_t size, const host::clPlace& output,
                    const host::clFileId* mustReplace) {
    if (!file.reserve(size) || !writeReplacement(document, file)) return false;
    host::announce(host::STEP_SET_ATTRIBUTES, file);
    if (!file.takeAttributes(output)) return false;
    host::announce(host::STEP_SYNC_DATA, file);
    if (!file.syncData()) return false;
    host::announce(host::STEP_RENAME, file);
    return file.replace(output, mustReplace);
}

}  // namespace

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
        if (!writeAndRename(file, document, size, output, inPlace ? readFile : nullptr)) {
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
    } catch (const std::length_error&) {
        // A size past what a string may hold (a 32-bit build): the same.
        file.discard();
        return OUTPUT_NOT_WRITTEN;
    }
}
