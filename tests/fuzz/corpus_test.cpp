// Runs every fuzz target over its seed corpus, in the sanitizer build of any compiler:
// the inputs that once crashed a parser stay in the corpus, so a regression shows here
// even where no fuzzing engine is built. A failed check traps and ends the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define QVM_FUZZ_TARGET(name) extern "C" int name##_TestOneInput(const uint8_t* data, size_t size);
#include "fuzz/corpus_targets.inc"
#undef QVM_FUZZ_TARGET

namespace {

struct FuzzTarget {
    const char* name;
    int (*run)(const uint8_t*, size_t);
};

constexpr FuzzTarget kTargets[] = {
#define QVM_FUZZ_TARGET(name) {#name, name##_TestOneInput},
#include "fuzz/corpus_targets.inc"
#undef QVM_FUZZ_TARGET
};

class FuzzCorpus : public testing::TestWithParam<FuzzTarget> {};

TEST_P(FuzzCorpus, EveryInputPassesItsChecks) {
    const std::filesystem::path folder =
        std::filesystem::path(QVM_FUZZ_CORPUS_DIR) / GetParam().name;
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    ASSERT_FALSE(inputs.empty()) << folder << " holds no inputs";
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        // Exactly the file's size, so that a read past the input is caught.
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        EXPECT_EQ(GetParam().run(bytes.data(), bytes.size()), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzCorpus, testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
