// Lighting on the simulated devices: the mouse's effect byte and LED colour table, the
// keyboard's lighting reports, byte for byte, and what of it survives a restart, in
// process and through the device bridge.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "sim/sim_keyboard.h"
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
    {"OtherWriteKeepsThePreviewG12",
     12,
     false,
     {LongRequest({0x13, 3, 0xC0, 0x11, 0x22, 0x33})},
     LongRequest({0x03, 0x00, 0x09, 1, 0x5A}),
     kOk,
     2,
     3,
     {0x11, 0x22, 0x33, 0xC0},
     0x50C,
     kZero4},
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

// ---- Keyboards ----

using Sparse = std::map<int, uint8_t>;  // byte position -> value; every other byte is 0

Bytes KbReport(uint8_t sub, const Sparse& bytes) {
    Bytes report(32, 0);
    report[0] = 0x06, report[1] = 0xBE, report[2] = sub;
    for (const auto& [at, value] : bytes) report[at] = value;
    return report;
}

const Bytes kSetRainbow = KbReport(0x15, {{4, 1},
                                          {5, 2},
                                          {6, 1},
                                          {7, 3},
                                          {8, 2},
                                          {9, 1},
                                          {12, 0xFF},
                                          {16, 0x12},
                                          {17, 0x34},
                                          {18, 0x56},
                                          {19, 1}});
const Bytes kWriteKeysFiveAndZero = KbReport(
    0x19, {{4, 1}, {6, 13}, {7, 5}, {8, 0}, {12, 0xA1}, {13, 0xA2}, {14, 0xA3}, {16, 0x0B}});

using LightingEdit = std::function<void(SimKeyboardLighting&)>;

struct KeyboardCase {
    const char* name;
    std::vector<Bytes> before;  // accepted reports that set the scene
    Bytes report;
    std::optional<Sparse> reply;  // nullopt: ignored, no reply at all
    LightingEdit expect;          // the state afterwards, from the factory state
};

void Unchanged(SimKeyboardLighting&) {}

