// Lighting on the simulated devices: the mouse's effect byte and LED colour table, the
// keyboard's lighting reports, byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "sim/sim_keyboard.h"
#include "sim/sim_mouse.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

// ---- Mice ----

constexpr auto kOk = SimRequestOutcome::Accepted;
constexpr auto kRefused = SimRequestOutcome::Refused;
constexpr auto kUnknown = SimRequestOutcome::Unknown;

struct MouseLightCase {
    const char* name;
    int generation;
    bool extended;
    std::vector<Bytes> before;  // accepted requests that set the scene
    Bytes request;
    SimRequestOutcome outcome;
    int effect;  // the effect the device shows afterwards
    int led;     // the LED checked afterwards
    std::array<uint8_t, 4> shown;
    uint32_t address;  // memory checked afterwards
    Bytes stored;
};

const Bytes kZero4 = {0, 0, 0, 0};
const Bytes kPreviewLed3 = LongRequest({0x13, 3, 0xC0, 0x11, 0x22, 0x33});
const std::array<uint8_t, 4> kPreviewed = {0x11, 0x22, 0x33, 0xC0};

// clang-format off
const MouseLightCase kMouseCases[] = {
    {"EffectKeptG12", 12, false, {}, LongRequest({0x12, 3}), kOk, 3, 0, {}, 0x11, {3}},
    {"Effect5RefusedG12", 12, false, {}, LongRequest({0x12, 5}), kRefused, 2, 0, {}, 0x11, {2}},
    {"EffectKeptG5x", 5, true, {}, LongRequest({0x01, 0x04, 0x03, 0x01, 4}), kOk, 4, 0, {}, 0x11, {4}},
    {"EffectWithoutLedTableG5", 5, false, {}, LongRequest({0x01, 0x04, 0x03, 0x01, 1}), kOk, 1, 0, {},
     0x11, {1}},
    {"NoEffectCommandG2", 2, false, {}, LongRequest({0x01, 0x04, 0x03, 0x01, 3}), kUnknown, 0, 0, {},
     0x11, {0}},
    {"PreviewShownNotStoredG12", 12, false, {}, kPreviewLed3, kOk, 2, 3, kPreviewed, 0x50C, kZero4},
    {"PreviewShownNotStoredG5x", 5, true, {},
     LongRequest({0x01, 0x08, 0x02, 3, 0x07, 0x80, 0x11, 0x22, 0x33}), kOk, 2, 3,
     {0x11, 0x22, 0x33, 0x80}, 0x46C, kZero4},
    {"PreviewRefusedWithoutLedTableG5", 5, false, {},
     LongRequest({0x01, 0x08, 0x02, 3, 0x07, 0x80, 0x11, 0x22, 0x33}), kRefused, 2, 3, {}, 0x46C,
     kZero4},
    {"PreviewOfLed16RefusedG12", 12, false, {}, LongRequest({0x13, 16, 0x80, 1, 2, 3}), kRefused, 2, 0,
     {}, 0x540, kZero4},
    // OFF for LED 3 of a generation 11 mouse stores 00 00 00 80 at 0x50C, shown at once.
    {"StoredRecordShownAtOnceG11", 11, false, {LongRequest({0x13, 3, 0x80, 0xFF, 0, 0})},
     LongRequest({0x03, 0x0C, 0x05, 4, 0x00, 0x00, 0x00, 0x80}), kOk, 2, 3, {0, 0, 0, 0x80}, 0x50C,
     {0x00, 0x00, 0x00, 0x80}},
    {"OtherWriteKeepsThePreviewG12", 12, false, {kPreviewLed3}, LongRequest({0x03, 0x00, 0x09, 1, 0x5A}),
     kOk, 2, 3, kPreviewed, 0x50C, kZero4},
    {"StoredRecordShownAfterRefreshG5x", 5, true,
     {LongRequest({0x01, 0x03, 0x6C, 0x04, 4, 0x01, 0x02, 0x03, 0xC0})},
     LongRequest({0x01, 0x04, 0x03, 0x00}), kOk, 2, 3, {0x01, 0x02, 0x03, 0xC0}, 0x46C,
     {0x01, 0x02, 0x03, 0xC0}},
    {"ReloadShowsTheStoredColourG12", 12, false, {kPreviewLed3}, LongRequest({0x14}), kOk, 2, 3, {},
     0x50C, kZero4},
    {"RefreshWithOtherSubByteUnknownG5x", 5, true, {}, LongRequest({0x01, 0x04, 0x03, 0x02}), kUnknown,
     2, 0, {}, 0x11, {2}},
};
// clang-format on

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
    EXPECT_EQ(mouse.State().lightingEffect, c.effect);
    EXPECT_EQ(mouse.State().leds[c.led], c.shown) << "LED " << c.led;
    Bytes memory;
    for (size_t i = 0; i < c.stored.size(); ++i) memory.push_back(mouse.Peek(c.address + i));
    EXPECT_EQ(memory, c.stored) << "memory at " << c.address;
}

