// Lighting on the simulated mice: the effect byte and the LED colour table, requests in,
// replies and kept state out.
#include <gtest/gtest.h>

#include <string>

#include "sim/sim_mouse.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

// ---- Mice ----

using Record = std::array<uint8_t, 4>;

struct MouseLightCase {
    const char* name;
    int generation;
    bool extended;
    std::vector<Bytes> before;  // accepted requests that set the scene
    Bytes request;
    SimRequestOutcome outcome;
    int effect;  // the effect the device shows afterwards
    int led;     // the LED checked afterwards
    Record shown;
    uint32_t address;  // memory checked afterwards
    Bytes stored;
};

constexpr auto kOk = SimRequestOutcome::Accepted;
constexpr auto kRefused = SimRequestOutcome::Refused;
constexpr auto kUnknown = SimRequestOutcome::Unknown;

const Bytes kZero4 = {0, 0, 0, 0};

const MouseLightCase kMouseCases[] = {
    {"EffectIsKeptInMemoryG12", 12, false, {}, LongRequest({0x12, 3}), kOk, 3, 0, {}, 0x11, {3}},
    {"EffectAboveFourRefusedG12",
     12,
     false,
     {},
     LongRequest({0x12, 5}),
     kRefused,
     2,
     0,
     {},
     0x11,
     {2}},
    {"EffectIsKeptInMemoryG5x",
     5,
     true,
     {},
     LongRequest({0x01, 0x04, 0x03, 0x01, 4}),
     kOk,
     4,
     0,
     {},
     0x11,
     {4}},
    {"EffectWithoutLedTableG5",
     5,
     false,
     {},
     LongRequest({0x01, 0x04, 0x03, 0x01, 1}),
     kOk,
     1,
     0,
     {},
     0x11,
     {1}},
    {"EffectAboveFourRefusedG5x",
     5,
     true,
     {},
     LongRequest({0x01, 0x04, 0x03, 0x01, 5}),
     kRefused,
     2,
     0,
     {},
     0x11,
     {2}},
    {"NoEffectCommandBelowG3",
     2,
     false,
     {},
     LongRequest({0x01, 0x04, 0x03, 0x01, 3}),
     kUnknown,
     0,
     0,
     {},
     0x11,
     {0}},
    {"PreviewShownNotStoredG12",
     12,
     false,
     {},
     LongRequest({0x13, 3, 0xC0, 0x11, 0x22, 0x33}),
     kOk,
     2,
     3,
     {0x11, 0x22, 0x33, 0xC0},
     0x50C,
     kZero4},
    {"PreviewShownNotStoredG5x",
     5,
     true,
     {},
     LongRequest({0x01, 0x08, 0x02, 3, 0x07, 0x80, 0x11, 0x22, 0x33}),
     kOk,
     2,
     3,
     {0x11, 0x22, 0x33, 0x80},
     0x46C,
     kZero4},
    {"PreviewRefusedWithoutLedTableG5",
     5,
     false,
     {},
     LongRequest({0x01, 0x08, 0x02, 3, 0x07, 0x80, 0x11, 0x22, 0x33}),
     kRefused,
     2,
     3,
     {},
     0x46C,
     kZero4},
    {"PreviewOfLed16RefusedG12",
     12,
     false,
     {},
     LongRequest({0x13, 16, 0x80, 1, 2, 3}),
     kRefused,
     2,
     0,
     {},
     0x540,
     kZero4},
    {"PreviewUnknownBelowG3",
     2,
     false,
     {},
     LongRequest({0x01, 0x08, 0x02, 3, 0x07, 0x80, 0x11, 0x22, 0x33}),
     kUnknown,
     0,
     3,
     {},
     0x46C,
     kZero4},
    // Choosing OFF for LED 3 of a generation 11 mouse stores 00 00 00 80 at 0x50C, and the
    // LED shows it at once.
    {"StoredRecordShownAtOnceG11",
     11,
     false,
     {LongRequest({0x13, 3, 0x80, 0xFF, 0, 0})},
     LongRequest({0x03, 0x0C, 0x05, 4, 0x00, 0x00, 0x00, 0x80}),
     kOk,
     2,
     3,
     {0, 0, 0, 0x80},
     0x50C,
     {0x00, 0x00, 0x00, 0x80}},
    {"StoredRecordShownAfterRefreshG5x",
     5,
     true,
     {LongRequest({0x01, 0x03, 0x6C, 0x04, 4, 0x01, 0x02, 0x03, 0xC0})},
     LongRequest({0x01, 0x04, 0x03, 0x00}),
     kOk,
     2,
     3,
     {0x01, 0x02, 0x03, 0xC0},
     0x46C,
     {0x01, 0x02, 0x03, 0xC0}},
    {"ReloadShowsTheStoredColourAgainG12",
     12,
     false,
     {LongRequest({0x13, 3, 0xC0, 0x11, 0x22, 0x33})},
     LongRequest({0x14}),
     kOk,
     2,
     3,
     {},
     0x50C,
     kZero4},
    {"RefreshWithOtherSubByteUnknownG5x",
     5,
     true,
     {},
     LongRequest({0x01, 0x04, 0x03, 0x02}),
     kUnknown,
     2,
     0,
     {},
     0x11,
     {2}},
};

void PrintTo(const MouseLightCase& c, std::ostream* os) {
    *os << c.name;
}

class MouseLighting : public ::testing::TestWithParam<MouseLightCase> {};

TEST_P(MouseLighting, AnswersAndKeeps) {
    const MouseLightCase& c = GetParam();
    SimMouse mouse(DefaultMouse(c.generation, c.extended));
    for (const Bytes& request : c.before) ASSERT_EQ(mouse.HandleRequest(request), kOk);
    ASSERT_EQ(mouse.HandleRequest(c.request), c.outcome);
    const auto reply = mouse.Reply();
    EXPECT_EQ(reply[0], 0x01);
    EXPECT_EQ(reply[1] & 0x3F, c.outcome == kOk ? c.request[1] : 0x3F) << "result byte";
    const SimMouseState state = mouse.State();
    EXPECT_EQ(state.lightingEffect, c.effect);
    EXPECT_EQ(state.leds[c.led], c.shown) << "LED " << c.led;
    Bytes memory;
    for (size_t i = 0; i < c.stored.size(); ++i) memory.push_back(mouse.Peek(c.address + i));
    EXPECT_EQ(memory, c.stored) << "memory at " << c.address;
}

INSTANTIATE_TEST_SUITE_P(Requests, MouseLighting, ::testing::ValuesIn(kMouseCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm::test
