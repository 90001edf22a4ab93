// Every seed of the fuzz corpus and every input that ever broke the fuzz
// target, run through the document road once each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <ostream>

#include "fuzz/road.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace {

struct Input {
    std::string name;  // a test name: the set and the file name, [A-Za-z0-9_] only
    fs::path path;
};

std::vector<Input> inputsIn(const char* directory, const std::string& set) {
    std::vector<Input> inputs;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory, error)) {
        if (!entry.is_regular_file()) continue;
        const std::string file = entry.path().filename().string();
        if (file.rfind("README", 0) == 0) continue;
        std::string name = set + "_" + file;
        for (char& c : name) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (!plain) c = '_';
        }
        inputs.push_back({name, entry.path()});
    }
    std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.path < b.path; });
    return inputs;
}

std::vector<Input> allInputs() {
    std::vector<Input> inputs = inputsIn(QOR_CORPUS_DIR, "corpus");
    const std::vector<Input> regressions = inputsIn(QOR_REGRESSIONS_DIR, "regression");
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    return inputs;
}

// Names the input by its file in test listings.
void PrintTo(const Input& input, std::ostream* out) { *out << input.path.filename().string(); }

class ReplayTest : public ::testing::TestWithParam<Input> {};

TEST_P(ReplayTest, RoadHoldsItsInvariants) {
    const fs::path& path = GetParam().path;
    const std::string bytes = qor_test::readFile(path.string());
    ASSERT_EQ(bytes.size(), fs::file_size(path)) << path;
    EXPECT_EQ(findRoadFault(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "") << path;
}

INSTANTIATE_TEST_SUITE_P(Inputs, ReplayTest, ::testing::ValuesIn(allInputs()),
                         [](const ::testing::TestParamInfo<Input>& info) { return info.param.name; });

TEST(ReplaySet, CorpusHoldsTheSeeds) {
    EXPECT_GE(inputsIn(QOR_CORPUS_DIR, "corpus").size(), 20u);
    EXPECT_TRUE(fs::is_directory(QOR_REGRESSIONS_DIR));
}

}  // namespace
