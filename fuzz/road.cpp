#include "fuzz/road.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <utility>
#include <vector>

#include "driver/host.h"
#include "driver/output_text.h"
#include "driver/swf_rules.h"
#include "xml/xml.h"

using qor::utility::clXML;
using qor::utility::clXMLNode;
using Tree = qor::common::clMultiTree<std::string>;

namespace {

// One node as the checks see it, in pre-order.
struct Record {
    const Tree* node;
    std::size_t depth;  // 1 for the document's top-level nodes
    clXMLNode::enType type;
    std::string key;
    clXMLNode::tyAttributeList attributes;
    std::size_t children;
};

using Records = std::vector<Record>;

// Records every node below root, walking with its own stack rather than
// the library's walk, and checks the links on the way. At most limit nodes
// are taken, so a cycle is reported instead of looping.
std::string takeSnapshot(const clXML& document, std::size_t limit, Records& nodes) {
    nodes.clear();
    const clXMLNode& root = document.root;
    if (root.getParent() || root.getNextSibling()) return "the root is linked into a tree";
    if (root.getType() != clXMLNode::TYPE_NONE || !root.getTag().empty() ||
        !root.getAttribute().empty())
        return "the root is not a plain empty node";

    struct Level {
        const Tree* parent;
        const Tree* next;
        std::size_t record;  // the parent's index in nodes, or npos for root
    };
    const std::size_t none = static_cast<std::size_t>(-1);
    std::vector<Level> levels{{&root, root.getFirstChild(), none}};
    if (!root.getFirstChild() != !root.getLastChild()) return "the root has only one child link";
    while (!levels.empty()) {
        Level& level = levels.back();
        const Tree* cur = level.next;
        if (!cur) {
            levels.pop_back();
            continue;
        }
        if (nodes.size() >= limit) return "the tree has more nodes than the text has bytes";
        level.next = cur->getNextSibling();
        if (cur->getParent() != level.parent) return "a node's parent link is wrong";
        if (!cur->getNextSibling() && level.parent->getLastChild() != cur)
            return "a parent's last-child link is not its last child";
        if (!cur->ownsChildren) return "a node does not own its children";
        if (!cur->getFirstChild() != !cur->getLastChild()) return "a node has only one child link";
        if (level.record != none) ++nodes[level.record].children;

        const clXMLNode& node = *static_cast<const clXMLNode*>(cur);
        nodes.push_back({cur, levels.size(), node.getType(), node.getTag(), node.getAttribute(), 0});
        if (node.getType() < clXMLNode::TYPE_TAG || node.getType() > clXMLNode::TYPE_COMMENT)
            return "the parser made a node of no parsed kind";
        if (cur->getFirstChild()) {
            if (node.getType() != clXMLNode::TYPE_TAG) return "the parser gave children to a node that is no opening tag";
            levels.push_back({cur, cur->getFirstChild(), nodes.size() - 1});
        }
    }
    return {};
}

// The parser's reading rules, modelled plainly: every search starts afresh
// (quadratic, which inputs of a few KB allow), so none of the library's
// shortcuts can hide a wrong answer.
namespace model {

const std::size_t none = std::string::npos;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isBlank(char c) { return c == ' ' || c == '\n' || c == '\r'; }

// Attributes of an attribute text: white space, a name up to white space
// or '=', and after an '=' (white space around it) a value in either quote
// (to the next of its kind, or the end) or none (to white space).
clXMLNode::tyAttributeList attributesOf(const std::string& t) {
    clXMLNode::tyAttributeList list;
    std::size_t i = 0;
    for (;;) {
        while (i < t.size() && isSpace(t[i])) ++i;
        if (i == t.size()) return list;
        const std::size_t nameBegin = i;
        while (i < t.size() && !isSpace(t[i]) && t[i] != '=') ++i;
        std::string name = t.substr(nameBegin, i - nameBegin), value;
        while (i < t.size() && isSpace(t[i])) ++i;
        if (i < t.size() && t[i] == '=') {
            ++i;
            while (i < t.size() && isSpace(t[i])) ++i;
            if (i < t.size() && (t[i] == '"' || t[i] == '\'')) {
                const std::size_t close = t.find(t[i], i + 1);
                value = t.substr(i + 1, close == none ? none : close - i - 1);
                i = close == none ? t.size() : close + 1;
            } else {
                const std::size_t valueBegin = i;
                while (i < t.size() && !isSpace(t[i])) ++i;
                value = t.substr(valueBegin, i - valueBegin);
            }
        }
        list.emplace_back(name, value);
    }
}

// The '>' closing the tag at s: the first outside quoted values; the
// first after s when a value is open at a '<' or the end; none without.
std::size_t tagClose(const std::string& t, std::size_t s) {
    char quote = 0;
    for (std::size_t i = s + 1; i < t.size(); ++i) {
        if (!quote && t[i] == '>') return i;
        if (!quote && (t[i] == '"' || t[i] == '\'')) quote = t[i];
        else if (quote && t[i] == quote) quote = 0;
        else if (quote && t[i] == '<') return t.find('>', s + 1);
    }
    return quote ? t.find('>', s + 1) : none;
}

// The '>' closing a document type at s, as XML reads it, or none.
std::size_t documentTypeClose(const std::string& t, std::size_t s) {
    bool subset = false;
    for (std::size_t i = s + 9; i < t.size(); ++i) {
        std::size_t skip = i;
        if (t[i] == '"' || t[i] == '\'') skip = t.find(t[i], i + 1);
        else if (!subset && t[i] == '>') return i;
        else if (!subset && t[i] == '[') subset = true;
        else if (subset && t[i] == ']') {
            const std::size_t after = t.find_first_not_of(" \t\r\n", i + 1);
            if (after != none && t[after] == '>') return after;
        } else if (subset && t.compare(i, 4, "<!--") == 0) {
            skip = t.find("-->", i + 4);
            if (skip != none) skip += 2;
        } else if (subset && t.compare(i, 2, "<?") == 0) {
            skip = t.find("?>", i + 2);
            if (skip != none) skip += 1;
        }
        if (skip == none) return none;
        i = skip;
    }
    return none;
}

// Just past the "<!" item at s that is no comment.
std::size_t bangEnd(const std::string& t, std::size_t s, bool& documentTypeMissing) {
    if (t.compare(s, 9, "<![CDATA[") == 0) {
        const std::size_t end = t.find("]]>", s + 9);
        if (end != none) return end + 3;
    }
    if (!documentTypeMissing && t.compare(s, 9, "<!DOCTYPE") == 0) {
        const std::size_t close = documentTypeClose(t, s);
        if (close != none) return close + 1;
        documentTypeMissing = true;
    }
    const std::size_t close = t.find('>', s + 2);
    const std::size_t subset = t.find('[', s + 2);
    if (subset != none && subset < close) {
        for (std::size_t b = t.find(']', subset + 1); b != none; b = t.find(']', b + 1)) {
            const std::size_t after = t.find_first_not_of(" \t\r\n", b + 1);
            if (after != none && t[after] == '>') return after + 1;
        }
    }
    return close == none ? t.size() : close + 1;
}

Records parse(const std::string& t) {
    Records nodes;
    std::size_t depth = 1;  // of the next node; top-level nodes are at 1
    std::size_t textStart = 0;
    bool documentTypeMissing = false;
    auto add = [&](clXMLNode::enType type, std::string key, clXMLNode::tyAttributeList attributes = {}) {
        nodes.push_back({nullptr, depth, type, std::move(key), std::move(attributes), 0});
    };
    for (std::size_t pos = 0; pos < t.size();) {
        if (t[pos] != '<') {
            ++pos;
            continue;
        }
        std::size_t first = textStart;
        while (first < pos && isBlank(t[first])) ++first;
        if (first < pos) add(clXMLNode::TYPE_ELEMENT, t.substr(first, pos - first));
        if (t.compare(pos, 4, "<!--") == 0) {
            const std::size_t end = t.find("-->", pos + 4);
            if (end == none) {
                textStart = pos++;
            } else {
                add(clXMLNode::TYPE_COMMENT, t.substr(pos + 4, end - pos - 4));
                pos = textStart = end + 3;
            }
            continue;
        }
        const char kind = pos + 1 < t.size() ? t[pos + 1] : '\0';
        if (kind == '!') {
            const std::size_t end = bangEnd(t, pos, documentTypeMissing);
            add(clXMLNode::TYPE_ELEMENT, t.substr(pos, end - pos));
            pos = textStart = end;
            continue;
        }
        std::size_t close = none;
        if (kind == '?') {
            close = t.find("?>", pos + 1);
            if (close != none) ++close;
        }
        if (close == none) close = tagClose(t, pos);
        if (close == none) close = t.size();
        const std::size_t end = close < t.size() ? close + 1 : t.size();
        if (kind == '/') {
            if (depth > 1) --depth;  // closes the innermost open tag, if any
            pos = textStart = end;
            continue;
        }
        const char last = close > pos + 1 ? t[close - 1] : '\0';
        const std::size_t nameBegin = std::min(t.size(), pos + (kind == '?' ? 2 : 1));
        std::size_t nameEnd = nameBegin;
        while (nameEnd < close && !isSpace(t[nameEnd])) ++nameEnd;
        if (nameEnd == close && (last == '/' || last == '?') && close > nameBegin) --nameEnd;
        clXMLNode::tyAttributeList attributes;
        if (close < t.size()) {
            const bool kindByteLast = kind == '?' ? last == '?' : last == '/';
            const std::size_t attributesEnd = kindByteLast ? std::max(close - 1, nameEnd) : close;
            attributes = attributesOf(t.substr(nameEnd, attributesEnd - nameEnd));
        }
        const clXMLNode::enType type = kind == '?'   ? clXMLNode::TYPE_DECLARATION
                                       : last == '/' ? clXMLNode::TYPE_EMPTY_TAG
                                                     : clXMLNode::TYPE_TAG;
        add(type, t.substr(nameBegin, nameEnd - nameBegin), std::move(attributes));
        if (type == clXMLNode::TYPE_TAG) ++depth;
        pos = textStart = end;
    }
    return nodes;
}

}  // namespace model

// A tag's value that holds both quotes goes between '"', each '"' as
// "&quot;"; an instruction escapes nothing and writes a name whose value
// is empty bare.
void appendAttributes(std::string& line, const clXMLNode::tyAttributeList& list, bool instruction = false) {
    for (const clXMLNode::tyAttribute& entry : list) {
        if (entry.first.empty() && entry.second.empty()) continue;
        line += ' ' + entry.first;
        if (instruction && entry.second.empty()) continue;
        const bool doubleQuote = entry.second.find('"') != std::string::npos;
        std::string value = entry.second;
        if (doubleQuote && !instruction && value.find('\'') != std::string::npos) {
            value.clear();
            for (const char c : entry.second) value += c == '"' ? std::string("&quot;") : std::string(1, c);
        }
        const char quote = doubleQuote && value == entry.second ? '\'' : '"';
        line += '=';
        line += quote + value + quote;
    }
}

// The writer's text for the recorded tree as root's print writes it,
// built independently of the library; lineEnds receives, for each record,
// the offset just past the line it opens with (the tag's line for the text
// written on it).
std::string expectedExport(const Records& nodes, std::vector<std::size_t>& lineEnds) {
    std::string text;
    lineEnds.clear();
    std::vector<const Record*> open;  // opening tags whose closing line is due
    auto closeDownTo = [&](std::size_t depth) {
        while (!open.empty() && open.back()->depth >= depth) {
            text.append(2 * open.back()->depth, ' ');
            text += "</" + open.back()->key + ">\n";
            open.pop_back();
        }
    };
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const Record& r = nodes[i];
        closeDownTo(r.depth);
        const std::size_t width = 2 * r.depth;
        switch (r.type) {
        case clXMLNode::TYPE_TAG:
            text.append(width, ' ');
            text += '<' + r.key;
            appendAttributes(text, r.attributes);
            // Nothing, or only a text, goes on the tag's own line.
            if (r.children == 0) {
                text += "></" + r.key + ">\n";
            } else if (r.children == 1 && nodes[i + 1].type == clXMLNode::TYPE_ELEMENT &&
                       nodes[i + 1].children == 0) {
                text += '>' + nodes[i + 1].key + "</" + r.key + ">\n";
                lineEnds.push_back(text.size());
                ++i;
            } else {
                text += ">\n";
                open.push_back(&r);
            }
            break;
        case clXMLNode::TYPE_EMPTY_TAG:
            text.append(width, ' ');
            text += '<' + r.key;
            appendAttributes(text, r.attributes);
            text += "/>\n";
            break;
        case clXMLNode::TYPE_ELEMENT:
            text += r.key + '\n';
            break;
        case clXMLNode::TYPE_DECLARATION:
            text.append(width, ' ');
            text += "<?" + r.key;
            appendAttributes(text, r.attributes, true);
            text += "?>\n";
            break;
        case clXMLNode::TYPE_COMMENT:
            text.append(width, ' ');
            text += "<!--" + r.key + "-->\n";
            break;
        default:
            break;
        }
        lineEnds.push_back(text.size());
    }
    closeDownTo(0);
    return text;
}

