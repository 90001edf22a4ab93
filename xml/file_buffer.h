// A file stream buffer whose flush stays in memory: output reaches the
// system in large blocks and when the file is closed, so a writer that
// flushes at every line end costs no system call per line.
#ifndef QOR_UTILITY_FILE_BUFFER_H
#define QOR_UTILITY_FILE_BUFFER_H

#include <fstream>
#include <memory>

namespace qor {
namespace utility {

class clFileBuffer : public std::filebuf {
public:
    static constexpr std::streamsize blockSize = 1 << 20;

    // The block must be installed before the file is opened.
    clFileBuffer() : block(new char[blockSize]) { setbuf(block.get(), blockSize); }
    ~clFileBuffer() override { close(); }

protected:
    int sync() override { return 0; }

private:
    std::unique_ptr<char[]> block;
};

}  // namespace utility
}  // namespace qor

#endif
