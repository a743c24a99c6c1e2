// Replays every input kept under regressions/<target>/ through its fuzz target:
// a valid sample, damaged ones, and any input that once crashed, hung or leaked.
#include "targets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace kavlo::fuzz {

namespace fs = std::filesystem;

void PrintTo(const NamedTarget& target, std::ostream* out) {
    *out << target.name;
}

namespace {

class FuzzRegression : public ::testing::TestWithParam<NamedTarget> {};

TEST_P(FuzzRegression, EveryKeptInputPasses) {
    const fs::path dir = fs::path(KAVLO_FUZZ_REGRESSIONS) / GetParam().name;
    ASSERT_TRUE(fs::is_directory(dir)) << "nothing kept for " << GetParam().name;
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        SCOPED_TRACE(entry.path().filename().string());
        GetParam().run(bytes.data(), bytes.size());
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}

INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzRegression, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kavlo::fuzz
