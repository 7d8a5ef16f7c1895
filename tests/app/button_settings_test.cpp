// The rules of the button settings window without drawing: which classes and entries it
// offers, what it preselects, which operands it refuses, the key-cycle append limit and
// the bytes OK assigns.
#include "present/button_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

namespace qvm {
namespace {

constexpr int kProfile = 1;
constexpr int kMacroCode = 0x1234;  // code address of the macro in slot 3

FunctionLibraryItem Item(int32_t group, const char* name, ButtonSlot s) {
    FunctionLibraryItem item;
    item.entry.name = name;
    item.entry.parent = group;
    item.entry.type = s.type;
    item.entry.op1 = s.op1;
    item.entry.op2 = s.op2;
    item.entry.op3 = s.op3;
    return item;
}

FunctionLibrary Library() {
    FunctionLibrary lib;
    FunctionLibraryItem group;
    group.entry.type = kLibraryFolderType;
    lib.items = {group,
                 Item(kGroupMouse, "Left click", {4, 0x01, 0, 0}),
                 Item(kGroupMouse, "Right click", {4, 0x02, 0, 0}),
                 Item(kGroupKeyboard, "A", {5, 0, 0x04, 0}),
                 Item(kGroupConsumer, "Volume +", {6, 0xE9, 0, 0}),
                 Item(kGroupAdvanced, "DPI+", {12, 0, 0, 0}),
                 Item(kGroupAdvanced, "DPI firekey", {15, 16, 16, 0}),
                 Item(kGroupAdvanced, "Fire button", {27, 0x01, 5, 0}),
                 Item(kGroupAdvanced, "Rapid fire", {33, 0, 25, 0}),
                 Item(kGroupAdvanced, "Tilt left", {8, 0, 0, 0xFF}),
                 Item(kGroupAdvanced, "XBOX A", {34, 0x01, 0, 0})};
    return lib;
}

ConfigImage Image() {
    ConfigImage image;
    image.loaded = true;
    image.layoutClass = LayoutClass::C;
    image.dpiStep = 50;
    image.dpiStepCount = 160;
    image.macros[3] = {"Combo", 0x1200, kMacroCode, 60, kMacroModeLoop};
    // Profile 1, button 2 runs "Right click"; its key-cycle list holds two keys.
    image.buttons[kProfile][2].slot = {4, 0x02, 0, 0};
    image.buttons[kProfile][4].slot = {5, 0x03, 0x06, 0};  // Ctrl + Shift + C: no entry
    image.keyCycles[kProfile].bytes = {2, 0x01, 0x06, 0x00, 0x3B};
    return image;
}

ModelLayout Layout(bool gamepad, int special = -1) {
    ModelLayout layout;
    layout.ButtonCount = 12;
    for (int i = 0; i < kLayoutPositions; ++i) layout.ButtonOrder[static_cast<std::size_t>(i)] = i;
    layout.GamepadVariantFlag = gamepad;
    layout.SpecialButtonIndex = special;
    return layout;
}

ButtonSettingsModel Make(int position = 0, bool gamepad = false, int special = -1,
                         const ConfigImage& image = Image()) {
    auto made = ButtonSettingsModel::Create(image, Layout(gamepad, special), Library(), kProfile,
                                            position, UiStrings{});
    EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
    return std::move(made).value();
}

bool Lists(const ButtonSettingsModel& m, FunctionClass cls, const ButtonSlot& slot) {
    for (const auto& e : m.Entries(cls)) {
        if (e.slot == slot) return true;
    }
    return false;
}

TEST(ButtonSettings, GamepadClassOnlyWithTheModelFlag) {
    for (bool flag : {false, true}) {
        SCOPED_TRACE(flag);
        const ButtonSettingsModel m = Make(0, flag);
        std::vector<std::string> names;
        for (FunctionClass cls : m.Classes()) names.push_back(m.ClassName(cls));
        std::vector<std::string> expected = {"Mouse", "Keyboard", "Advanced", "Macro", "Key Cycle"};
        if (flag) expected.push_back("Joystick");
        EXPECT_EQ(names, expected);
        // The library's game-pad function shows nowhere without the flag.
        bool anywhere = false;
        for (FunctionClass cls : m.Classes()) anywhere |= Lists(m, cls, {34, 0x01, 0, 0});
        EXPECT_EQ(anywhere, flag);
        EXPECT_EQ(Lists(m, FunctionClass::Gamepad, {39, 13, 0, 0}), flag);    // joystick hat
        EXPECT_EQ(Lists(m, FunctionClass::Gamepad, {34, 0, 0x20, 0}), flag);  // XBOX Back
    }
}

TEST(ButtonSettings, MacroClassHoldsBuiltInsThenStoredMacrosInTheirMode) {
    const ButtonSettingsModel m = Make();
    // Built-in macros from the library, then the device's macros in their stored mode.
    ASSERT_EQ(m.Entries(FunctionClass::Macro).size(), 2u);
    EXPECT_EQ(m.Entries(FunctionClass::Macro)[0].slot, (ButtonSlot{8, 0, 0, 0xFF}));
    const FunctionEntry& stored = m.Entries(FunctionClass::Macro)[1];
    EXPECT_EQ(stored.text, "Combo");
    EXPECT_EQ(stored.slot, (ButtonSlot{9, 0x34, 0x12, 0}));
    EXPECT_EQ(stored.macroSlot, 3);
}

TEST(ButtonSettings, ExtraFunctionOnlyAtTheSpecialButton) {
    const ButtonSlot volumeScroll{25, 0xE9, 0xEA, 0x00};
    EXPECT_TRUE(Lists(Make(11, false, 11), FunctionClass::Advanced, volumeScroll));
    EXPECT_FALSE(Lists(Make(10, false, 11), FunctionClass::Advanced, volumeScroll));
    EXPECT_FALSE(Lists(Make(11, false, -1), FunctionClass::Advanced, volumeScroll));
}

TEST(ButtonSettings, PreselectsTheAssignedFunction) {
    struct Case {
        int position;
        FunctionClass cls;
        std::optional<std::string> entry;
        ButtonSlot current;
    };
    const Case cases[] = {
        {2, FunctionClass::Mouse, "Right click", {4, 0x02, 0, 0}},
        {4, FunctionClass::Keyboard, std::nullopt, {5, 0x03, 0x06, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        const ButtonSettingsModel m = Make(c.position);
        EXPECT_EQ(m.SelectedClass(), c.cls);
        EXPECT_EQ(m.Current(), c.current);
        if (c.entry) {
            ASSERT_TRUE(m.SelectedEntry().has_value());
            EXPECT_EQ(m.Entries(c.cls)[static_cast<std::size_t>(*m.SelectedEntry())].text,
                      *c.entry);
        } else {
            EXPECT_FALSE(m.SelectedEntry().has_value());
        }
    }
}

// Each edit applies to the library entry of its function type (the operands of the
// "Macro" row pick a stored macro on the built-in one).
enum class Op { Key, Consumer, Dpi, Fire, Rapid, Macro, KeyOnMouse };
struct OperandCase {
    const char* name;
    Op op;
    int a, b;
    std::vector<uint8_t> chosen;  // empty: refused with `message`
    const char* message;
};

// clang-format off
const OperandCase kOperands[] = {
    {"KeyCombination", Op::Key, 0x11, 0x06, {5, 0x11, 0x06, 0}, ""},
    {"ModifiersOnly", Op::Key, 0x02, 0, {5, 0x02, 0, 0}, ""},
    {"NoKeyNoModifier", Op::Key, 0, 0, {}, "choose a key"},
    {"UnknownUsage", Op::Key, 0, 0x70, {}, "not a known key"},
    {"UsageAboveByte", Op::Key, 0, 0x104, {}, "outside 0 to 255"},
    {"KeyOnMouseFunction", Op::KeyOnMouse, 0, 0x04, {}, "takes no key"},
    {"Consumer", Op::Consumer, 0x223, 0, {6, 0x23, 0x02, 0}, ""},
    {"ConsumerZero", Op::Consumer, 0, 0, {}, "outside 1 to 65535"},
    {"DpiValues", Op::Dpi, 1, 160, {15, 1, 160, 0}, ""},
    {"DpiAboveStepCount", Op::Dpi, 161, 16, {}, "outside 1 to 160"},
    {"DpiZero", Op::Dpi, 16, 0, {}, "in steps of 50"},
    {"FireInterval", Op::Fire, 250, 3, {27, 0x01, 250, 3}, ""},
    {"FireIntervalAbove250", Op::Fire, 251, 0, {}, "outside 0 to 250"},
    {"FireCountAbove255", Op::Fire, 10, 256, {}, "outside 0 to 255"},
    {"RapidFire", Op::Rapid, 255, 0, {33, 0, 255, 0}, ""},
    {"RapidFireZero", Op::Rapid, 0, 0, {}, "outside 1 to 255"},
    {"MacroInMode", Op::Macro, 3, kMacroModeFireKey, {10, 0x34, 0x12, 0}, ""},
    {"MacroEmptySlot", Op::Macro, 4, kMacroModeOnce, {}, "slot 4 is empty"},
    {"MacroBadMode", Op::Macro, 3, 11, {}, "outside 8 to 10"},
};
// clang-format on

class ButtonOperands : public ::testing::TestWithParam<OperandCase> {};

TEST_P(ButtonOperands, AreCheckedAndGiveTheAssignedBytes) {
    const OperandCase& c = GetParam();
    struct Target {
        FunctionClass cls;
        ButtonSlot entry;
    };
    const std::map<Op, Target> targets = {
        {Op::Key, {FunctionClass::Keyboard, {5, 0, 0x04, 0}}},
        {Op::KeyOnMouse, {FunctionClass::Mouse, {4, 0x01, 0, 0}}},
        {Op::Consumer, {FunctionClass::Keyboard, {6, 0xE9, 0, 0}}},
        {Op::Dpi, {FunctionClass::Advanced, {15, 16, 16, 0}}},
        {Op::Fire, {FunctionClass::Advanced, {27, 0x01, 5, 0}}},
        {Op::Rapid, {FunctionClass::Advanced, {33, 0, 25, 0}}},
        {Op::Macro, {FunctionClass::Macro, {8, 0, 0, 0xFF}}},
    };
    const Target& t = targets.at(c.op);
    ButtonSettingsModel m = Make();
    const auto list = m.Entries(t.cls);
    const auto hit = std::find_if(list.begin(), list.end(),
                                  [&](const FunctionEntry& e) { return e.slot == t.entry; });
    ASSERT_NE(hit, list.end());
    ASSERT_TRUE(m.Select(t.cls, static_cast<int>(hit - list.begin())).ok());
    const Status edited = [&] {
        switch (c.op) {
            case Op::Key:
            case Op::KeyOnMouse:
                return m.SetKeyCombination(static_cast<uint8_t>(c.a), c.b);
            case Op::Consumer:
                return m.SetConsumerUsage(c.a);
            case Op::Dpi:
                return m.SetDpiValues(c.a, c.b);
            case Op::Fire:
                return m.SetFireButton(c.a, c.b);
            case Op::Rapid:
                return m.SetRapidFireInterval(c.a);
            case Op::Macro:
                return m.SetMacro(c.a, c.b);
        }
        return Status(MakeError("unknown edit"));
    }();
    if (!c.chosen.empty()) {
        ASSERT_TRUE(edited.ok()) << edited.message();
        auto chosen = m.Chosen();
        ASSERT_TRUE(chosen.ok()) << chosen.message();
        const auto bytes = chosen->Bytes();
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), c.chosen);
    } else {
        ASSERT_FALSE(edited.ok());
        EXPECT_NE(edited.message().find(c.message), std::string::npos) << edited.message();
        EXPECT_EQ(m.Current(), t.entry);  // a refused edit changes nothing
    }
}

INSTANTIATE_TEST_SUITE_P(Ranges, ButtonOperands, ::testing::ValuesIn(kOperands),
                         [](const auto& info) { return std::string(info.param.name); });

// A device with more DPI steps than a byte holds still gets operands that fit the byte:
// 256 steps would be stored as 0.
TEST(ButtonSettings, DpiOperandsStopAtOneByte) {
    ConfigImage image = Image();
    image.dpiStepCount = 320;
    ButtonSettingsModel m = Make(0, false, -1, image);
    const auto list = m.Entries(FunctionClass::Advanced);
    const auto hit = std::find_if(list.begin(), list.end(), [](const FunctionEntry& e) {
        return e.slot == ButtonSlot{15, 16, 16, 0};
    });
    ASSERT_NE(hit, list.end());
    ASSERT_TRUE(m.Select(FunctionClass::Advanced, static_cast<int>(hit - list.begin())).ok());
    EXPECT_FALSE(m.SetDpiValues(256, 1).ok());
    EXPECT_FALSE(m.SetDpiValues(1, 320).ok());
    ASSERT_TRUE(m.SetDpiValues(255, 255).ok());
    EXPECT_EQ(m.Current(), (ButtonSlot{15, 255, 255, 0}));
}

TEST(ButtonSettings, KeyCycleAppendsOnlyWhileBelowFive) {
    ButtonSettingsModel m = Make();
    EXPECT_EQ(m.KeyCycle(), (std::vector<KeyCycleEntry>{{0x01, 0x06}, {0x00, 0x3B}}));
    EXPECT_FALSE(m.KeyCycleChanged());
    const int appended[] = {0x04, 0x05, 0x06};
    for (int usage : appended) ASSERT_TRUE(m.AppendKeyCycle({0, static_cast<uint8_t>(usage)}).ok());
    ASSERT_EQ(m.KeyCycle().size(), 5u);
    const Status sixth = m.AppendKeyCycle({0, 0x07});
    EXPECT_FALSE(sixth.ok());
    EXPECT_NE(sixth.message().find("full"), std::string::npos) << sixth.message();
    EXPECT_EQ(m.KeyCycle().size(), 5u);
    ASSERT_TRUE(m.RemoveLastKeyCycle().ok());
    EXPECT_TRUE(m.AppendKeyCycle({0x08, 0x07}).ok());
    EXPECT_EQ(m.KeyCycle().back(), (KeyCycleEntry{0x08, 0x07}));
    EXPECT_TRUE(m.KeyCycleChanged());
    m.ClearKeyCycle();
    EXPECT_TRUE(m.KeyCycle().empty());
    EXPECT_FALSE(m.RemoveLastKeyCycle().ok());
    EXPECT_FALSE(m.AppendKeyCycle({0, 0}).ok());
}

TEST(ButtonSettings, KeyCycleFromAnotherToolAboveFiveTakesNoMoreKeys) {
    ConfigImage image = Image();
    image.keyCycles[kProfile].bytes = {7, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 10};
    ButtonSettingsModel m = Make(0, false, -1, image);
    ASSERT_EQ(m.KeyCycle().size(), 7u);
    EXPECT_FALSE(m.AppendKeyCycle({0, 0x04}).ok());
    ASSERT_TRUE(m.RemoveLastKeyCycle().ok());
    ASSERT_TRUE(m.RemoveLastKeyCycle().ok());
    EXPECT_FALSE(m.AppendKeyCycle({0, 0x04}).ok());  // 5 keys: still not below five
}

TEST(ButtonSettings, RefusesWhatTheDeviceDoesNotHave) {
    ConfigImage unloaded = Image();
    unloaded.loaded = false;
    const std::tuple<ConfigImage, int, int> cases[] = {
        {Image(), 5, 0}, {Image(), 1, 12}, {Image(), 1, -1}, {unloaded, 1, 0}};
    for (const auto& [image, profile, position] : cases) {
        EXPECT_FALSE(
            ButtonSettingsModel::Create(image, Layout(false), Library(), profile, position).ok())
            << profile << " " << position;
    }
}

}  // namespace
}  // namespace qvm
