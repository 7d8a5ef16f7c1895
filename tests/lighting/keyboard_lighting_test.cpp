// The keyboards' lighting reports byte for byte, on a fake keyboard with scripted answers.
#include <gtest/gtest.h>

#include <sstream>

#include "device/device_stack.h"
#include "lighting/keyboard_lighting.h"
#include "support/fake_clock.h"
#include "support/fake_hid.h"
#include "support/kept.h"

namespace qvm {
namespace {

using test::Bytes;

const std::string kKeyboardPath = "sim#vid_0c45&pid_7f28&mi_01#1";

// 32-byte reports from their leading bytes in hex; "|" only groups bytes for the reader.
std::vector<Bytes> Reports(std::initializer_list<const char*> texts) {
    std::vector<Bytes> out;
    for (const char* text : texts) {
        std::istringstream in(text);
        Bytes& report = out.emplace_back();
        for (std::string w; in >> w;)
            if (w != "|") report.push_back(static_cast<uint8_t>(std::stoul(w, nullptr, 16)));
        report.resize(kKeyboardReportLength, 0);
    }
    return out;
}

// "Horse race lamp" (5), speed 2, brightness 3, direction 1, colours 0A0B0C and 112233.
constexpr const char* kKeysReply = "06 BE 14 00 00 00 05 02 03 01 00 00 0A 0B 0C 00 11 22 33 01";
constexpr const char* kSideOn = "06 BE 14 00 02 00 00 00 04";

struct KeyboardFixture {
    test::FakeClock clock;
    test::FakeHidBackend* fake = nullptr;  // owned by the stack
    DeviceStack stack{test::Kept(fake, std::make_unique<test::FakeHidBackend>()), clock,
                      DeviceStack::LocalLocks()};
    test::FakeHidDevice& device = fake->Add(kKeyboardPath, test::KeyboardCaps());
    KeyboardLighting lighting{stack.Keyboards(), kKeyboardPath};
    KeyboardFixture() {
        stack.Values().Update(kKeyboardPath,
                              [](DeviceValues& v) { v.ModelCode = kKeyboardModelCode; });
    }
    void Answer(std::initializer_list<const char*> texts) {
        for (Bytes& r : Reports(texts)) device.QueueInput(r);
    }
    // The lighting state read from these answers, and the requests for it forgotten.
    void Ready(const char* side = kSideOn) {
        Answer({kKeysReply, side});
        ASSERT_EQ(lighting.ReadLightingState().value(), 5);
        device.ClearOps();
    }
    std::vector<Bytes> Sent() const { return device.BytesOf(test::HidOp::Kind::Write); }
};

// Steps until a step changes nothing.
Status StepToTheEnd(KeyboardLighting& l, KeyboardLevel level, int delta) {
    Result<bool> changed = true;
    for (int i = 0; i < 5 && changed && *changed; ++i) changed = l.Step(level, delta);
    return !changed ? Status(changed.error()) : *changed ? MakeError("no end") : Status{};
}
std::vector<KeyColourAt> Keys(std::initializer_list<uint8_t> keys) {
    std::vector<KeyColourAt> out;
    for (uint8_t k : keys) out.push_back({k, {k, static_cast<uint8_t>(k + 0x10), 0x20, true}});
    return out;
}
#define EFFECT_REPORT "06 BE 15 00 01 02 "   // an effect change, then effect, speed, brightness...
#define KEYS_REPORT "06 BE 19 00 01 00 05 "  // key colours for effect 5, then the keys and colours
#define KB_ACT(...) [](KeyboardLighting& l) -> Status { return __VA_ARGS__; }

// After the state above is read, each change sends exactly these reports; none: refused
// with BadInput, nothing sent and nothing changed.
TEST(KeyboardWire, SendsExactlyTheseReports) {
    struct Case {
        const char* name;
        Status (*act)(KeyboardLighting&);
        std::vector<Bytes> reports;
    };
    // clang-format off
    const Case cases[] = {
        // A colour 0 goes out as red.
        {"Static0IsRed", KB_ACT(l.ChangeEffect({2, {}, {}, {}, Rgb{}})),
         Reports({EFFECT_REPORT "02 02 03 01 00 00 | FF"})},
        {"RainbowTakesColour2", KB_ACT(l.ChangeEffect({1, {}, {}, {}, Rgb{0x12, 0x34, 0x56}})),
         Reports({EFFECT_REPORT "01 02 03 01 00 00 | FF 00 00 00 | 12 34 56 01"})},
        {"CustomCarriesNoColour", KB_ACT(l.ChangeEffect({13, {}, {}, {}, {}})),
         Reports({EFFECT_REPORT "0D 02 03 01 00 00 | 00 FF"})},
        {"EveryField", KB_ACT(l.ChangeEffect({10, 4, 0, 3, Rgb{0, 0, 1}})),
         Reports({EFFECT_REPORT "0A 04 00 03 00 00 | 00 00 00 01 | 00 00 01 01"})},
        {"Effect14", KB_ACT(l.ChangeEffect({14, {}, {}, {}, {}})), {}},
        {"Speed5", KB_ACT(l.ChangeEffect({{}, 5, {}, {}, {}})), {}},
        {"ColourForCustom", KB_ACT(l.ChangeEffect({13, {}, {}, {}, Rgb{1, 2, 3}})), {}},
        // Plus at brightness 4 and minus at speed 0 change nothing and send nothing.
        {"BrightnessStopsAt4", KB_ACT(StepToTheEnd(l, KeyboardLevel::Brightness, 1)),
         Reports({EFFECT_REPORT "05 02 04 01 00 00 | 00 00 00 00 | 11 22 33 01"})},
        {"SpeedStopsAt0", KB_ACT(StepToTheEnd(l, KeyboardLevel::Speed, -1)),
         Reports({EFFECT_REPORT "05 01 03 01 00 00 | 00 00 00 00 | 11 22 33 01",
                  EFFECT_REPORT "05 00 03 01 00 00 | 00 00 00 00 | 11 22 33 01"})},
        {"SideOn", KB_ACT(l.SetSideLed(true)),
         Reports({"06 BE 15 00 02 06 06 00 04 00 00 00 | 00 00 00 00 | FF 00 00 01"})},
        // Key reports carry the effect last read; twelve keys make reports of 5, 5 and 2.
        {"TwelveKeys", KB_ACT(l.WriteKeyColours(Keys({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}))),
         Reports({KEYS_REPORT "01 02 03 04 05 01 11 20 00 02 12 20 00 03 13 20 00 04 14 20 00 05 15 20",
                  KEYS_REPORT "06 07 08 09 0A 06 16 20 00 07 17 20 00 08 18 20 00 09 19 20 00 0A 1A 20",
                  KEYS_REPORT "0B 0C 00 00 00 | 0B 1B 20 00 | 0C 1C 20"})},
        // Sorted: a key 0 is never mistaken for the end of a report's list.
        {"KeyZeroGoesFirst", KB_ACT(l.WriteKeyColours(Keys({9, 0, 4}))),
         Reports({KEYS_REPORT "00 04 09 00 00 | 00 10 20 00 | 04 14 20 00 | 09 19 20"})},
        {"KeyTwice", KB_ACT(l.WriteKeyColours(Keys({3, 4, 3}))), {}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeyboardFixture f;
        f.Ready();
        const KeyboardLightingState before = f.lighting.State();
        const Status status = c.act(f.lighting);
        EXPECT_EQ(f.Sent(), c.reports);
        EXPECT_EQ(status.ok(), !c.reports.empty()) << status.message();
        EXPECT_EQ(status.kind(), c.reports.empty() ? ErrorKind::BadInput : ErrorKind::Other);
        EXPECT_TRUE(!c.reports.empty() || f.lighting.State() == before) << "state changed";
    }
}

// The state as read; out-of-range values from the keyboard are not taken into it.
TEST(KeyboardState, ReadsBothRequestsAndRefusesNonsense) {
    KeyboardFixture f;
    f.Ready("06 BE 14 00 02 00 00 00 00");
    const KeyboardLightingState before = f.lighting.State();
    EXPECT_EQ(before, (KeyboardLightingState{5, 2, 3, 1, {0x0A, 0x0B, 0x0C}, {0x11, 0x22, 0x33}}));
    for (const char* garbled : {"06 BE 14 00 00 00 0E", "06 BE 14 00 00 00 01 05",
                                "06 BE 14 00 00 00 01 00 09", "06 BE 14 00 00 00 01 00 00 04"}) {
        f.Answer({garbled, kSideOn});
        EXPECT_EQ(f.lighting.ReadLightingState().kind(), ErrorKind::DeviceGarbled) << garbled;
        EXPECT_EQ(f.lighting.State(), before) << garbled;
    }
}

// A keyboard that answers nothing gives no state: no read succeeds on the empty reply,
// and a change that needs the state sends nothing after the unanswered requests.
TEST(KeyboardState, SilentKeyboardGivesNoState) {
    KeyboardFixture f;
    const auto read = f.lighting.ReadLightingState();
    EXPECT_EQ(read.kind(), ErrorKind::DeviceSilent);
    EXPECT_FALSE(f.lighting.StateKnown());
    EXPECT_EQ(f.lighting.ChangeEffect({1, {}, {}, {}, {}}).kind(), ErrorKind::DeviceSilent);
    EXPECT_EQ(f.Sent(), Reports({"06 BE 14 00 00", "06 BE 14 00 00"}));
}

// A change before any read reads the state first, so the report keeps what the keyboard
// has in the fields the change leaves alone.
TEST(KeyboardState, FirstChangeReadsTheStateFirst) {
    KeyboardFixture f;
    f.Answer({kKeysReply, kSideOn});
    ASSERT_TRUE(f.lighting.ChangeEffect({{}, {}, 0, {}, {}}).ok());
    EXPECT_EQ(f.Sent(),
              Reports({"06 BE 14 00 00", "06 BE 14 00 02",
                       "06 BE 15 00 01 02 05 02 00 01 00 00 | 00 00 00 00 | 11 22 33 01"}));
}

// Names match whole and in any case.
TEST(KeyboardNames, FindTheCodes) {
    EXPECT_EQ(KeyboardEffectNamed("RIPPLE 2"), 11);
    EXPECT_EQ(KeyboardEffectNamed("Ripple "), std::nullopt);
    EXPECT_EQ(KeyboardDirectionNamed("down"), 3);
    EXPECT_EQ(KeyboardDirectionNamed("Lef"), std::nullopt);
}

TEST(KeyboardState, ReadsKeyColoursFiveAtATime) {
    KeyboardFixture f;
    f.Ready();
    f.Answer(
        {"06 BE 18 00 01 00 05 01 02 03 04 05 | 10 00 00 00 | 00 00 00 00 | 30 00 00 00 | "
         "40 00 00 00 | 50 00 00 00",
         "06 BE 18 00 01 00 05 06 00 00 00 00 | 60 61 62 00"});
    const auto read = f.lighting.ReadKeyColours(std::vector<uint8_t>{6, 5, 4, 3, 2, 1}).value();
    EXPECT_EQ(f.Sent(),
              Reports({"06 BE 18 00 01 00 05 01 02 03 04 05", "06 BE 18 00 01 00 05 06"}));
    ASSERT_EQ(read.size(), 6u);
    // The keyboard keeps no opaque flag: a key with a colour is opaque, a black one not.
    EXPECT_EQ(read[1], (KeyColourAt{2, {0, 0, 0, false}}));
    EXPECT_EQ(read[5], (KeyColourAt{6, {0x60, 0x61, 0x62, true}}));
    EXPECT_EQ(f.lighting.State().keys.at(3), (KeyColour{0x30, 0, 0, true}));
}

// RESET: custom effect at full brightness, side light on, kind-3 keys red, others black,
// "Rainbow" with red, then the state read back.
TEST(KeyboardReset, SendsTheSequence) {
    KeyboardFixture f;
    f.Ready("06 BE 14 00 02");
    f.Answer({"06 BE", "06 BE", "06 BE", "06 BE",  // the four changes
              "06 BE 14 00 00 00 01 00 04 00 00 00 | 00 00 00 00 | FF 00 00 01", kSideOn});
    ASSERT_TRUE(
        f.lighting.Reset(std::vector<KeyOfKind>{{3, 3}, {1, 0}, {2, kResetRedKeyKind}}).ok());
    EXPECT_EQ(f.Sent(),
              Reports({"06 BE 15 00 01 02 0D 00 04 00 00 00 | 00 FF 00 00 | 00 00 00 00",
                       "06 BE 15 00 02 06 06 00 04 00 00 00 | 00 00 00 00 | FF 00 00 01",
                       "06 BE 19 00 01 00 05 01 02 03 00 00 | 00 00 00 00 | FF 00 00 00 | FF",
                       "06 BE 15 00 01 02 01 00 04 00 00 00 | FF 00 00 00 | FF 00 00 01",
                       "06 BE 14 00 00", "06 BE 14 00 02"}));
    const KeyColour red{0xFF, 0, 0, true};
    EXPECT_EQ(
        f.lighting.State(),
        (KeyboardLightingState{1, 0, 4, 0, {}, {0xFF, 0, 0}, true, {{1, {}}, {2, red}, {3, red}}}));
}

}  // namespace
}  // namespace qvm