INSTANTIATE_TEST_SUITE_P(Requests, MouseLighting, ::testing::ValuesIn(kMouseCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Keyboards ----

// A keyboard report from its leading bytes in hex, zero-filled to `size`; "|" only groups.
Bytes KbHex(const std::string& text, size_t size = 32) {
    std::istringstream in(text);
    Bytes out;
    for (std::string word; in >> word;) {
        if (word != "|") out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    out.resize(size, 0);
    return out;
}

using LightingEdit = std::function<void(SimKeyboardLighting&)>;

struct KeyboardCase {
    const char* name;
    std::vector<const char*> before;  // accepted reports that set the scene
    Bytes report;
    const char* reply;    // nullptr: ignored, no reply at all
    LightingEdit expect;  // the state afterwards, from the factory state
};

void Unchanged(SimKeyboardLighting&) {}
void Rainbow(SimKeyboardLighting& l) {
    l.effect = 1, l.speed = 3, l.brightness = 2, l.direction = 1;
    l.colour1 = {0xFF, 0, 0, 0};
    l.colour2 = {0x12, 0x34, 0x56, 1};
}

constexpr const char* kSetRainbow =
    "06 BE 15 00 01 02 01 03 02 01 00 00 | FF 00 00 00 | 12 34 56 01";
constexpr const char* kKeysFiveAndZero = "06 BE 19 00 01 00 0D 05 00 00 00 00 | A1 A2 A3 00 | 0B";

// clang-format off
const KeyboardCase kKeyboardCases[] = {
    {"ReadKeyLightingCarriesRgbOnly", {}, KbHex("06 BE 14 00 00"),
     "06 BE 14 01 00 00 01 02 04 00 00 00 | 00 00 00 00 | FF", Unchanged},
    {"ReadSideLight", {}, KbHex("06 BE 14 00 02"), "06 BE 14 01 02 00 00 00 04", Unchanged},
    {"ReadOtherTargetRefused", {}, KbHex("06 BE 14 00 01"), "06 BE 14 00 01", Unchanged},
    {"SetEffectKeepsEveryField", {}, KbHex(kSetRainbow), "06 BE 15 01 01", Rainbow},
    {"SetEffectReadsBack", {kSetRainbow}, KbHex("06 BE 14 00 00"),
     "06 BE 14 01 00 00 01 03 02 01 00 00 | FF 00 00 00 | 12 34 56", Rainbow},
    {"EffectAbove13Refused", {}, KbHex("06 BE 15 00 01 02 0E"), "06 BE 15 00 01", Unchanged},
    {"SpeedAbove4Refused", {}, KbHex("06 BE 15 00 01 02 02 05"), "06 BE 15 00 01", Unchanged},
    {"BrightnessAbove4Refused", {}, KbHex("06 BE 15 00 01 02 02 00 05"), "06 BE 15 00 01", Unchanged},
    {"DirectionAbove3Refused", {}, KbHex("06 BE 15 00 01 02 02 00 00 04"), "06 BE 15 00 01", Unchanged},
    {"SideLightOffReadsBack", {"06 BE 15 00 02 06 06 00 00 00 00 00 | 00 00 00 00 | FF 00 00 01"},
     KbHex("06 BE 14 00 02"), "06 BE 14 01 02", [](SimKeyboardLighting& l) { l.sideLight = 0; }},
    {"SideLevelAbove4Refused", {},
     KbHex("06 BE 15 00 02 06 06 00 05 00 00 00 | 00 00 00 00 | FF 00 00 01"),
     "06 BE 15 00 02", Unchanged},
    {"SideWithoutItsEffectByteRefused", {},
     KbHex("06 BE 15 00 02 06 00 00 00 00 00 00 | 00 00 00 00 | FF 00 00 01"), "06 BE 15 00 02",
     Unchanged},
    {"WriteFiveKeys", {},
     KbHex("06 BE 19 00 01 00 0D 0A 0B 0C 0D 0E 01 02 03 00 04 00 00 00 05 00 00 00 06 00 00 00 07 08 09"),
     "06 BE 19 01 01 00 0D 0A 0B 0C 0D 0E 01 02 03 00 04 00 00 00 05 00 00 00 06 00 00 00 07 08 09",
     [](SimKeyboardLighting& l) {
         l.keys[10] = {1, 2, 3, 0}, l.keys[11] = {4, 0, 0, 0}, l.keys[12] = {5, 0, 0, 0};
         l.keys[13] = {6, 0, 0, 0}, l.keys[14] = {7, 8, 9, 0};
     }},
    // A key 0 after the first slot ends the list.
    {"ShortWriteLeavesKeyZeroAlone", {"06 BE 19 00 01 00 0D 00 00 00 00 00 | 09 09 09"},
     KbHex("06 BE 19 00 01 00 0D 05 06 00 00 00 | 01 00 00 00 | 02"),
     "06 BE 19 01 01 00 0D 05 06 00 00 00 | 01 00 00 00 | 02",
     [](SimKeyboardLighting& l) {
         l.keys[0] = {9, 9, 9, 0}, l.keys[5] = {1, 0, 0, 0}, l.keys[6] = {2, 0, 0, 0};
     }},
    {"WriteKeepsNoFourthByte", {}, KbHex("06 BE 19 00 01 00 0D 07 00 00 00 00 | 01 02 03 77"),
     "06 BE 19 01 01 00 0D 07 00 00 00 00 | 01 02 03",
     [](SimKeyboardLighting& l) { l.keys[7] = {1, 2, 3, 0}; }},
    // Key 0 in a later slot is written; a read answers all five slots, unused ones as key 0.
    {"ReadKeyColours", {kKeysFiveAndZero}, KbHex("06 BE 18 00 01 00 0D 05 00 09"),
     "06 BE 18 01 01 00 0D 05 00 09 00 00 A1 A2 A3 00 0B 00 00 00 00 00 00 00 0B 00 00 00 0B",
     [](SimKeyboardLighting& l) { l.keys[5] = {0xA1, 0xA2, 0xA3, 0}, l.keys[0] = {0x0B, 0, 0, 0}; }},
    {"KeyColoursWithEffectAbove13Refused", {}, KbHex("06 BE 19 00 01 00 0E 05 00 00 00 00 | 01"),
     "06 BE 19 00 01", Unchanged},
    {"UnknownSubCommandRefused", {}, KbHex("06 BE 16 00 01 00 03"), "06 BE 16 00 01", Unchanged},
    {"WrongTagIgnored", {}, KbHex("06 BF 15 00 01 02 01"), nullptr, Unchanged},
    {"ShortReportIgnored", {}, KbHex("06 BE 15 00 01 02 01", 31), nullptr, Unchanged},
};
// clang-format on

void PrintTo(const KeyboardCase& c, std::ostream* os) {
    *os << c.name;
}

class KeyboardLighting : public ::testing::TestWithParam<KeyboardCase> {};

TEST_P(KeyboardLighting, AnswersAndKeeps) {
    const KeyboardCase& c = GetParam();
    SimKeyboard keyboard(DefaultKeyboard(SimKind::KeyboardMx28));
    SimRequestOutcome outcome = kOk;
    for (const char* report : c.before) {
        ASSERT_TRUE(keyboard.HandleOutput(KbHex(report), outcome));
        ASSERT_EQ(outcome, kOk);
    }
    const auto reply = keyboard.HandleOutput(c.report, outcome);
    if (c.reply == nullptr) {
        EXPECT_FALSE(reply);
        EXPECT_EQ(outcome, SimRequestOutcome::BadFrame);
    } else {
        ASSERT_TRUE(reply);
        EXPECT_EQ(*reply, KbHex(c.reply));
    }
    SimKeyboardLighting expected;
    c.expect(expected);
    EXPECT_TRUE(keyboard.Lighting() == expected) << "the kept lighting state";
}

INSTANTIATE_TEST_SUITE_P(Reports, KeyboardLighting, ::testing::ValuesIn(kKeyboardCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm::test
