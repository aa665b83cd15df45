// Every input that once made a fuzz target crash, hang or break one of its
// properties (kept in tests/data/fuzz/<target>/ by scripts/fuzz), and every
// seed, goes through the target again: it must come back normally.
#include "fuzz/targets.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Target {
    const char* name;
    std::function<int(const uint8_t*, size_t)> run;
    std::vector<std::string> extensions; // fixtures of tests/data that seed it
    const char* seedFolder;              // under fuzz/seeds, or nullptr
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::vector<fs::path> inputsOf(const Target& t) {
    std::vector<fs::path> inputs;
    auto addFolder = [&](const fs::path& folder, bool recursive, bool byExtension) {
        if (!fs::is_directory(folder)) return;
        auto add = [&](const fs::directory_entry& e) {
            if (!e.is_regular_file()) return;
            const std::string ext = lower(e.path().extension().string());
            if (!byExtension ||
                std::find(t.extensions.begin(), t.extensions.end(), ext) != t.extensions.end())
                inputs.push_back(e.path());
        };
        if (recursive)
            for (const auto& e : fs::recursive_directory_iterator(folder))
                add(e);
        else
            for (const auto& e : fs::directory_iterator(folder))
                add(e);
    };
    const fs::path data(KES_TEST_DATA);
    addFolder(data / "fuzz" / t.name, false, false);
    if (!t.extensions.empty()) {
        addFolder(data / "formats", true, true);
        addFolder(data / "virn-sample", true, true);
    }
    if (t.seedFolder) addFolder(fs::path(KES_FUZZ_SEEDS) / t.seedFolder, false, false);
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

class FuzzRegression : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzRegression, EveryKeptInputComesBackNormally) {
    const Target& t = GetParam();
    const std::vector<fs::path> inputs = inputsOf(t);
    ASSERT_FALSE(inputs.empty()) << "no inputs for " << t.name;
    for (const fs::path& p : inputs) {
        const std::string bytes = testsupport::readFile(p);
        EXPECT_EQ(t.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0) << p;
    }
}

const Target kTargets[] = {
    {"dbf", kesfuzz::ReadDbf, {".dbf"}, nullptr},
    {"ntx", kesfuzz::ReadNtx, {".ntx"}, nullptr},
    {"cdx", kesfuzz::ReadCdx, {".cdx"}, nullptr},
    {"expr", kesfuzz::CompileExpression, {}, "expr"},
    {"settings", kesfuzz::ReadSettings, {}, "ini"},
};

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegression, ::testing::ValuesIn(kTargets),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
