// Shared by the library tests: parse a literal the way the loader does,
// describe a tree compactly so a whole parse can be compared at once, and
// a scratch directory for the files a test writes.
#ifndef QOR_TESTS_XML_FIXTURE_H
#define QOR_TESTS_XML_FIXTURE_H

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/scratch_dir.h"
#include "xml/xml.h"

namespace qor_test {

using qor::utility::clXML;
using qor::utility::clXMLNode;

// One line a node, in pre-order, indented by depth: a kind letter (T tag,
// S self-closing, D character data, P declaration, C comment, N plain),
// the key in brackets, then each attribute as [name=value]. The top node
// itself is left out unless withTop is set.
inline std::string describe(const clXMLNode& top, bool withTop = true) {
    static const char kinds[] = "NTSDPC";
    std::string out;
    for (auto* n = withTop ? &top : top.getNextInPreorder(&top); n; n = n->getNextInPreorder(&top)) {
        const clXMLNode& node = *static_cast<const clXMLNode*>(n);
        int depth = withTop ? 0 : -1;
        for (auto* up = n; up != &top; up = up->getParent()) ++depth;
        out.append(static_cast<std::size_t>(depth) * 2, ' ');
        const int type = node.getType();
        out += type >= 0 && type <= 5 ? kinds[type] : '?';
        out += '[' + node.getTag() + ']';
        for (const auto& a : node.getAttribute()) out += " [" + a.first + '=' + a.second + ']';
        out += '\n';
    }
    return out;
}

class XmlFixture : public ::testing::Test {
protected:
    // Parses bytes exactly as load() would see a file holding them.
    void parse(const std::string& bytes) {
        doc.root.removeChildren();
        std::string text = bytes;
        text.push_back('\0');
        doc.parse(nullptr, text, 0);
    }

    // The top-level nodes, without the root's own line.
    std::string tree() const { return describe(doc.root, false); }

    std::string printed() const {
        std::ostringstream out;
        doc.print(&out);
        return out.str();
    }

    clXML doc;
    ScratchDir dir;  // for what a test writes
};

}  // namespace qor_test

#endif
