// Mouse lighting against the simulated firmware with the host's requests tapped: the exact
// requests of the effect, the LED preview and the LED store for each generation, what
// lands in device memory, what is refused before anything is sent, and that a factory
// reset and a restore send the lighting effect.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "config/backup.h"
#include "lighting/mouse_lighting.h"
#include "support/temp_folder.h"
#include "wire_tap.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& text) {
    std::istringstream in(text);
    Bytes out;
    std::string word;
    while (in >> word) out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    return out;
}

std::vector<Bytes> Frames(const std::vector<const char*>& texts) {
    std::vector<Bytes> out;
    for (const char* t : texts) out.push_back(Hex(t));
    return out;
}

// The update bracket of generations 1 to 10: the status query (all zero), the notice.
constexpr const char* kStatus = "";
constexpr const char* kNotice = "00 12 12";

struct MouseWireCase {
    const char* name;
    const char* devices;
    std::function<Status(ConfigModel&)> act;
    std::vector<const char*> frames;  // none: refused with BadInput before any request
    uint32_t storedAt = 0;
    Bytes stored;  // device memory at storedAt afterwards
};

Status Effect(ConfigModel& m, int e) {
    return SetMouseLightingEffect(m, e);
}
Status Preview(ConfigModel& m, int led, LedColour c) {
    return PreviewLedColour(m, led, c);
}
Status Store(ConfigModel& m, int led, LedColour c) {
    return StoreLedColour(m, led, c);
}
#define MOUSE_ACT(...) [](ConfigModel& m) { return __VA_ARGS__; }

const LedColour kOwn{0x10, 0x20, 0x30, kLedOwnColour};
const LedColour kOff = ApplyLedMode({9, 9, 9, kLedBreathing}, LedMode::Off, {1, 2, 3});

// clang-format off
const MouseWireCase kMouseWireCases[] = {
    {"EffectG12", "g12", MOUSE_ACT(Effect(m, 3)), {"03 11 00 01 03", "12 03"}, 0x11, {3}},
    {"EffectG5x", "g5x", MOUSE_ACT(Effect(m, 4)),
     {kStatus, kNotice, "01 03 11 00 01 04", "01 04 03 01 04", kNotice}, 0x11, {4}},
    {"EffectZeroG3x", "g3x", MOUSE_ACT(Effect(m, 0)),
     {kStatus, kNotice, "01 03 11 00 01", "01 04 03 01", kNotice}, 0x11, {0}},
    {"Effect5", "g12", MOUSE_ACT(Effect(m, 5)), {}},
    {"EffectOnG2", "g2", MOUSE_ACT(Effect(m, 1)), {}},
    {"PreviewG12", "g12", MOUSE_ACT(Preview(m, 3, kOwn)), {"13 03 80 10 20 30"}},
    {"PreviewG5x", "g5x", MOUSE_ACT(Preview(m, 3, kOwn)), {"01 08 02 03 00 80 10 20 30"}},
    {"OffLed3G11", "g11", MOUSE_ACT(Store(m, 3, kOff)), {"03 0C 05 04 00 00 00 80"}, 0x50C,
     {0, 0, 0, 0x80}},
    {"StoreLed15G11", "g11", MOUSE_ACT(Store(m, 15, kOwn)), {"03 3C 05 04 10 20 30 80"}, 0x53C,
     {0x10, 0x20, 0x30, 0x80}},
    {"StoreLed2G5x", "g5x", MOUSE_ACT(Store(m, 2, (LedColour{0x11, 0x22, 0x33, 0xC0}))),
     {kStatus, kNotice, "01 03 68 04 04 11 22 33 C0", "01 04 03", kNotice}, 0x468,
     {0x11, 0x22, 0x33, 0xC0}},
    {"LedsOnG5WithoutTable", "g5", MOUSE_ACT(Store(m, 0, kOwn)), {}},
    {"Led16", "g12", MOUSE_ACT(Store(m, 16, kOwn)), {}},
};
// clang-format on

void PrintTo(const MouseWireCase& c, std::ostream* os) {
    *os << c.name;
}

class MouseWire : public ::testing::TestWithParam<MouseWireCase> {};

