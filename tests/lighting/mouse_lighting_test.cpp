// Mouse lighting on the simulated firmware with the requests tapped: the exact requests and
// what lands in memory for each generation, refusals, the effect after a reset or restore.
#include <gtest/gtest.h>

#include <sstream>

#include "config/backup.h"
#include "lighting/mouse_lighting.h"
#include "support/temp_folder.h"
#include "wire_tap.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Hex(std::initializer_list<const char*> texts) {
    std::vector<Bytes> out;
    for (const char* text : texts) {
        std::istringstream in(text);
        Bytes& frame = out.emplace_back();
        for (std::string w; in >> w;) frame.push_back(uint8_t(std::stoul(w, nullptr, 16)));
    }
    return out;
}

bool Sent(test::TappedMouse& rig, const char* frame) {
    const auto sent = rig.tap->TakeRequests();
    return std::find(sent.begin(), sent.end(), Hex({frame})[0]) != sent.end();
}

constexpr const char *kStatus = "", *kNotice = "00 12 12";  // generation 1 to 10 update bracket

struct MouseWireCase {
    const char* devices;
    std::function<Status(ConfigModel&)> act;
    std::vector<Bytes> frames;  // none: refused with BadInput before any request
    uint32_t storedAt = 0;
    Bytes stored;  // device memory at storedAt afterwards
};

#define MOUSE_ACT(...) [](ConfigModel& m) { return __VA_ARGS__; }
const LedColour kOwn{0x10, 0x20, 0x30, kLedOwnColour};
const LedColour kOff = ApplyLedMode({9, 9, 9, kLedBreathing}, LedMode::Off, {1, 2, 3});

TEST(MouseWire, SendsExactlyTheseRequests) {
    // clang-format off
    const MouseWireCase cases[] = {
        {"g12", MOUSE_ACT(SetMouseLightingEffect(m, 3)), Hex({"03 11 00 01 03", "12 03"}), 0x11, {3}},
        {"g12", MOUSE_ACT(SetMouseLightingEffect(m, 5)), {}},
        {"g2", MOUSE_ACT(SetMouseLightingEffect(m, 1)), {}},
        {"g12", MOUSE_ACT(PreviewLedColour(m, 3, kOwn)), Hex({"13 03 80 10 20 30"})},
        {"g5x", MOUSE_ACT(PreviewLedColour(m, 3, kOwn)), Hex({"01 08 02 03 00 80 10 20 30"})},
        // OFF for LED 3 of a generation 11 mouse.
        {"g11", MOUSE_ACT(StoreLedColour(m, 3, kOff)), Hex({"03 0C 05 04 00 00 00 80"}), 0x50C,
         {0, 0, 0, 0x80}},
        {"g11", MOUSE_ACT(StoreLedColour(m, 15, kOwn)), Hex({"03 3C 05 04 10 20 30 80"}), 0x53C,
         {0x10, 0x20, 0x30, 0x80}},
        {"g5x", MOUSE_ACT(StoreLedColour(m, 2, (LedColour{0x11, 0x22, 0x33, 0xC0}))),
         Hex({kStatus, kNotice, "01 03 68 04 04 11 22 33 C0", "01 04 03", kNotice}), 0x468,
         {0x11, 0x22, 0x33, 0xC0}},
        {"g5", MOUSE_ACT(StoreLedColour(m, 0, kOwn)), {}},  // no LED table
        {"g12", MOUSE_ACT(StoreLedColour(m, 16, kOwn)), {}},
    };
    // clang-format on
    for (const MouseWireCase& c : cases) {
        test::TappedMouse rig(c.devices);
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases) << " on " << c.devices);
        rig.Load();
        const Bytes before = rig.Peek(0, 0x800);
        rig.tap->TakeRequests();
        const Status status = c.act(*rig.model);
        EXPECT_EQ(rig.tap->TakeRequests(), c.frames);
        if (c.frames.empty()) {
            EXPECT_EQ(status.kind(), ErrorKind::BadInput) << status.message();
            EXPECT_EQ(rig.Peek(0, 0x800), before);
            continue;
        }
        ASSERT_TRUE(status.ok()) << status.message();
        EXPECT_EQ(rig.Peek(c.storedAt, c.stored.size()), c.stored);
        const Bytes& image = rig.Image()->bytes;  // keeps what the device now holds
        EXPECT_EQ(Bytes(&image[c.storedAt], &image[c.storedAt] + c.stored.size()), c.stored);
    }
}

