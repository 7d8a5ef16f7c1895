// The keyboards' lighting reports byte for byte on a fake keyboard that records every
// output report and answers with scripted input reports. The simulated keyboard's side
// of the same reports is checked through the hub (tests/app/hub_lighting_test.cpp).
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "device/device_stack.h"
#include "lighting/keyboard_lighting.h"
#include "support/fake_clock.h"
#include "support/fake_hid.h"
#include "support/kept.h"

namespace qvm {
namespace {

using test::Bytes;
using test::HidOp;

const std::string kKeyboardPath = "sim#vid_0c45&pid_7f28&mi_01#1";

// A 32-byte report from its leading bytes in hex; "|" only groups bytes for the reader.
Bytes Report(const std::string& text) {
    std::istringstream in(text);
    Bytes out;
    std::string word;
    while (in >> word) {
        if (word != "|") out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    out.resize(kKeyboardReportLength, 0);
    return out;
}

struct KeyboardFixture {
    test::FakeClock clock;
    test::FakeHidBackend* fake = nullptr;  // owned by the stack
    DeviceStack stack{test::Kept(fake, std::make_unique<test::FakeHidBackend>()), clock,
                      DeviceStack::LocalLocks()};
    test::FakeHidDevice& device = fake->Add(kKeyboardPath, test::KeyboardCaps());
    KeyboardLighting lighting{stack.Keyboards(), kKeyboardPath};

    explicit KeyboardFixture(int32_t modelCode = kKeyboardModelCode) {
        stack.Values().Update(kKeyboardPath, [&](DeviceValues& v) { v.ModelCode = modelCode; });
    }
    // The keyboard answers the two state requests with these reports.
    Result<int> Read(const std::string& keys, const std::string& side) {
        device.QueueInput(Report(keys));
        device.QueueInput(Report(side));
        return lighting.ReadLightingState();
    }
    std::vector<Bytes> Sent() const { return device.BytesOf(HidOp::Kind::Write); }
};

// Key lighting: "Horse race lamp" (5), speed 2, brightness 3, direction 1, colour 1
// 0x0A0B0C, colour 2 0x112233; side light on.
constexpr const char* kKeysReply = "06 BE 14 00 00 00 05 02 03 01 00 00 0A 0B 0C 00 11 22 33 01";
constexpr const char* kSideOn = "06 BE 14 00 02 00 00 00 04";

struct KeyboardWireCase {
    const char* name;
    std::function<Status(KeyboardLighting&)> act;
    std::vector<const char*> reports;  // none: refused with BadInput, nothing sent
};

KeyboardEffectChange Change(std::optional<int> effect, std::optional<Rgb> colour = {}) {
    KeyboardEffectChange c;
    c.effect = effect;
    c.colour = colour;
    return c;
}
Status StepStatus(Result<bool> r) {
    return r ? Status{} : Status(r.error());
}
std::vector<KeyColourAt> Keys(std::initializer_list<uint8_t> keys) {
    std::vector<KeyColourAt> out;
    for (uint8_t k : keys) out.push_back({k, {k, static_cast<uint8_t>(k + 0x10), 0x20, true}});
    return out;
}

#define KB_ACT(...) [](KeyboardLighting& l) -> Status { return __VA_ARGS__; }

// clang-format off
const KeyboardWireCase kKeyboardWireCases[] = {
    // A colour 0 goes out as red.
    {"StaticColourZeroIsRed", KB_ACT(l.ChangeEffect(Change(2, Rgb{}))),
     {"06 BE 15 00 01 02 02 02 03 01 00 00 | FF 00 00 00 | 00 00 00 00"}},
    {"RainbowTakesColourTwo", KB_ACT(l.ChangeEffect(Change(1, Rgb{0x12, 0x34, 0x56}))),
     {"06 BE 15 00 01 02 01 02 03 01 00 00 | FF 00 00 00 | 12 34 56 01"}},
    {"BreathingKeepsItsFourthByte", KB_ACT(l.ChangeEffect(Change(3))),
     {"06 BE 15 00 01 02 03 02 03 01 00 00 | 00 00 00 00 | 11 22 33 00"}},
    {"CustomCarriesNoColour", KB_ACT(l.ChangeEffect(Change(13))),
     {"06 BE 15 00 01 02 0D 02 03 01 00 00 | 00 FF 00 00 | 00 00 00 00"}},
    {"EveryField", KB_ACT(l.ChangeEffect({10, 4, 0, 3, Rgb{0, 0, 1}})),
     {"06 BE 15 00 01 02 0A 04 00 03 00 00 | 00 00 00 01 | 00 00 01 01"}},
    {"Effect14", KB_ACT(l.ChangeEffect(Change(14))), {}},
    {"Speed5", KB_ACT(l.ChangeEffect({{}, 5, {}, {}, {}})), {}},
    {"ColourForCustom", KB_ACT(l.ChangeEffect(Change(13, Rgb{1, 2, 3}))), {}},
    {"BrightnessUp", KB_ACT(StepStatus(l.Step(KeyboardLevel::Brightness, 1))),
     {"06 BE 15 00 01 02 05 02 04 01 00 00 | 00 00 00 00 | 11 22 33 01"}},
    {"SideOn", KB_ACT(l.SetSideLed(true)),
     {"06 BE 15 00 02 06 06 00 04 00 00 00 | 00 00 00 00 | FF 00 00 01"}},
    // Key reports carry the effect last read; twelve keys make reports of 5, 5 and 2.
    {"TwelveKeys", KB_ACT(l.WriteKeyColours(Keys({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}))),
     {"06 BE 19 00 01 00 05 01 02 03 04 05 | 01 11 20 00 | 02 12 20 00 | 03 13 20 00 | "
      "04 14 20 00 | 05 15 20 00",
      "06 BE 19 00 01 00 05 06 07 08 09 0A | 06 16 20 00 | 07 17 20 00 | 08 18 20 00 | "
      "09 19 20 00 | 0A 1A 20 00",
      "06 BE 19 00 01 00 05 0B 0C 00 00 00 | 0B 1B 20 00 | 0C 1C 20 00"}},
    // Sorted: a key 0 is never mistaken for the end of a report's list.
    {"KeyZeroGoesFirst", KB_ACT(l.WriteKeyColours(Keys({9, 0, 4}))),
     {"06 BE 19 00 01 00 05 00 04 09 00 00 | 00 10 20 00 | 04 14 20 00 | 09 19 20 00"}},
    {"KeyTwice", KB_ACT(l.WriteKeyColours(Keys({3, 4, 3}))), {}},
};
// clang-format on

void PrintTo(const KeyboardWireCase& c, std::ostream* os) {
    *os << c.name;
}

class KeyboardWire : public ::testing::TestWithParam<KeyboardWireCase> {};

TEST_P(KeyboardWire, SendsExactlyTheseReports) {
    const KeyboardWireCase& c = GetParam();
    KeyboardFixture f;
    ASSERT_EQ(f.Read(kKeysReply, kSideOn).value(), 5);
    const KeyboardLightingState before = f.lighting.State();
    f.device.ClearOps();

    const Status status = c.act(f.lighting);
    std::vector<Bytes> expected;
    for (const char* r : c.reports) expected.push_back(Report(r));
    EXPECT_EQ(f.Sent(), expected);
    if (c.reports.empty()) {
        EXPECT_EQ(status.kind(), ErrorKind::BadInput) << status.message();
        EXPECT_EQ(f.lighting.State(), before);
    } else {
        EXPECT_TRUE(status.ok()) << status.message();
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, KeyboardWire, ::testing::ValuesIn(kKeyboardWireCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Plus at the top and minus at the bottom change nothing and send nothing.
TEST(KeyboardState, StepsStopAtTheEnds) {
    struct Case {
        KeyboardLevel level;
        const char* keysReply;
        int delta;
    };
    for (const Case& c : {Case{KeyboardLevel::Brightness, "06 BE 14 00 00 00 05 02 04 01", 1},
                          Case{KeyboardLevel::Speed, "06 BE 14 00 00 00 05 00 03 01", -1},
                          Case{KeyboardLevel::Speed, "06 BE 14 00 00 00 05 04 03 01", 1}}) {
        KeyboardFixture f;
        ASSERT_TRUE(f.Read(c.keysReply, kSideOn).ok());
        const KeyboardLightingState before = f.lighting.State();
        f.device.ClearOps();
        const auto stepped = f.lighting.Step(c.level, c.delta);
        ASSERT_TRUE(stepped.ok());
        EXPECT_FALSE(*stepped);
        EXPECT_TRUE(f.Sent().empty());
        EXPECT_EQ(f.lighting.State(), before);
    }
}

TEST(KeyboardState, ReadsBothRequestsAndRefusesNonsense) {
    KeyboardFixture f;
    ASSERT_EQ(f.Read(kKeysReply, "06 BE 14 00 02 00 00 00 00").value(), 5);
    EXPECT_EQ(f.Sent(), (std::vector<Bytes>{Report("06 BE 14 00 00"), Report("06 BE 14 00 02")}));
    const KeyboardLightingState& s = f.lighting.State();
    EXPECT_EQ(s.speed, 2);
    EXPECT_EQ(s.brightness, 3);
    EXPECT_EQ(s.direction, 1);
    EXPECT_EQ(s.colour1, (Rgb{0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(s.colour2, (Rgb{0x11, 0x22, 0x33}));
    EXPECT_FALSE(s.sideLed);

    // Out-of-range values from the keyboard are not taken into the state.
    const KeyboardLightingState before = f.lighting.State();
    for (const char* garbled : {"06 BE 14 00 00 00 0E", "06 BE 14 00 00 00 01 05",
                                "06 BE 14 00 00 00 01 00 09", "06 BE 14 00 00 00 01 00 00 04"}) {
        const auto read = f.Read(garbled, kSideOn);
        EXPECT_EQ(read.kind(), ErrorKind::DeviceGarbled) << garbled;
        EXPECT_EQ(f.lighting.State(), before) << garbled;
    }
}

// A change before any read reads the state first, so the report keeps what the keyboard
// has in the fields the change leaves alone.
TEST(KeyboardState, FirstChangeReadsTheStateFirst) {
    KeyboardFixture f;
    f.device.QueueInput(Report(kKeysReply));
    f.device.QueueInput(Report(kSideOn));
    KeyboardEffectChange change;
    change.brightness = 0;
    ASSERT_TRUE(f.lighting.ChangeEffect(change).ok());
    EXPECT_EQ(f.Sent(),
              (std::vector<Bytes>{
                  Report("06 BE 14 00 00"), Report("06 BE 14 00 02"),
                  Report("06 BE 15 00 01 02 05 02 00 01 00 00 | 00 00 00 00 | 11 22 33 01")}));
}

TEST(KeyboardNames, FindTheCodes) {
    EXPECT_EQ(KeyboardEffectNamed("ripple"), 10);
    EXPECT_EQ(KeyboardEffectNamed("RIPPLE 2"), 11);
    EXPECT_EQ(KeyboardEffectNamed("Customize"), kCustomKeyboardEffect);
    EXPECT_EQ(KeyboardEffectNamed("Ripple "), std::nullopt);
    EXPECT_EQ(KeyboardEffectNamed(""), std::nullopt);
    EXPECT_EQ(KeyboardDirectionNamed("down"), 3);
    EXPECT_EQ(KeyboardDirectionNamed("Lef"), std::nullopt);
}

TEST(KeyboardState, NothingGoesToAMouse) {
    KeyboardFixture f(0);
    EXPECT_EQ(f.lighting.ReadLightingState().kind(), ErrorKind::BadInput);
    EXPECT_EQ(f.lighting.WriteKeyColours(Keys({1})).kind(), ErrorKind::BadInput);
    EXPECT_EQ(f.lighting.Reset({}).kind(), ErrorKind::BadInput);
    EXPECT_TRUE(f.Sent().empty());
}

TEST(KeyboardState, ReadsKeyColoursFiveAtATime) {
    KeyboardFixture f;
    ASSERT_TRUE(f.Read(kKeysReply, kSideOn).ok());
    f.device.ClearOps();
    f.device.QueueInput(
        Report("06 BE 18 00 01 00 05 01 02 03 04 05 | 10 00 00 00 | 00 00 00 00 "
               "| 30 00 00 00 | 40 00 00 00 | 50 00 00 00"));
    f.device.QueueInput(Report("06 BE 18 00 01 00 05 06 00 00 00 00 | 60 61 62 00"));
    const std::vector<uint8_t> keys = {6, 5, 4, 3, 2, 1};
    const auto read = f.lighting.ReadKeyColours(keys);
    ASSERT_TRUE(read.ok()) << read.message();
    EXPECT_EQ(f.Sent(), (std::vector<Bytes>{Report("06 BE 18 00 01 00 05 01 02 03 04 05"),
                                            Report("06 BE 18 00 01 00 05 06")}));
    ASSERT_EQ(read->size(), 6u);
    // The keyboard keeps no opaque flag: a key with a colour is opaque, a black one not.
    EXPECT_EQ((*read)[1], (KeyColourAt{2, {0, 0, 0, false}}));
    EXPECT_EQ((*read)[5], (KeyColourAt{6, {0x60, 0x61, 0x62, true}}));
    EXPECT_EQ(f.lighting.State().keys.at(3), (KeyColour{0x30, 0, 0, true}));
}

// RESET: custom effect at full brightness, side light on, kind-3 keys red and the others
// black, "Rainbow" with red, then the state read back.
TEST(KeyboardReset, SendsTheSequence) {
    KeyboardFixture f;
    ASSERT_TRUE(f.Read(kKeysReply, "06 BE 14 00 02").ok());
    f.device.ClearOps();
    for (int i = 0; i < 4; ++i) f.device.QueueInput(Report("06 BE"));  // the four changes
    f.device.QueueInput(Report("06 BE 14 00 00 00 01 00 04 00 00 00 | 00 00 00 00 | FF 00 00 01"));
    f.device.QueueInput(Report(kSideOn));
    const std::vector<KeyOfKind> keys = {{3, 3}, {1, 0}, {2, kResetRedKeyKind}};
    const Status s = f.lighting.Reset(keys);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(f.Sent(),
              (std::vector<Bytes>{
                  Report("06 BE 15 00 01 02 0D 00 04 00 00 00 | 00 FF 00 00 | 00 00 00 00"),
                  Report("06 BE 15 00 02 06 06 00 04 00 00 00 | 00 00 00 00 | FF 00 00 01"),
                  Report("06 BE 19 00 01 00 05 01 02 03 00 00 | 00 00 00 00 | FF 00 00 00 | "
                         "FF 00 00 00"),
                  Report("06 BE 15 00 01 02 01 00 04 00 00 00 | FF 00 00 00 | FF 00 00 01"),
                  Report("06 BE 14 00 00"), Report("06 BE 14 00 02")}));
    EXPECT_EQ(f.lighting.State().effect, 1);
    EXPECT_TRUE(f.lighting.State().sideLed);
    EXPECT_EQ(f.lighting.State().keys.at(2), (KeyColour{0xFF, 0, 0, true}));
    EXPECT_EQ(f.lighting.State().keys.at(1), KeyColour{});
}

}  // namespace
}  // namespace qvm