TEST_P(MouseWire, SendsExactlyTheseRequests) {
    const MouseWireCase& c = GetParam();
    test::TappedMouse rig(c.devices);
    rig.Load();
    const Bytes before = rig.Peek(0, 0x800);
    rig.tap->Clear();

    const Status status = c.act(*rig.model);
    EXPECT_EQ(rig.tap->Requests(), Frames(c.frames));
    if (c.frames.empty()) {
        EXPECT_EQ(status.kind(), ErrorKind::BadInput) << status.message();
        EXPECT_EQ(rig.Peek(0, 0x800), before);
        return;
    }
    ASSERT_TRUE(status.ok()) << status.message();
    if (!c.stored.empty()) {
        EXPECT_EQ(rig.Peek(c.storedAt, c.stored.size()), c.stored);
        // The image keeps what the device now holds.
        const auto image = rig.Image();
        EXPECT_EQ(Bytes(image->bytes.begin() + c.storedAt,
                        image->bytes.begin() + c.storedAt + c.stored.size()),
                  c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, MouseWire, ::testing::ValuesIn(kMouseWireCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The simulated device takes the effect and the LED colours as its firmware would: the
// effect it runs, and the table read back from its memory.
TEST(MouseLightingDevice, EffectAndTableReachTheDeviceAndComeBack) {
    for (const auto& [devices, base] : {std::pair{"g5x", 0x460u}, std::pair{"g12", 0x500u}}) {
        SCOPED_TRACE(devices);
        test::TappedMouse rig(devices);
        rig.Load();
        ASSERT_TRUE(SetMouseLightingEffect(*rig.model, 1).ok());
        EXPECT_EQ(rig.State().lightingEffect, 1);
        EXPECT_EQ(MouseLightingEffect(*rig.Image()).value(), 1);

        const std::vector<LedEdit> edits = {{0, {1, 2, 3, 0x80}}, {7, {4, 5, 6, 0xC0}}};
        ASSERT_TRUE(StoreLedColours(*rig.model, edits).ok());
        // Scribbled behind the host's back: only a read from the device sees it.
        rig.Poke(base + 4 * 9, {7, 8, 9, 0x40});
        const auto loaded = LoadedLedTable(*rig.model);
        ASSERT_TRUE(loaded.ok()) << loaded.message();
        EXPECT_EQ((*loaded)[7], (LedColour{4, 5, 6, 0xC0}));
        EXPECT_EQ((*loaded)[9], LedColour{});
        const auto read = ReadLedTable(*rig.model);
        ASSERT_TRUE(read.ok()) << read.message();
        EXPECT_EQ((*read)[0], (LedColour{1, 2, 3, 0x80}));
        EXPECT_EQ((*read)[9], (LedColour{7, 8, 9, 0x40}));
        EXPECT_EQ((*LoadedLedTable(*rig.model))[9], (LedColour{7, 8, 9, 0x40}));
    }
}

// The profile swatch stores the current profile's colour with bit 7 clear, so the LED
// follows later changes of the profile colour.
TEST(MouseLightingDevice, ProfileSwatchStoresTheProfileColourToFollow) {
    test::TappedMouse rig("g12");
    rig.Load();
    ASSERT_TRUE(rig.model->SetActiveProfile(2).ok());
    ASSERT_TRUE(rig.model->SetProfileColour(2, 0x21, 0x43, 0x65).ok());
    const LedColour record =
        ApplyLedMode({0, 0, 0, kLedOwnColour}, LedMode::Profile, LedProfileColour(*rig.Image()));
    ASSERT_TRUE(StoreLedColour(*rig.model, 5, record).ok());
    EXPECT_EQ(rig.Peek(0x514, 4), (Bytes{0x21, 0x43, 0x65, 0x00}));
}

// A factory reset leaves effect 2 on the device; a restore sends the file's effect again,
// so the device runs it without waiting for a power cycle.
TEST(MouseLightingHooks, ResetSetsEffectTwo) {
    for (const auto& [devices, command] :
         {std::pair{"g5x", "01 04 03 01 02"}, std::pair{"g12", "12 02"}}) {
        SCOPED_TRACE(devices);
        test::TappedMouse rig(devices);
        rig.Load();
        ASSERT_TRUE(SetMouseLightingEffect(*rig.model, 4).ok());
        rig.tap->Clear();
        ASSERT_TRUE(rig.model->ResetConfiguration(ResetColours::Defaults).ok());
        const auto sent = rig.tap->Requests();
        EXPECT_NE(std::find(sent.begin(), sent.end(), Hex(command)), sent.end());
        EXPECT_EQ(rig.State().lightingEffect, 2);
        EXPECT_EQ(rig.Peek(0x11, 1), Bytes{2});
        EXPECT_EQ(MouseLightingEffect(*rig.Image()).value(), 2);
    }
}

TEST(MouseLightingHooks, RestoreSendsTheRestoredEffect) {
    for (const auto& [devices, command] :
         {std::pair{"g5x", "01 04 03 01 03"}, std::pair{"g12", "12 03"}}) {
        SCOPED_TRACE(devices);
        test::TappedMouse rig(devices);
        rig.Load();
        ASSERT_TRUE(SetMouseLightingEffect(*rig.model, 3).ok());
        test::TempFolder folder;
        const std::string file = folder.File("l.bf");
        const uint32_t top = *rig.Image()->memoryTop;
        ASSERT_TRUE(SaveBackup(*rig.commands, *rig.commands, rig.path, top, file).ok());
        ASSERT_TRUE(SetMouseLightingEffect(*rig.model, 0).ok());
        rig.tap->Clear();

        const auto restored = RestoreBackup(*rig.commands, *rig.commands, rig.path, file, rig.clock,
                                            [] { return Status{}; });
        ASSERT_TRUE(restored.ok()) << restored.message();
        const auto sent = rig.tap->Requests();
        EXPECT_NE(std::find(sent.begin(), sent.end(), Hex(command)), sent.end());
        EXPECT_EQ(rig.State().lightingEffect, 3);
    }
}

// ---- LED modes ----

struct ModeCase {
    const char* name;
    LedColour before;
    std::optional<LedMode> mode;  // none: a colour picked
    LedColour after;
};

constexpr Rgb kProfile{0xA0, 0xB0, 0xC0};
constexpr Rgb kPicked{0x01, 0x02, 0x03};

// clang-format off
const ModeCase kModeCases[] = {
    {"OffDropsColourAndBreathing", {10, 20, 30, 0xC0}, LedMode::Off,       {0, 0, 0, 0x80}},
    {"OffKeepsOtherFlagBits",      {10, 20, 30, 0x05}, LedMode::Off,       {0, 0, 0, 0x85}},
    {"OnLeavesOffWithProfile",     {0, 0, 0, 0x80},    LedMode::On,        {0xA0, 0xB0, 0xC0, 0x80}},
    {"BreatheLeavesOffToFollow",   {0, 0, 0, 0x80},    LedMode::Breathing, {0xA0, 0xB0, 0xC0, 0x40}},
    {"BreatheKeepsOwnColour",      {1, 2, 3, 0x80},    LedMode::Breathing, {1, 2, 3, 0xC0}},
    {"OnStopsBreathing",           {1, 2, 3, 0xC0},    LedMode::On,        {1, 2, 3, 0x80}},
    {"ProfileFollowsProfile",      {1, 2, 3, 0x80},    LedMode::Profile,   {0xA0, 0xB0, 0xC0, 0x00}},
    {"ProfileKeepsBreathing",      {1, 2, 3, 0xC0},    LedMode::Profile,   {0xA0, 0xB0, 0xC0, 0x40}},
    // A black LED that follows the profile is not OFF: ON keeps its colour.
    {"BlackFollowerIsNotOff",      {0, 0, 0, 0x00},    LedMode::On,        {0, 0, 0, 0x80}},
    {"PickedColourIsOwn",          {0, 0, 0, 0x40},    std::nullopt,       {1, 2, 3, 0xC0}},
};
// clang-format on

void PrintTo(const ModeCase& c, std::ostream* os) {
    *os << c.name;
}

class LedModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(LedModes, GiveTheRecord) {
    const ModeCase& c = GetParam();
    const LedColour after =
        c.mode ? ApplyLedMode(c.before, *c.mode, kProfile) : WithLedColour(c.before, kPicked);
    EXPECT_EQ(after, c.after);
}

INSTANTIATE_TEST_SUITE_P(Modes, LedModes, ::testing::ValuesIn(kModeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