// root's print: the layout without the document's XML head.
std::string exportOf(const clXML& document) {
    std::ostringstream out;
    document.root.print(&out, 0);
    return out.str();
}

std::string documentPrintOf(const clXML& document) {
    std::ostringstream out;
    document.print(&out);
    return out.str();
}

// The document's print, from root's: a leading byte-order mark's line cut
// to the mark (and its line end too when the XML declaration follows),
// and that declaration, when it opens the document, without indentation.
std::string expectedDocumentText(const Records& nodes, const std::string& exported,
                                 const std::vector<std::size_t>& lineEnds) {
    const std::string mark = "\xEF\xBB\xBF";
    std::string head;
    std::size_t next = 0;
    std::size_t from = 0;  // where the rest of root's text starts
    if (!nodes.empty() && nodes[0].type == clXMLNode::TYPE_ELEMENT && nodes[0].children == 0 &&
        nodes[0].key.rfind(mark, 0) == 0 && nodes[0].key.find_first_not_of(" \t\r\n", mark.size()) == std::string::npos) {
        head = mark + '\n';
        from = lineEnds[0];
        next = 1;
    }
    if (next < nodes.size() && nodes[next].type == clXMLNode::TYPE_DECLARATION && nodes[next].key == "xml" &&
        nodes[next].children == 0) {
        if (next == 1) head = mark;
        head += exported.substr(from + 2, lineEnds[next] - from - 2);
        from = lineEnds[next];
    }
    return head + exported.substr(from);
}