// The loaded table is what the host stored, a read also sees what changed behind its back.
// The profile swatch stores the profile's colour with bit 7 clear: the LED follows it.
TEST(MouseLightingDevice, TableReachesTheDeviceAndComesBack) {
    for (const auto& [devices, base] : {std::pair{"g5x", 0x460u}, std::pair{"g12", 0x500u}}) {
        SCOPED_TRACE(devices);
        test::TappedMouse rig(devices);
        rig.Load();
        ASSERT_TRUE(StoreLedColours(*rig.model, std::vector<LedEdit>{{0, {1, 2, 3, 0x80}},
                                                                     {7, {4, 5, 6, 0xC0}}})
                        .ok());
        rig.Poke(base + 4 * 9, {7, 8, 9, 0x40});
        const auto loaded = LoadedLedTable(*rig.model).value();
        EXPECT_EQ(loaded[7], (LedColour{4, 5, 6, 0xC0}));
        EXPECT_EQ(loaded[9], LedColour{});
        EXPECT_EQ(LedTableOf(*rig.Image()).value(), loaded);  // the windows' snapshot
        const auto read = ReadLedTable(*rig.model).value();
        EXPECT_EQ(read[0], (LedColour{1, 2, 3, 0x80}));
        EXPECT_EQ(read[9], (LedColour{7, 8, 9, 0x40}));
        ASSERT_TRUE(rig.model->SetActiveProfile(2).ok());
        ASSERT_TRUE(rig.model->SetProfileColour(2, 0x21, 0x43, 0x65).ok());
        const LedColour follow =
            ApplyLedMode(kOwn, LedMode::Profile, LedProfileColour(*rig.Image()));
        ASSERT_TRUE(StoreLedColour(*rig.model, 5, follow).ok());
        EXPECT_EQ(rig.Peek(base + 4 * 5, 4), (Bytes{0x21, 0x43, 0x65, 0x00}));
    }
}

// A factory reset leaves effect 2 on the device; a restore sends the file's effect again,
// so the device runs it without waiting for a power cycle.
TEST(MouseLightingHooks, ResetAndRestoreSendTheEffect) {
    for (const auto& [devices, reset, restore] :
         {std::tuple{"g5x", "01 04 03 01 02", "01 04 03 01 03"},
          std::tuple{"g12", "12 02", "12 03"}}) {
        SCOPED_TRACE(devices);
        test::TappedMouse rig(devices);
        rig.Load();
        ASSERT_TRUE(SetMouseLightingEffect(*rig.model, 3).ok());
        test::TempFolder folder;
        const std::string file = folder.File("l.bf");
        ASSERT_TRUE(
            SaveBackup(*rig.commands, *rig.commands, rig.path, *rig.Image()->memoryTop, file).ok());
        rig.tap->TakeRequests();
        ASSERT_TRUE(rig.model->ResetConfiguration(ResetColours::Defaults).ok());
        EXPECT_TRUE(Sent(rig, reset));
        EXPECT_EQ(MouseLightingEffect(*rig.Image()).value(), 2);
        const auto noCheck = [] { return Status{}; };
        ASSERT_TRUE(
            RestoreBackup(*rig.commands, *rig.commands, rig.path, file, rig.clock, noCheck).ok());
        EXPECT_TRUE(Sent(rig, restore));
    }
}

// An LED record in each mode, or with a colour picked (no mode).
TEST(LedModes, GiveTheRecord) {
    using Case = std::tuple<LedColour, std::optional<LedMode>, LedColour>;  // before, mode, after
    // clang-format off
    const Case cases[] = {
        {{10, 20, 30, 0xC0}, LedMode::Off,       {0, 0, 0, 0x80}},  // colour and breathing go
        {{10, 20, 30, 0x05}, LedMode::Off,       {0, 0, 0, 0x85}},  // other flag bits stay
        {{0, 0, 0, 0x80},    LedMode::On,        {0xA0, 0xB0, 0xC0, 0x80}},  // leaving OFF
        {{0, 0, 0, 0x80},    LedMode::Breathing, {0xA0, 0xB0, 0xC0, 0x40}},  // ... to follow
        {{1, 2, 3, 0x80},    LedMode::Breathing, {1, 2, 3, 0xC0}},
        {{1, 2, 3, 0x80},    LedMode::Profile,   {0xA0, 0xB0, 0xC0, 0x00}},
        {{1, 2, 3, 0xC0},    LedMode::Profile,   {0xA0, 0xB0, 0xC0, 0x40}},
        {{0, 0, 0, 0x00},    LedMode::On,        {0xA0, 0xB0, 0xC0, 0x80}},  // a follower keeps
        {{1, 2, 3, 0x40},    LedMode::On,        {0xA0, 0xB0, 0xC0, 0x80}},  // what it shows
        {{0, 0, 0, 0x40},    std::nullopt,       {1, 2, 3, 0xC0}},
    };
    // clang-format on
    for (const auto& [in, mode, out] : cases)
        EXPECT_EQ(mode ? ApplyLedMode(in, *mode, {0xA0, 0xB0, 0xC0}) : WithLedColour(in, {1, 2, 3}),
                  out);
}

}  // namespace
}  // namespace qvm
