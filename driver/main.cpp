// swfupgrade INPUT OUTPUT: raises an SWF movie description to version 10
// and writes it to OUTPUT when both header rules applied.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <system_error>

#include "driver/host.h"
#include "driver/output_file.h"
#include "driver/swf_rules.h"
#include "driver/tree_memory.h"
#include "xml/xml.h"

namespace {

// 0 when unknown: the load will fail, or the file is small.
std::uintmax_t inputSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

std::string openFailure(const std::string& inputPath) { return "Can't Open File : " + inputPath; }

// Ends the run at once; the tree is handed back with the process.
[[noreturn]] void fail(const std::string& message) {
    std::cout << message << std::endl;
    std::exit(1);
}

int upgrade(qor::utility::clXML& document, const std::string& inputPath, const std::string& outputPath) {
    if (!document.isLoad()) {
        std::cout << openFailure(inputPath) << std::endl;
        return 1;
    }
    const bool swfChanged = changeSwfTag(document);
    const bool fileAttributesChanged = changeFileAttributesTag(document);
    if (!swfChanged || !fileAttributesChanged) return 1;

    // Writing the temporary file must never touch the input.
    if (namesSameFile(temporaryPath(outputPath), inputPath) ||
        !replaceOutputFile(document, outputPath)) {
        fail("Can't Write File : " + outputPath);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    host::prepareProcess();
    if (argc < 3) return 1;
    const std::string inputPath = argv[1];
    const std::string outputPath = argv[2];

    treeMemory::prepare(inputSize(inputPath));
    qor::utility::clXML document;
    try {
        // The input is mapped while it loads: cut short meanwhile, it
        // cannot be read, and the run ends as for any unreadable input.
        const host::clBusErrorExit inputCutShort(openFailure(inputPath) + "\n");
        document.load(inputPath);
    } catch (const std::bad_alloc&) {
        fail(openFailure(inputPath));  // too large to hold: unreadable here
    }
    int status = 1;
    try {
        status = upgrade(document, inputPath, outputPath);
    } catch (const std::bad_alloc&) {
        fail("Can't Write File : " + outputPath);  // nothing was written
    }
    // Every file is written and closed. Ending here hands the tree's
    // memory back to the host at once instead of node by node.
    std::exit(status);
}
