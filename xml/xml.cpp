#include "xml/xml.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <string_view>

#include "common/platform.h"
#include "xml/parser.h"

namespace qor {
namespace utility {

using parser::parseText;

void clXML::load(const std::string& path) {
    root.removeChildren();
    platform::clFileBytes file;
    // The bytes are this call's own, so the pass may discard what it has read.
    if (file.open(path)) parseText(&root, file.data(), file.size(), 0, &file);
}

void clXML::load(int descriptor, enLoad how) {
    root.removeChildren();
    platform::clFileBytes file;
    const unsigned access = platform::ACCESS_STREAM | (how == LOAD_MAP ? platform::ACCESS_MAP : platform::ACCESS_READ);
    if (file.openDescriptor(descriptor, access)) parseText(&root, file.data(), file.size(), 0, &file);
}

void clXML::load(int descriptor) { load(descriptor, LOAD_READ); }

void clXML::parse(clXMLNode* node, const std::string& text, std::size_t start) {
    parseText(node ? node : &root, text.data(), parser::contentSize(text), start, nullptr);
}

clXMLNode* clXML::parseTag(std::size_t* next, const std::string& text, std::size_t start) {
    return parser::parseTag(next, text, start);
}

void clXML::parseAttributes(clXMLNode::tyAttribute* pairs, std::size_t count, const char* begin,
                            const char* end) {
    parser::parseAttributes(pairs, count, begin, end);
}

void clXML::parseAttribute(std::string* name, std::string* value, const char* begin,
                           const char* end) {
    parser::parseAttribute(name, value, begin, end);
}

clXMLNode* clXML::find(const std::string& name) {
    return const_cast<clXMLNode*>(static_cast<const clXML*>(this)->find(name));
}

const clXMLNode* clXML::find(const std::string& name) const {
    // Every node of a document tree is a clXMLNode.
    return static_cast<const clXMLNode*>(root.find(name));
}

const std::string& clXML::getElement(const std::string& name) const {
    static const std::string none;
    const clXMLNode* node = find(name);
    if (!node) return none;
    const clXMLNode* child = static_cast<const clXMLNode*>(node->getFirstChild());
    if (child && child->getType() == clXMLNode::TYPE_ELEMENT) return child->getElement();
    return none;
}

namespace {

const char byteOrderMark[] = "\xEF\xBB\xBF\n";  // the mark, and its line end when it has one

// Character data that is a UTF-8 byte-order mark and white space, with
// nothing under it: what reading makes of a mark before the first markup.
bool isByteOrderMark(const clXMLNode* node) {
    if (!node || node->getType() != clXMLNode::TYPE_ELEMENT || node->getFirstChild()) return false;
    const std::string& text = node->getElement();
    return text.compare(0, 3, byteOrderMark, 3) == 0 && text.find_first_not_of(" \t\r\n", 3) == std::string::npos;
}

bool isXmlDeclaration(const clXMLNode* node) {
    return node && node->getType() == clXMLNode::TYPE_DECLARATION && node->getTag() == "xml" &&
           !node->getFirstChild();
}

// Walks the document as XML allows it: hands bytes a leading byte-order
// mark, bare (with its own line end only when no declaration follows), and
// node each top-level node with its width: 0 for the declaration that opens
// the document, which nothing may precede but the mark, 2 for the rest, as
// root's children.
template <class Bytes, class Node>
void walkDocument(const clXMLNode& root, Bytes bytes, Node node) {
    auto next = [](const clXMLNode* at) { return static_cast<const clXMLNode*>(at->getNextSibling()); };
    auto* at = static_cast<const clXMLNode*>(root.getFirstChild());
    if (isByteOrderMark(at)) {
        at = next(at);
        bytes(std::string_view(byteOrderMark, isXmlDeclaration(at) ? 3 : 4));
    }
    if (isXmlDeclaration(at)) {
        node(*at, 0);
        at = next(at);
    }
    for (; at; at = next(at)) node(*at, 2);
}

// The document handed to out line by line (flushed) or in blocks.
void writeDocument(const clXMLNode& root, std::ostream* out, bool flushEachLine) {
    auto bytes = [&](std::string_view text) {
        if (!*out) return;
        out->write(text.data(), static_cast<std::streamsize>(text.size()));
        if (flushEachLine) out->flush();
    };
    auto node = [&](const clXMLNode& top, int width) {
        if (flushEachLine) {
            top.print(out, width);
        } else {
            top.printBlocks(out, width);
        }
    };
    walkDocument(root, bytes, node);
}

}  // namespace

void clXML::print() const { print(&std::cout); }

void clXML::print(std::ostream* out) const { writeDocument(root, out, true); }

void clXML::exportStream(std::ostream* out) const { writeDocument(root, out, false); }

clXMLNode::clTextSize clXML::exportSize(bool countNewlines) const {
    clXMLNode::clTextSize size;
    auto bytes = [&](std::string_view text) {
        size.bytes += text.size();
        if (countNewlines) size.newlines += static_cast<std::uintmax_t>(std::count(text.begin(), text.end(), '\n'));
    };
    auto node = [&](const clXMLNode& top, int width) {
        const clXMLNode::clTextSize part = top.printedSize(width, countNewlines);
        size.bytes += part.bytes;
        size.newlines += part.newlines;
    };
    walkDocument(root, bytes, node);
    return size;
}

bool clXML::exportFile(const std::string& path) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out) return false;
    exportStream(&out);
    out.close();  // the last block reaches the file here, or fails to
    return !out.fail();
}

}  // namespace utility
}  // namespace qor