const KeyboardCase kKeyboardCases[] = {
    {"ReadKeyLightingCarriesRgbOnly",
     {},
     KbReport(0x14, {{4, 0}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x14}, {3, 1}, {6, 1}, {7, 2}, {8, 4}, {16, 0xFF}},
     Unchanged},
    {"ReadSideLight",
     {},
     KbReport(0x14, {{4, 2}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x14}, {3, 1}, {4, 2}, {8, 4}},
     Unchanged},
    {"ReadOtherTargetRefused",
     {},
     KbReport(0x14, {{4, 1}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x14}, {4, 1}},
     Unchanged},
    {"SetEffectKeepsEveryField",
     {},
     kSetRainbow,
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {3, 1}, {4, 1}},
     [](SimKeyboardLighting& l) {
         l.effect = 1, l.speed = 3, l.brightness = 2, l.direction = 1;
         l.colour1 = {0xFF, 0, 0, 0};
         l.colour2 = {0x12, 0x34, 0x56, 1};
     }},
    {"SetEffectReadsBack",
     {kSetRainbow},
     KbReport(0x14, {{4, 0}}),
     Sparse{{0, 0x06},
            {1, 0xBE},
            {2, 0x14},
            {3, 1},
            {6, 1},
            {7, 3},
            {8, 2},
            {9, 1},
            {12, 0xFF},
            {16, 0x12},
            {17, 0x34},
            {18, 0x56}},
     [](SimKeyboardLighting& l) {
         l.effect = 1, l.speed = 3, l.brightness = 2, l.direction = 1;
         l.colour1 = {0xFF, 0, 0, 0};
         l.colour2 = {0x12, 0x34, 0x56, 1};
     }},
    {"EffectAbove13Refused",
     {},
     KbReport(0x15, {{4, 1}, {5, 2}, {6, 14}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {4, 1}},
     Unchanged},
    {"SpeedAbove4Refused",
     {},
     KbReport(0x15, {{4, 1}, {5, 2}, {6, 2}, {7, 5}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {4, 1}},
     Unchanged},
    {"BrightnessAbove4Refused",
     {},
     KbReport(0x15, {{4, 1}, {5, 2}, {6, 2}, {8, 5}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {4, 1}},
     Unchanged},
    {"DirectionAbove3Refused",
     {},
     KbReport(0x15, {{4, 1}, {5, 2}, {6, 2}, {9, 4}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {4, 1}},
     Unchanged},
    {"SideLightOff",
     {},
     KbReport(0x15, {{4, 2}, {5, 6}, {6, 6}, {8, 0}, {16, 0xFF}, {19, 1}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {3, 1}, {4, 2}},
     [](SimKeyboardLighting& l) { l.sideLight = 0; }},
    {"SideLightOffReadsBack",
     {KbReport(0x15, {{4, 2}, {5, 6}, {6, 6}, {8, 0}, {16, 0xFF}, {19, 1}})},
     KbReport(0x14, {{4, 2}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x14}, {3, 1}, {4, 2}},
     [](SimKeyboardLighting& l) { l.sideLight = 0; }},
    {"SideLevelAbove4Refused",
     {},
     KbReport(0x15, {{4, 2}, {5, 6}, {6, 6}, {8, 5}, {16, 0xFF}, {19, 1}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {4, 2}},
     Unchanged},
    {"SideWithoutItsEffectByteRefused",
     {},
     KbReport(0x15, {{4, 2}, {5, 6}, {6, 0}, {8, 0}, {16, 0xFF}, {19, 1}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x15}, {4, 2}},
     Unchanged},
    {"WriteFiveKeys",
     {},
     KbReport(0x19, {{4, 1},     {6, 13},    {7, 10},    {8, 11},    {9, 12},    {10, 13},
                     {11, 14},   {12, 0x01}, {13, 0x02}, {14, 0x03}, {16, 0x04}, {20, 0x05},
                     {24, 0x06}, {28, 0x07}, {29, 0x08}, {30, 0x09}}),
     Sparse{{0, 0x06},   {1, 0xBE},   {2, 0x19},   {3, 1},      {4, 1},      {6, 13},
            {7, 10},     {8, 11},     {9, 12},     {10, 13},    {11, 14},    {12, 0x01},
            {13, 0x02},  {14, 0x03},  {16, 0x04},  {20, 0x05},  {24, 0x06},  {28, 0x07},
            {29, 0x08},  {30, 0x09}},
     [](SimKeyboardLighting& l) {
         l.keys[10] = {1, 2, 3, 0}, l.keys[11] = {4, 0, 0, 0}, l.keys[12] = {5, 0, 0, 0};
         l.keys[13] = {6, 0, 0, 0}, l.keys[14] = {7, 8, 9, 0};
     }},
    {"ShortWriteLeavesKeyZeroAlone",
     {KbReport(0x19, {{4, 1}, {6, 13}, {7, 0}, {12, 9}, {13, 9}, {14, 9}})},
     KbReport(0x19, {{4, 1}, {6, 13}, {7, 5}, {8, 6}, {12, 1}, {16, 2}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x19}, {3, 1}, {4, 1}, {6, 13}, {7, 5}, {8, 6}, {12, 1},
            {16, 2}},
     [](SimKeyboardLighting& l) {
         l.keys[0] = {9, 9, 9, 0}, l.keys[5] = {1, 0, 0, 0}, l.keys[6] = {2, 0, 0, 0};
     }},
    {"KeyZeroInALaterSlotIsWritten",
     {},
     kWriteKeysFiveAndZero,
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x19}, {3, 1}, {4, 1}, {6, 13}, {7, 5}, {12, 0xA1},
            {13, 0xA2}, {14, 0xA3}, {16, 0x0B}},
     [](SimKeyboardLighting& l) {
         l.keys[5] = {0xA1, 0xA2, 0xA3, 0}, l.keys[0] = {0x0B, 0, 0, 0};
     }},
    {"WriteKeepsNoFourthByte",
     {},
     KbReport(0x19, {{4, 1}, {6, 13}, {7, 7}, {12, 1}, {13, 2}, {14, 3}, {15, 0x77}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x19}, {3, 1}, {4, 1}, {6, 13}, {7, 7}, {12, 1}, {13, 2},
            {14, 3}},
     [](SimKeyboardLighting& l) { l.keys[7] = {1, 2, 3, 0}; }},
    // A read answers all five slots; the unused ones name key 0.
    {"ReadKeyColours",
     {kWriteKeysFiveAndZero},
     KbReport(0x18, {{4, 1}, {6, 13}, {7, 5}, {8, 0}, {9, 9}}),
     Sparse{{0, 0x06},  {1, 0xBE},  {2, 0x18},  {3, 1},     {4, 1},     {6, 13},   {7, 5},
            {9, 9},     {12, 0xA1}, {13, 0xA2}, {14, 0xA3}, {16, 0x0B}, {24, 0x0B}, {28, 0x0B}},
     [](SimKeyboardLighting& l) {
         l.keys[5] = {0xA1, 0xA2, 0xA3, 0}, l.keys[0] = {0x0B, 0, 0, 0};
     }},
    {"KeyColoursWithEffectAbove13Refused",
     {},
     KbReport(0x19, {{4, 1}, {6, 14}, {7, 5}, {12, 1}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x19}, {4, 1}},
     Unchanged},
    {"UnknownSubCommandRefused",
     {},
     KbReport(0x16, {{4, 1}, {6, 3}}),
     Sparse{{0, 0x06}, {1, 0xBE}, {2, 0x16}, {4, 1}},
     Unchanged},
    {"WrongTagIgnored", {}, [] { Bytes r = kSetRainbow; r[1] = 0xBF; return r; }(),
     std::nullopt, Unchanged},
    {"ShortReportIgnored", {}, Bytes(kSetRainbow.begin(), kSetRainbow.end() - 1), std::nullopt,
     Unchanged},
};

void PrintTo(const KeyboardCase& c, std::ostream* os) {
    *os << c.name;
}

class KeyboardLighting : public ::testing::TestWithParam<KeyboardCase> {};

TEST_P(KeyboardLighting, AnswersAndKeeps) {
    const KeyboardCase& c = GetParam();
    SimKeyboard keyboard(DefaultKeyboard(SimKind::KeyboardMx28));
    SimRequestOutcome outcome = kOk;
    for (const Bytes& report : c.before) {
        ASSERT_TRUE(keyboard.HandleOutput(report, outcome));
        ASSERT_EQ(outcome, kOk);
    }
    const auto reply = keyboard.HandleOutput(c.report, outcome);
    if (!c.reply) {
        EXPECT_FALSE(reply);
        EXPECT_EQ(outcome, SimRequestOutcome::BadFrame);
    } else {
        ASSERT_TRUE(reply);
        Bytes expected(32, 0);
        for (const auto& [at, value] : *c.reply) expected[at] = value;
        EXPECT_EQ(*reply, expected);
    }
    SimKeyboardLighting expected;
    c.expect(expected);
    EXPECT_TRUE(keyboard.Lighting() == expected) << "the kept lighting state";
}

INSTANTIATE_TEST_SUITE_P(Reports, KeyboardLighting, ::testing::ValuesIn(kKeyboardCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm::test
