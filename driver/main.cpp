// swfupgrade INPUT OUTPUT: raises an SWF movie description to version 10
// and writes it to OUTPUT when both header rules applied.
#include <cstdlib>

#include "driver/host.h"
#include "driver/run.h"
#include "driver/tree_memory.h"
#include "xml/xml.h"

int main(int argc, char** argv) {
    host::prepareProcess();
    if (argc < 3) return 1;
    qor::utility::clXML document;
    const int status = runUpgrade(document, argv[1], argv[2], treeMemory::prepare);
    // Every file is written and closed. Ending here hands the tree's
    // memory back to the host at once instead of node by node.
    std::exit(status);
}
