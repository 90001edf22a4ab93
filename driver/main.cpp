// swfupgrade INPUT OUTPUT: raises an SWF movie description to version 10
// and writes it to OUTPUT when both header rules applied.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "common/platform.h"
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
        std::cout << "Can't Write File : " << outputPath << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    qor::platform::prepareProcess();
    if (argc < 3) return 1;
    const std::string inputPath = argv[1];
    const std::string outputPath = argv[2];

    treeMemory::prepare(inputSize(inputPath));
    qor::utility::clXML document;
    {
        // The input is mapped while it loads: cut short meanwhile, it
        // cannot be read, and the run ends as for any unreadable input.
        const qor::platform::clBusErrorExit inputCutShort(openFailure(inputPath) + "\n");
        document.load(inputPath);
    }
    const int status = upgrade(document, inputPath, outputPath);
    // Every file is written and closed. Ending here hands the tree's
    // memory back to the host at once instead of node by node.
    std::exit(status);
}