// The files' writer: large blocks, no flushes.
std::string blockExportOf(const clXML& document) {
    std::ostringstream out;
    document.exportStream(&out);
    return out.str();
}

// What the tool writes for the recorded tree: the declaration line, an LF
// and the export with the host's line ends (an LF that follows a CR keeps
// its own). When the export's first '>' lies in a top-level declaration
// named xml, the export up to that '>' is left out; otherwise a leading
// byte-order mark's line is.
std::string expectedReplacement(const Records& nodes, const std::string& exported,
                                const std::vector<std::size_t>& lineEnds) {
    const std::string mark = "\xEF\xBB\xBF";
    const char* const space = " \t\r\n";
    std::size_t cut = 0;
    std::string encoding = "UTF-8";
    const std::size_t firstTagEnd = exported.find('>');
    std::size_t holder = 0;  // the record whose line holds that '>'
    while (holder < nodes.size() && lineEnds[holder] <= firstTagEnd) ++holder;
    std::size_t top = holder;  // and its top-level node
    while (top < nodes.size() && nodes[top].depth > 1) --top;
    if (top < nodes.size() && nodes[top].type == clXMLNode::TYPE_DECLARATION && nodes[top].key == "xml") {
        cut = lineEnds[top] - 1;
        for (const clXMLNode::tyAttribute& entry : nodes[top].attributes) {
            if (entry.first != "encoding") continue;
            std::string upper;
            bool legal = !entry.second.empty() && std::isalpha(static_cast<unsigned char>(entry.second[0]));
            for (unsigned char c : entry.second) {
                legal = legal && c < 0x80 && (std::isalnum(c) || c == '.' || c == '_' || c == '-');
                upper += static_cast<char>(std::toupper(c));
            }
            if (legal && upper != "UTF-8" && upper != "UTF8") encoding = entry.second;
            break;
        }
    } else if (!nodes.empty() && nodes[0].type == clXMLNode::TYPE_ELEMENT && nodes[0].key.rfind(mark, 0) == 0 &&
               nodes[0].key.find_first_not_of(space, mark.size()) == std::string::npos) {
        cut = lineEnds[0];
    }
    std::string body;
    for (std::size_t i = cut; i < exported.size(); ++i) {
        if (exported[i] == '\n' && !(i > cut && exported[i - 1] == '\r')) body += host::textLineEnd;
        else body += exported[i];
    }
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>\n" + body;
}

