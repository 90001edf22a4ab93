#include "support/scratch_dir.h"

#include <random>
#include <system_error>

namespace qor_test {

namespace {

// A test may have left a directory read-only; give each back first.
void removeAll(const fs::path& path) {
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(path, ignored), end; !ignored && it != end; it.increment(ignored)) {
        if (!it->is_directory(ignored)) continue;
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path, ignored);
}

// Makes a directory that every user may enter and read, whatever the
// creation mask, as a test that plays another user needs.
bool makeDirectory(const fs::path& path) {
    if (!fs::create_directory(path)) return false;
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    return true;
}

}  // namespace

ScratchDir::ScratchDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const fs::path temporary = fs::canonical(fs::temp_directory_path());
    do {
        base = temporary / ("qor-test-" + std::to_string(random()));
    } while (!makeDirectory(base));
    makeDirectory(base / "work");
}

ScratchDir::~ScratchDir() { removeAll(base); }

std::string ScratchDir::path(const std::string& name) const {
    const std::string work = (base / "work").u8string();
    return name.empty() ? work : work + "/" + name;
}

std::string ScratchDir::beside(const std::string& name) const { return (base / name).u8string(); }

Names ScratchDir::names(bool deep) const {
    const fs::path work = base / "work";
    Names all;
    for (fs::recursive_directory_iterator it(work), end; it != end; ++it) {
        if (!deep) it.disable_recursion_pending();
        all.insert(it->path().lexically_relative(work).generic_u8string());
    }
    return all;
}

void ScratchDir::clear() const {
    removeAll(base / "work");
    makeDirectory(base / "work");
}

}  // namespace qor_test
