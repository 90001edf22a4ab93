// Text as the host's text mode writes it: CR LF line ends on Windows.
#ifndef QOR_TESTS_HOST_LINES_H
#define QOR_TESTS_HOST_LINES_H

#include <string>

namespace qor_test {

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

}  // namespace qor_test

#endif
