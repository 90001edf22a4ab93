#include "xml/xml.h"

#include <fstream>
#include <iostream>
#include <new>
#include <stdexcept>

#include "common/platform.h"
#include "xml/parser.h"
#include "xml/writer.h"

namespace qor {
namespace utility {

using parser::parseText;

namespace {

clXML::enLoadResult resultOf(platform::enFileResult read) {
    switch (read) {
    case platform::FILE_READ:
        return clXML::LOAD_OK;
    case platform::FILE_CANNOT_OPEN:
        return clXML::LOAD_CANNOT_OPEN;
    case platform::FILE_NOT_READABLE:
        return clXML::LOAD_NOT_READABLE;
    case platform::FILE_READ_FAILED:
        return clXML::LOAD_READ_FAILED;
    case platform::FILE_TOO_LARGE:
        break;
    }
    return clXML::LOAD_TOO_LARGE;
}

// Parses data[0, length) under root, which is empty; how the load ends. A
// tree too large for memory is no tree at all.
clXML::enLoadResult parseWhole(clXMLNode& root, const char* data, std::size_t length, platform::clFileBytes* source) {
    try {
        parseText(&root, data, length, 0, source);
    } catch (const std::bad_alloc&) {
        root.removeChildren();
        return clXML::LOAD_TOO_LARGE;
    } catch (const std::length_error&) {
        root.removeChildren();
        return clXML::LOAD_TOO_LARGE;
    }
    return root.getFirstChild() ? clXML::LOAD_OK : clXML::LOAD_NO_MARKUP;
}

// The file's bytes parsed under root, when they were read; how the load ends.
// The bytes are the load's own, so the pass may discard what it has read.
clXML::enLoadResult parseFile(clXMLNode& root, platform::clFileBytes& file, bool read) {
    if (!read) return resultOf(file.result());
    return parseWhole(root, file.data(), file.size(), &file);
}

}  // namespace

clXML::clXML(clXML&& other) noexcept : loadResult(other.loadResult) {
    root.adoptChildren(other.root);
    other.loadResult = LOAD_NO_MARKUP;
}

clXML& clXML::operator=(clXML&& other) noexcept {
    if (this == &other) return *this;
    root.removeChildren();
    root.adoptChildren(other.root);
    loadResult = other.loadResult;
    other.loadResult = LOAD_NO_MARKUP;
    return *this;
}

void clXML::load(const std::string& path) {
    root.removeChildren();
    platform::clFileBytes file;
    loadResult = parseFile(root, file, file.open(path));
}

void clXML::load(int descriptor, enLoad how) {
    root.removeChildren();
    platform::clFileBytes file;
    const unsigned access = platform::ACCESS_STREAM | (how == LOAD_MAP ? platform::ACCESS_MAP : platform::ACCESS_READ);
    loadResult = parseFile(root, file, file.openDescriptor(descriptor, access));
}

void clXML::load(int descriptor) { load(descriptor, LOAD_READ); }

void clXML::loadText(const std::string& text) {
    root.removeChildren();
    loadResult = parseWhole(root, text.data(), text.size(), nullptr);
}

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

clXMLNode* clXML::findTag(const std::string& name) {
    return const_cast<clXMLNode*>(static_cast<const clXML*>(this)->findTag(name));
}

const clXMLNode* clXML::findTag(const std::string& name) const {
    for (auto* node = root.getFirstChild(); node; node = node->getNextInPreorder(&root)) {
        const auto* tag = static_cast<const clXMLNode*>(node);
        const clXMLNode::enType type = tag->getType();
        if ((type == clXMLNode::TYPE_TAG || type == clXMLNode::TYPE_EMPTY_TAG) && tag->getTag() == name) return tag;
    }
    return nullptr;
}

const std::string& clXML::getElement(const std::string& name) const {
    static const std::string none;
    const clXMLNode* node = find(name);
    if (!node) return none;
    const clXMLNode* child = static_cast<const clXMLNode*>(node->getFirstChild());
    if (child && child->getType() == clXMLNode::TYPE_ELEMENT) return child->getElement();
    return none;
}

void clXML::print() const { print(&std::cout); }

void clXML::print(std::ostream* out) const { writer::writeDocument(root, out, true); }

void clXML::exportStream(std::ostream* out) const { writer::writeDocument(root, out, false); }

bool clXML::exportFile(const std::string& path) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out) return false;
    exportStream(&out);
    out.close();  // the last block reaches the file here, or fails to
    return !out.fail();
}

}  // namespace utility
}  // namespace qor