// The driver's output must be that, and the room it sets aside its size.
std::string checkReplacement(const clXML& document, const Records& nodes, const std::string& exported,
                             const std::vector<std::size_t>& lineEnds) {
    std::stringbuf file;
    if (!writeReplacement(document, file)) return "writeReplacement failed on a buffer that takes everything";
    if (file.str() != expectedReplacement(nodes, exported, lineEnds))
        return "the output is not the declaration line and the export after the document's own head";
    if (replacementSize(document) != file.str().size()) return "replacementSize is not what is written";
    return {};
}

std::size_t firstWithKey(const Records& nodes, const std::string& key) {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (nodes[i].key == key) return i;
    }
    return nodes.size();
}

std::string checkLookup(clXML& document, const Records& nodes, const std::string& name) {
    const std::size_t index = firstWithKey(nodes, name);
    const clXMLNode* found = document.find(name);
    const Tree* expected = index < nodes.size() ? nodes[index].node : nullptr;
    if (found != expected) return "find(\"" + name + "\") is not the first node of that name in pre-order";
    if (found && found->getTag() != name) return "find(\"" + name + "\") returned a node of another tag";
    if (static_cast<const clXML&>(document).find(name) != found)
        return "the const and non-const find(\"" + name + "\") disagree";
    std::string text;
    if (index + 1 < nodes.size() && nodes[index].children > 0 &&
        nodes[index + 1].type == clXMLNode::TYPE_ELEMENT)
        text = nodes[index + 1].key;
    if (document.getElement(name) != text) return "getElement(\"" + name + "\") is not its first child's text";
    return {};
}

