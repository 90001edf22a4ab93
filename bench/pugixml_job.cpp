// pugixml_job: the tool's job done with pugixml, as a yardstick for the benchmark.
//
//   pugixml_job <in> <out>
//
// Raises swf/@version to 10, appends allowABC="1" to FileAttributes and saves
// with two-space indentation. Exit 0 when the output was written.

#include <cstdio>
#include <cstring>

#include <pugixml.hpp>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: pugixml_job <in> <out>\n");
        return 2;
    }

    pugi::xml_document doc;
    // Keep the declaration so the saved file carries it once, as the tool's output does.
    pugi::xml_parse_result loaded = doc.load_file(argv[1], pugi::parse_default | pugi::parse_declaration);
    if (!loaded) {
        std::printf("cannot load %s: %s\n", argv[1], loaded.description());
        return 1;
    }

    pugi::xml_node swf = doc.child("swf");
    pugi::xml_attribute version = swf.attribute("version");
    // Depth-first, first match, like the tool's lookup.
    pugi::xml_node fileAttributes = doc.find_node(
        [](pugi::xml_node node) { return std::strcmp(node.name(), "FileAttributes") == 0; });
    if (!version || !fileAttributes) {
        std::printf("no swf version or FileAttributes in %s\n", argv[1]);
        return 1;
    }
    version.set_value("10");
    if (!fileAttributes.attribute("allowABC")) fileAttributes.append_attribute("allowABC").set_value("1");

    if (!doc.save_file(argv[2], "  ", pugi::format_indent, pugi::encoding_utf8)) {
        std::printf("cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
