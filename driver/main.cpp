// swfupgrade INPUT OUTPUT: raises an SWF movie description to version 10
// and writes it to OUTPUT when both header rules applied.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/host.h"
#include "driver/run.h"
#include "driver/tree_memory.h"
#include "xml/xml.h"

int main(int argc, char** argv) {
    host::prepareProcess();
    const std::vector<std::string> paths = host::arguments(argc, argv);
    if (paths.size() < 2) return 1;
    qor::utility::clXML document;
    const int status = runUpgrade(document, paths[0], paths[1], treeMemory::prepare);
    // Every file is written and closed. Ending here hands the tree's
    // memory back to the host at once instead of node by node.
    std::exit(status);
}
