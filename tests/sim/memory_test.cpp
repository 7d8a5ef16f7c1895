// Memory of a simulated mouse: the factory image of each class and the wrap-around of a
// smaller memory (the host's memory-end probe runs against it in the image tests).
#include <gtest/gtest.h>

#include "sim/sim_grammar.h"
#include "sim/sim_mouse.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

SimMouse MakeMouse(const char* item) {
    auto config = ParseSimDevice(item);
    EXPECT_TRUE(config) << config.message();
    return SimMouse(*config);
}

struct ImageCase {
    const char* item;
    std::vector<std::pair<uint32_t, Bytes>> expect;  // address, bytes from there
};

const ImageCase kImages[] = {
    {"g0",
     {{0x000, {0x12, 0x00, 0x01, 0x00, 16, 16, 32, 32, 64, 64, 144, 144, 80, 80, 0x00, 0x10}},
      {0x010, {0x12, 0x12, 0x00, 0x07}},
      {0x070, {0x12, 0x12, 0x00, 0x0C}},
      {0x190, {0x12, 0x12, 0x00, 0x3C}}}},
    {"g5",
     {{0x000,
       {0x12, 0x00, 0x01, 16, 16, 32, 32, 64, 64, 144, 144, 80, 80, 0x00, 0x10, 0x00, 0x00, 0x00}},
      {0x020, {0x00, 0x00, 0x07, 0xFF, 0x2C, 0x00}},
      {0x0A0, {0x00, 0x00, 0x07, 0x00, 0xFF, 0x00}}}},
    {"g12/blank", {{0x000, {0xFF, 0xFF, 0xFF}}, {0x340, {0xFF}}}},
};

class FactoryImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(FactoryImage, HoldsTheInitialisedImageOfItsClass) {
    SimMouse mouse = MakeMouse(GetParam().item);
    for (const auto& [address, bytes] : GetParam().expect) {
        Bytes got;
        for (size_t i = 0; i < bytes.size(); ++i) got.push_back(mouse.Peek(address + i));
        EXPECT_EQ(got, bytes) << "at 0x" << std::hex << address;
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, FactoryImage, ::testing::ValuesIn(kImages));

struct WrapCase {
    const char* item;
    Bytes request;       // writes two bytes 0xA1 0xA2
    uint32_t firstByte;  // where 0xA1 lands
    uint32_t secondByte;
};

const WrapCase kWraps[] = {
    {"g12/mem=8k", LongRequest({0x03, 0xFF, 0xFF, 0x02, 0xA1, 0xA2}), 0x1FFF, 0x0000},
    {"g12/mem=64k", LongRequest({0x03, 0xFF, 0xFF, 0x02, 0xA1, 0xA2}), 0xFFFF, 0x0000},
    {"g5/mem=8k", LongRequest({0x01, 0x03, 0x00, 0x20, 0x02, 0xA1, 0xA2}), 0x0000, 0x0001},
    {"g0/mem=16k", Short({0x05, 0x01, 0x05, 0x40, 0x00, 0xA1}), 0x0005, 0x0005},
};

class WrapAround : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapAround, AddressesBeyondTheMemoryWrap) {
    SimMouse mouse = MakeMouse(GetParam().item);
    ASSERT_EQ(mouse.HandleRequest(GetParam().request), SimRequestOutcome::Accepted);
    const auto memory = mouse.Memory();
    EXPECT_EQ(memory[GetParam().firstByte], 0xA1);
    if (GetParam().secondByte != GetParam().firstByte) {
        EXPECT_EQ(memory[GetParam().secondByte], 0xA2);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, WrapAround, ::testing::ValuesIn(kWraps));

}  // namespace
}  // namespace qvm::test