// Routes std::cout into a string while the rules run.
class clCoutCapture {
public:
    clCoutCapture() : saved(std::cout.rdbuf(captured.rdbuf())) {}
    ~clCoutCapture() { std::cout.rdbuf(saved); }
    clCoutCapture(const clCoutCapture&) = delete;
    clCoutCapture& operator=(const clCoutCapture&) = delete;
    std::string text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* saved;
};

// The first tag or empty tag named name: the only node a rule looks at.
std::size_t firstElement(const Records& nodes, const std::string& name) {
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const bool element = nodes[i].type == clXMLNode::TYPE_TAG || nodes[i].type == clXMLNode::TYPE_EMPTY_TAG;
        if (element && nodes[i].key == name) return i;
    }
    return nodes.size();
}

// What the two rules must do to the recorded tree; answers whether each
// one applies.
std::pair<bool, bool> applyRulesToRecords(Records& nodes) {
    bool swf = false;
    bool fileAttributes = false;
    const std::size_t s = firstElement(nodes, "swf");
    if (s < nodes.size()) {
        for (clXMLNode::tyAttribute& entry : nodes[s].attributes) {
            if (entry.first != "version") continue;
            if (entry.second == "6" || entry.second == "7" || entry.second == "8") {
                entry.second = "10";
                swf = true;
            }
            break;
        }
    }
    const std::size_t f = firstElement(nodes, "FileAttributes");
    if (f < nodes.size()) {
        bool present = false;
        for (const clXMLNode::tyAttribute& entry : nodes[f].attributes) present = present || entry.first == "allowABC";
        if (!present) {
            nodes[f].attributes.emplace_back("allowABC", "1");
            fileAttributes = true;
        }
    }
    return {swf, fileAttributes};
}

std::string compareRecords(const Records& actual, const Records& expected) {
    if (actual.size() != expected.size()) return "the rules changed the number of nodes";
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const Record& a = actual[i];
        const Record& e = expected[i];
        if (a.node != e.node || a.depth != e.depth || a.children != e.children)
            return "the rules changed the tree's shape at node " + std::to_string(i);
        if (a.type != e.type) return "the rules changed the kind of node " + std::to_string(i);
        if (a.key != e.key) return "the rules changed the key of node " + std::to_string(i);
        if (a.attributes != e.attributes)
            return "the attributes of node " + std::to_string(i) + " are not what the rules must leave";
    }
    return {};
}

// The parsed tree must be what the reading rules give.
std::string compareWithModel(const Records& parsed, const Records& modelled) {
    for (std::size_t i = 0; i < parsed.size() && i < modelled.size(); ++i) {
        const Record& a = parsed[i];
        const Record& e = modelled[i];
        if (a.depth != e.depth || a.type != e.type || a.key != e.key || a.attributes != e.attributes)
            return "node " + std::to_string(i) + " is not what the reading rules give";
    }
    if (parsed.size() != modelled.size()) return "the reading rules give another number of nodes";
    return {};
}

