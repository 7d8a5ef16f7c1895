// The 64-byte firmware where the host cross-check cannot reach it: the update session,
// page mode and the requests the firmware refuses. Replies are written out as their
// non-zero bytes (offset, value), check byte at 63 included.
// Generation 5x defaults: 32 KiB, identity 0x0F / 160, stages 16 32 64 144 80, stage 1.
// Generation 12 defaults: 64 KiB, identity 0x12 / 160, stages 8 16 32 160 80, stage 1.
#include <gtest/gtest.h>

#include "sim/sim_config.h"
#include "sim/sim_mouse.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

struct Step {
    Bytes request;
    Bytes reply;
};

struct Script {
    const char* name;
    int generation;
    bool extended;
    std::vector<Step> steps;
};

const Bytes kStatus = LongRequest({});
const Bytes kNotify = LongRequest({0x00, 0x12, 0x12});

// clang-format off
const Script kScripts[] = {
    {"NotifyUpdateTogglesStatusByte10Bit6", 5, true,
     {{kNotify, Long({{0, 0x01}})},
      {kStatus,
       Long({{0, 0x01}, {1, 0x40}, {8, 0x01}, {10, 0x40}, {21, 0x20}, {22, 0x20}, {63, 0x01}})},
      {kNotify, Long({{0, 0x01}})},
      {kStatus, Long({{0, 0x01}, {1, 0x40}, {8, 0x01}, {21, 0x20}, {22, 0x20}, {63, 0x41}})}}},
    {"InfoPageNeedsPageModeFirst", 5, true,
     {{LongRequest({0x01, 0x00, 0x01, 0x24}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})},
      {LongRequest({0x01, 0x06, 0x02, 0x02}), Long({{0, 0x01}, {1, 0x41}, {63, 0x41}})},
      {LongRequest({0x01, 0x00, 0x01, 0x24}),
       Long({{0, 0x01},  {1, 0x01},  {2, 0x04},  {3, 0x01},  {6, 0x04},  {7, 0x02},
             {10, 0x04}, {11, 0x04}, {14, 0x04}, {15, 0x08}, {18, 0x04}, {19, 0x10},
             {22, 0x0C}, {26, 0x0D}, {30, 0x0E}, {34, 0x11}, {38, 0x08}, {41, 0xFF},
             {42, 0x08}, {43, 0x0A}, {45, 0xFF}, {46, 0x08}, {47, 0x1A}, {49, 0xFF},
             {50, 0x13}, {54, 0x14}, {58, 0x01}, {63, 0xE5}})}}},
    {"WriteBlockOf33BytesIsRefused", 5, true,
     {{LongRequest({0x01, 0x03, 0x00, 0x05, 0x21}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
    {"LightingEffectAboveFourIsRefused", 5, true,
     {{LongRequest({0x01, 0x04, 0x03, 0x01, 0x05}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
    {"Generation2HasNoLighting", 2, false,
     {{LongRequest({0x01, 0x04, 0x03, 0x01, 0x02}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
    {"Record32IsRefused", 12, false,
     {{LongRequest({0x0A, 0x20, 0x01}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
    {"Generation12DoesNotKnowTheGeneration5Read", 12, false,
     {{LongRequest({0x01, 0x00, 0x00, 0x00, 0x00}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
};
// clang-format on

class LongFirmware : public ::testing::TestWithParam<Script> {};

TEST_P(LongFirmware, RepliesByteForByte) {
    const Script& script = GetParam();
    SimMouse mouse(DefaultMouse(script.generation, script.extended));
    int step = 0;
    for (const Step& s : script.steps) {
        EXPECT_EQ(Exchange(mouse, s.request), s.reply) << "step " << step;
        ++step;
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, LongFirmware, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LongFirmwareState, ClosingTheUpdateSessionAppliesMemory) {
    SimMouse mouse(DefaultMouse(12, false));
    Exchange(mouse, kNotify);
    Exchange(mouse, LongRequest({0x03, 0x0E, 0x00, 0x01, 0x21}));  // angle snapping, rate 2
    EXPECT_FALSE(mouse.State().angleSnapping);
    Exchange(mouse, kNotify);
    EXPECT_TRUE(mouse.State().angleSnapping);
    EXPECT_EQ(mouse.State().reportRate, 2);
}

TEST(LongFirmwareState, StageCommandKeepsTheStageInMemoryByte2) {
    SimMouse mouse(DefaultMouse(5, true));
    mouse.Poke(0x02, 0xF9);  // bits 3-7 belong to something else
    Exchange(mouse, LongRequest({0x01, 0x07, 0x00, 0x03}));
    EXPECT_EQ(mouse.Peek(0x02), 0xFB);
}

}  // namespace
}  // namespace qvm::test
