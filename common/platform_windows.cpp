// The library's host layer on Windows: files are read, never mapped.
#ifdef _WIN32

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/platform.h"

namespace qor {
namespace platform {

void setFileMapping(bool) {}

clFileBytes::~clFileBytes() { close(); }

bool clFileBytes::open(const std::string& path) {
    close();
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size >= buffer.max_size()) return false;
    std::ifstream in(path, std::ios::in | std::ios::binary);
    if (!in) return false;
    buffer.assign(static_cast<std::size_t>(size), '\0');
    in.read(&buffer[0], static_cast<std::streamsize>(size));
    buffer.resize(static_cast<std::size_t>(in.gcount()));  // shrunk meanwhile: what could be read
    bytes = buffer.data();
    length = buffer.size();
    return true;
}

void clFileBytes::discardBefore(std::size_t) {}

void clFileBytes::close() {
    std::string().swap(buffer);
    bytes = nullptr;
    length = 0;
}

}  // namespace platform
}  // namespace qor

#endif
