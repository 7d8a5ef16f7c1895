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

// Each edit applies to the library entry of its function type (the operands of the
// "Macro" row pick a stored macro on the built-in one).
enum class Op { Key, Consumer, Dpi, Fire, Rapid, Macro };
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
    {"NoKeyNoModifier", Op::Key, 0, 0, {}, "choose a key"},
    {"Consumer", Op::Consumer, 0x223, 0, {6, 0x23, 0x02, 0}, ""},
    {"DpiValues", Op::Dpi, 1, 160, {15, 1, 160, 0}, ""},
    {"DpiAboveStepCount", Op::Dpi, 161, 16, {}, "outside 1 to 160"},
    {"FireInterval", Op::Fire, 250, 3, {27, 0x01, 250, 3}, ""},
    {"FireIntervalAbove250", Op::Fire, 251, 0, {}, "outside 0 to 250"},
    {"RapidFireZero", Op::Rapid, 0, 0, {}, "outside 1 to 255"},
    {"MacroInMode", Op::Macro, 3, kMacroModeFireKey, {10, 0x34, 0x12, 0}, ""},
    {"MacroEmptySlot", Op::Macro, 4, kMacroModeOnce, {}, "slot 4 is empty"},
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

}  // namespace
}  // namespace qvm
