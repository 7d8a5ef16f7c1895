// Runs the decoders' fuzz target over a fixed corpus and pseudo-random inputs, so every
// test run (under the sanitizers) exercises it even where no fuzzing engine is built.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> SeedCorpus() {
    std::vector<std::vector<uint8_t>> seeds = {
        {},
        {0x63},
        {0x63, 0x00},
        {0x62, 1, 0, 0xFF, 0xFF},
        {0x0C, 0x12},
        {0x0C, 0x12, 0x02},
        {0x0C, 0x12, 0x03, 0xFF, 0xF0, 0xF0},
        {0x0C, 0x12, 98, 0xFF, 0xFF, 0x7F, 0x7F, 0, 0, 0xC0, 0x7F, 0, 0, 0x80, 0xFF},
        {0x0C, 0x12, 0x03, 0x00},
    };
    for (uint8_t code : {1, 2, 3, 4, 10, 13, 98, 99}) {
        seeds.push_back(std::vector<uint8_t>(100, 0xFF));
        seeds.back()[0] = 0x0C, seeds.back()[1] = 0x12, seeds.back()[2] = code;
    }
    std::vector<uint8_t> status(400, 0xFF);
    status[0] = 0x0C, status[1] = 0x12, status[2] = 3;
    seeds.push_back(status);
    status[2] = 0;
    seeds.push_back(status);
    return seeds;
}

TEST(RemoteDecodeFuzz, CorpusAndRandomInputs) {
    for (const auto& seed : SeedCorpus()) {
        // A copy of exactly the seed's size, so that a read past it is caught.
        std::vector<uint8_t> input(seed);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::mt19937 random(20261206);
    for (int run = 0; run < 10000; ++run) {
        std::vector<uint8_t> input(random() % 1100);
        for (auto& byte : input) byte = static_cast<uint8_t>(random());
        if (input.size() >= 2 && run % 2 == 0) input[0] = 0x0C, input[1] = 0x12;
        if (input.size() >= 3 && run % 4 == 0) input[2] = static_cast<uint8_t>(run % 100);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
}

}  // namespace