std::string checkTree(const clXML& document, std::size_t limit, Records& nodes,
                      std::string& exported, const char* when) {
    std::string fault = takeSnapshot(document, limit, nodes);
    if (!fault.empty()) return fault + " (" + when + ")";
    if (document.isLoad() == nodes.empty()) return std::string("isLoad() disagrees with the tree (") + when + ")";
    exported = exportOf(document);
    std::vector<std::size_t> lineEnds;
    if (exported != expectedExport(nodes, lineEnds))
        return std::string("the export is not the writer's text for the tree (") + when + ")";
    if (!document.isLoad() && !exported.empty()) return "a document without nodes exported something";
    const std::string asXml = documentPrintOf(document);
    if (asXml != expectedDocumentText(nodes, exported, lineEnds))
        return std::string("the document's print is not root's with an XML head (") + when + ")";
    if (blockExportOf(document) != asXml)
        return std::string("the block export differs from the document's print (") + when + ")";
    fault = checkReplacement(document, nodes, exported, lineEnds);
    return fault.empty() ? fault : fault + " (" + when + ")";
}

}  // namespace

std::string findRoadFault(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    std::string text(bytes, size);
    text.push_back('\0');  // exactly what the loader hands the parser
    const std::size_t limit = text.size() + 1;

    clXML document;
    document.parse(nullptr, text, 0);
    Records before;
    std::string exported;
    std::string fault = checkTree(document, limit, before, exported, "as parsed");
    if (!fault.empty()) return fault;
    fault = compareWithModel(before, model::parse(std::string(bytes, size)));
    if (!fault.empty()) return fault;

    {
        clXML again;
        again.parse(nullptr, text, 0);
        if (exportOf(again) != exported) return "two parses of the same bytes export different text";
    }

    for (const char* name : {"swf", "FileAttributes", ""}) {
        if (*name) fault = checkLookup(document, before, name);
        else if (document.find(name) != &document.root) fault = "find(\"\") is not the root";
        if (!fault.empty()) return fault;
    }

    Records expected = before;
    const std::pair<bool, bool> applies = applyRulesToRecords(expected);
    std::string messages;
    bool swfChanged;
    bool fileAttributesChanged;
    {
        clCoutCapture capture;
        swfChanged = changeSwfTag(document);
        fileAttributesChanged = changeFileAttributesTag(document);
        messages = capture.text();
    }
    if (swfChanged != applies.first) return "changeSwfTag's answer is wrong";
    if (fileAttributesChanged != applies.second) return "changeFileAttributesTag's answer is wrong";
    std::string lines;
    if (swfChanged) lines += "swf tag changed\n";
    if (fileAttributesChanged) lines += "FileAttributes tag changed\n";
    if (messages != lines) return "the rules printed \"" + messages + "\"";

    Records after;
    std::string patched;
    fault = checkTree(document, limit, after, patched, "after the rules");
    if (!fault.empty()) return fault;
    fault = compareRecords(after, expected);
    if (!fault.empty()) return fault;

    {
        clCoutCapture capture;
        if (changeSwfTag(document) || changeFileAttributesTag(document) || !capture.text().empty())
            return "a rule applied twice to the same document";
    }
    if (exportOf(document) != patched) return "rules that answered false changed the export";

    // Teardown after the rules, then parsing into the emptied document and
    // appending a second parse behind the first.
    document.root.removeChildren();
    if (document.isLoad() || !exportOf(document).empty()) return "an emptied document still holds nodes";
    document.parse(nullptr, text, 0);
    if (exportOf(document) != exported) return "parsing again into the emptied document exports different text";
    document.parse(nullptr, text, 0);
    if (exportOf(document) != exported + exported) return "a second parse did not append the same nodes";

    // The parser's other entries: a start inside the text, and a text
    // without the loader's trailing NUL.
    clXML offset;
    offset.parse(nullptr, text, text.size() / 2);
    fault = takeSnapshot(offset, limit, after);
    if (!fault.empty()) return fault + " (parsed from the middle)";
    clXML raw;
    raw.parse(nullptr, std::string(bytes, size), 0);
    fault = takeSnapshot(raw, limit, after);
    if (!fault.empty()) return fault + " (parsed without the trailing NUL)";
    return {};
}

void checkDocumentRoad(const std::uint8_t* data, std::size_t size) {
    const std::string fault = findRoadFault(data, size);
    if (fault.empty()) return;
    std::fprintf(stderr, "document road broken: %s\n", fault.c_str());
    std::abort();
}
