// The documents and messages the tests share, as this host writes them.
#ifndef QOR_TESTS_DOCUMENTS_H
#define QOR_TESTS_DOCUMENTS_H

#include <cstddef>
#include <string>

namespace qor_test {

// Text as the host's text mode writes it: CR LF line ends on Windows.
inline std::string hostLines(const std::string& text) {
#ifdef _WIN32
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
#else
    return text;
#endif
}

// piece, times over: the bulk of a large document.
inline std::string repeat(const std::string& piece, std::size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// A UTF-8 byte-order mark.
inline const std::string bom = "\xEF\xBB\xBF";
// The line the tool puts first.
inline const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
// What a run prints when both rules change its document.
inline const std::string bothChanged = "swf tag changed\nFileAttributes tag changed\n";

// The least movie both rules change, and what the tool writes for it.
inline const std::string movie = "<swf version=\"8\"><FileAttributes/></swf>";
inline const std::string patchedMovie =
    declaration + hostLines("  <swf version=\"10\">\n    <FileAttributes allowABC=\"1\"/>\n  </swf>\n");

// A movie both rules change, with a data block of dataBytes fill bytes,
// and what the tool writes for it.
inline std::string movieWithData(std::size_t dataBytes, char fill = 'A') {
    return "<?xml version=\"1.0\"?>\n<swf version=\"8\">\n  <FileAttributes/>\n  <data>" +
           std::string(dataBytes, fill) + "</data>\n</swf>\n";
}
inline std::string patchedWithData(std::size_t dataBytes, char fill = 'A') {
    return declaration + hostLines("\n  <swf version=\"10\">\n    <FileAttributes allowABC=\"1\"/>\n    <data>" +
                                   std::string(dataBytes, fill) + "</data>\n  </swf>\n");
}

}  // namespace qor_test

#endif
