// A fresh, empty directory for one test, made under the system's temporary
// directory and removed with all it holds when the test ends.
#ifndef QOR_TESTS_SCRATCH_DIR_H
#define QOR_TESTS_SCRATCH_DIR_H

#include <filesystem>
#include <set>
#include <string>

namespace qor_test {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // The byte string naming name inside the directory (the directory
    // itself for an empty name), as the host names it back.
    std::string path(const std::string& name = "") const;
    // A name beside the directory, for what the test keeps out of it.
    std::string beside(const std::string& name) const;
    // The names in it, or with deep every name under it, links and all, as
    // a path from it: shows anything left behind.
    Names names(bool deep = false) const;
    // Empties it.
    void clear() const;

private:
    std::filesystem::path base;  // holds the directory itself, "work", and what is beside it
};

}  // namespace qor_test

#endif
