// The 64-byte firmware of generations 1 to 10 and 11 and above. Replies are written out
// as their non-zero bytes (offset, value), check byte at 63 included.
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
    {"StatusOfGeneration5", 5, true,
     {{kStatus, Long({{0, 0x01}, {8, 0x01}, {21, 0x20}, {22, 0x20}, {63, 0x01}})}}},
    {"NotifyUpdateTogglesStatusByte10Bit6", 5, true,
     {{kNotify, Long({{0, 0x01}})},
      {kStatus,
       Long({{0, 0x01}, {1, 0x40}, {8, 0x01}, {10, 0x40}, {21, 0x20}, {22, 0x20}, {63, 0x01}})},
      {kNotify, Long({{0, 0x01}})},
      {kStatus, Long({{0, 0x01}, {1, 0x40}, {8, 0x01}, {21, 0x20}, {22, 0x20}, {63, 0x41}})}}},
    {"ReadMemoryOfClassB", 5, true,
     {{LongRequest({0x01, 0x00, 0x00, 0x00, 0x00}),
       Long({{0, 0x01},  {1, 0x01},  {2, 0x12},  {4, 0x01},  {5, 0x10},  {6, 0x10},  {7, 0x20},
             {8, 0x20},  {9, 0x40},  {10, 0x40}, {11, 0x90}, {12, 0x90}, {13, 0x50}, {14, 0x50},
             {16, 0x10}, {19, 0x02}, {36, 0x07}, {37, 0xFF}, {38, 0x2C}, {63, 0xD4}})}}},
    {"InfoPageNeedsPageModeFirst", 5, true,
     {{LongRequest({0x01, 0x00, 0x01, 0x24}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})},
      {LongRequest({0x01, 0x06, 0x02, 0x02}), Long({{0, 0x01}, {1, 0x41}, {63, 0x41}})},
      {LongRequest({0x01, 0x00, 0x01, 0x24}),
       Long({{0, 0x01},  {1, 0x01},  {2, 0x04},  {3, 0x01},  {6, 0x04},  {7, 0x02},
             {10, 0x04}, {11, 0x04}, {14, 0x04}, {15, 0x08}, {18, 0x04}, {19, 0x10},
             {22, 0x0C}, {26, 0x0D}, {30, 0x0E}, {34, 0x11}, {38, 0x08}, {41, 0xFF},
             {42, 0x08}, {43, 0x0A}, {45, 0xFF}, {46, 0x08}, {47, 0x1A}, {49, 0xFF},
             {50, 0x13}, {54, 0x14}, {58, 0x01}, {63, 0xE5}})}}},
    {"WriteBlockThenReadBack", 5, true,
     {{LongRequest({0x01, 0x03, 0x00, 0x05, 0x03, 0xAA, 0xBB, 0xCC}),
       Long({{0, 0x01}, {1, 0x01}, {63, 0x01}})},
      {LongRequest({0x01, 0x00, 0x00, 0xFF, 0x04}),
       Long({{0, 0x01}, {1, 0x41}, {3, 0xAA}, {4, 0xBB}, {5, 0xCC}, {63, 0x9C}})}}},
    {"WriteBlockOf33BytesIsRefused", 5, true,
     {{LongRequest({0x01, 0x03, 0x00, 0x05, 0x21}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
    {"LightingEffectAboveFourIsRefused", 5, true,
     {{LongRequest({0x01, 0x04, 0x03, 0x01, 0x05}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
    {"Generation2HasNoLighting", 2, false,
     {{LongRequest({0x01, 0x04, 0x03, 0x01, 0x02}), Long({{0, 0x01}, {1, 0x3F}, {63, 0x3F}})}}},
    {"StatusOfGeneration12CarriesTheMemoryTop", 12, false,
     {{kStatus,
       Long({{0, 0x01}, {13, 0xFF}, {14, 0xFF}, {15, 0x10}, {16, 0x10}, {17, 0x01}, {63, 0x01}})}}},
    {"HostModeOfGeneration12", 12, false,
     {{LongRequest({0x00, 0x01, 0x12, 0x09}), Long({{0, 0x01}})},
      {kStatus, Long({{0, 0x01}, {1, 0x40}, {12, 0x09}, {13, 0xFF}, {14, 0xFF}, {15, 0x10},
                      {16, 0x10}, {17, 0x01}, {63, 0x48}})}}},
    {"ReadMemoryOfClassC", 12, false,
     {{LongRequest({0x02, 0x00, 0x00}),
       Long({{0, 0x01},  {1, 0x02},  {2, 0x12},  {4, 0x01},  {5, 0x08},  {6, 0x08},  {7, 0x10},
             {8, 0x10},  {9, 0x20},  {10, 0x20}, {11, 0xA0}, {12, 0xA0}, {13, 0x50}, {14, 0x50},
             {16, 0x10}, {19, 0x02}, {36, 0x07}, {37, 0xFF}, {38, 0x2C}, {63, 0xD7}})}}},
    {"Record30IsScrollUp", 12, false,
     {{LongRequest({0x0A, 0x1E, 0x01}),
       Long({{0, 0x01}, {1, 0x0A}, {2, 0x04}, {4, 0x01}, {63, 0x0F}})}}},
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

// Immediate settings: the request, and what the live state shows afterwards.
struct LiveCase {
    const char* name;
    int generation;
    Bytes request;
    SimMouseState (*expect)(SimMouseState);
};

// Profile, stage, stage values, live bytes/word and lighting are exercised end to end
// by the host cross-check; these are the live commands the host does not drive there.
const LiveCase kLiveCases[] = {
    {"Gen5ColourPart", 5, LongRequest({0x01, 0x05, 0x00, 0x01, 0x99}),
     [](SimMouseState s) { return s.profileColour[1] = 0x99, s; }},
    {"Gen5LedPreview", 5, LongRequest({0x01, 0x08, 0x02, 0x03, 0x00, 0x80, 0x11, 0x22, 0x33}),
     [](SimMouseState s) {
         return s.leds[3] = {0x11, 0x22, 0x33, 0x80}, s;
     }},
    {"Gen12LedPreview", 12, LongRequest({0x13, 0x0F, 0x40, 0x01, 0x02, 0x03}),
     [](SimMouseState s) {
         return s.leds[15] = {0x01, 0x02, 0x03, 0x40}, s;
     }},
    {"Gen12PageMode", 12, LongRequest({0x01, 0x06, 0x02, 0x02}),
     [](SimMouseState s) { return s.pageMode = true, s; }},
};

class LiveCommands : public ::testing::TestWithParam<LiveCase> {};

bool SameLiveState(const SimMouseState& a, const SimMouseState& b) {
    return a.hostMode == b.hostMode && a.profile == b.profile && a.stage == b.stage &&
           a.stageValues == b.stageValues && a.liveWord == b.liveWord &&
           a.liveBytes == b.liveBytes && a.lightingEffect == b.lightingEffect &&
           a.profileColour == b.profileColour && a.leds == b.leds && a.pageMode == b.pageMode;
}

TEST_P(LiveCommands, ChangeExactlyTheirState) {
    const LiveCase& c = GetParam();
    SimMouse mouse(DefaultMouse(c.generation, c.generation >= 3 && c.generation <= 10));
    const SimMouseState before = mouse.State();
    ASSERT_EQ(mouse.HandleRequest(c.request), SimRequestOutcome::Accepted);
    EXPECT_TRUE(SameLiveState(mouse.State(), c.expect(before)));
}

INSTANTIATE_TEST_SUITE_P(Generations, LiveCommands, ::testing::ValuesIn(kLiveCases),
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
