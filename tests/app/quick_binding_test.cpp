#include "present/quick_binding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "lang/linux_keycodes.h"
#include "lang/scancodes.h"

namespace qvm {
namespace {

using Kind = QuickBindingResult::Kind;

using Action = QuickBindingResult (*)(QuickBinding&, int);
constexpr Action kDown = [](QuickBinding& b, int v) { return b.KeyDown(v); };
constexpr Action kUp = [](QuickBinding& b, int v) { return b.KeyUp(v); };
constexpr Action kMouse = [](QuickBinding& b, int v) { return b.MouseButtons(uint32_t(v)); };
constexpr Action kCancel = [](QuickBinding& b, int) { return b.Cancel(); };

struct Step {
    Action act;
    int value;
    QuickBindingResult expected;
};

constexpr QuickBindingResult kNothing{};
constexpr int kButton = 6;

QuickBindingResult Bound(uint8_t type, uint8_t op1, uint8_t op2) {
    return {Kind::kBound, kButton, {type, op1, op2, 0}};
}

struct BindingCase {
    const char* label;
    std::vector<Step> steps;
};

class QuickBindingSequenceTest : public testing::TestWithParam<BindingCase> {};

TEST_P(QuickBindingSequenceTest, EachEventGivesItsResult) {
    QuickBinding binding;
    ASSERT_TRUE(binding.Start(kButton).ok());
    for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
        const Step& step = GetParam().steps[i];
        const QuickBindingResult got = step.act(binding, step.value);
        EXPECT_EQ(got.kind, step.expected.kind) << "step " << i;
        EXPECT_EQ(got.button, step.expected.button) << "step " << i;
        EXPECT_EQ(got.slot.Bytes(), step.expected.slot.Bytes()) << "step " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, QuickBindingSequenceTest,
    testing::Values(BindingCase{"ctrl_held_then_released",
                                {{kDown, 0x1D, kNothing}, {kUp, 0x1D, Bound(5, 0x01, 0)}}},
                    BindingCase{"two_modifiers_bind_when_the_last_is_released",
                                {{kDown, 0x1D, kNothing},
                                 {kDown, 0x2A, kNothing},
                                 {kUp, 0x2A, kNothing},
                                 {kUp, 0x1D, Bound(5, 0x03, 0)}}},
                    BindingCase{"ctrl_shift_a",
                                {{kDown, 0x1D, kNothing},
                                 {kDown, 0x2A, kNothing},
                                 {kDown, 0x1E, Bound(5, 0x03, 0x04)}}},
                    BindingCase{"right_hand_modifiers",
                                {{kDown, 0xE01D, kNothing},
                                 {kDown, 0x36, kNothing},
                                 {kDown, 0xE038, kNothing},
                                 {kDown, 0xE05C, kNothing},
                                 {kDown, 0x02, Bound(5, 0xF0, 0x1E)}}},
                    BindingCase{"released_modifier_is_not_carried",
                                {{kDown, 0x1D, kNothing},
                                 {kDown, 0x2A, kNothing},
                                 {kUp, 0x1D, kNothing},
                                 {kDown, 0x30, Bound(5, 0x02, 0x05)}}},
                    BindingCase{"arrow_up", {{kDown, 0xE048, Bound(5, 0, 0x52)}}},
                    BindingCase{"right_mouse_unknown_bits_ignored",
                                {{kMouse, 0x40, kNothing}, {kMouse, 0x42, Bound(4, 0x02, 0)}}},
                    BindingCase{"key_without_usage_keeps_waiting",
                                {{kDown, 0x54, kNothing},
                                 {kDown, -1, kNothing},
                                 {kDown, 0x7FFFFFFF, kNothing},
                                 {kDown, 0x1E, Bound(5, 0, 0x04)}}},
                    BindingCase{"modifier_held_before_start_binds_nothing_on_release",
                                {{kUp, 0x1D, kNothing}, {kDown, 0x1E, Bound(5, 0, 0x04)}}},
                    BindingCase{"key_held_before_start_binds_on_release",
                                {{kUp, 0x1E, Bound(5, 0, 0x04)}}},
                    BindingCase{"events_after_binding_ignored",
                                {{kDown, 0x1E, Bound(5, 0, 0x04)},
                                 {kDown, 0x30, kNothing},
                                 {kMouse, 0x01, kNothing},
                                 {kCancel, 0, kNothing}}},
                    BindingCase{"keys_after_cancel_ignored",
                                {{kCancel, 0, {Kind::kCancelled, -1, {}}},
                                 {kDown, 0x1D, kNothing},
                                 {kUp, 0x1D, kNothing},
                                 {kDown, 0x1E, kNothing},
                                 {kMouse, 0x02, kNothing}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(QuickBindingTest, CountdownCancelsAfterTenSecondsAndBindsNothing) {
    QuickBinding binding;
    ASSERT_TRUE(binding.Start(kButton).ok());
    EXPECT_EQ(binding.SecondsLeft(), 10);
    for (int tick = 1; tick < 100; ++tick) {
        ASSERT_EQ(binding.Tick(), kNothing) << "tick " << tick;
        EXPECT_EQ(binding.SecondsLeft(), 10 - tick / 10) << "tick " << tick;
    }
    EXPECT_EQ(binding.SecondsLeft(), 1);
    EXPECT_EQ(binding.Tick().kind, Kind::kCancelled);
    EXPECT_FALSE(binding.Active());
    EXPECT_EQ(binding.KeyDown(0x1E), kNothing);
    EXPECT_EQ(binding.MouseButtons(0x02), kNothing);
    EXPECT_EQ(binding.Tick(), kNothing);
}

TEST(QuickBindingTest, RejectsButtonsOutsideAProfile) {
    QuickBinding binding;
    EXPECT_FALSE(binding.Start(-1).ok());
    EXPECT_FALSE(binding.Start(32).ok());
    EXPECT_FALSE(binding.Active());
    EXPECT_TRUE(binding.Start(31).ok());
}

TEST(QuickBindingTest, PromptUsesTheLanguageTemplateSafely) {
    UiStrings ui;
    EXPECT_EQ(QuickBindingPrompt(ui, 7), "7 sec, Press keyboard or click mouse button for binding");
    ui.msg_str[38] = "Noch %d s (%s)";  // a translation asking for more than it gets
    EXPECT_EQ(QuickBindingPrompt(ui, 3), "Noch 3 s (%s)");
}

struct EvdevCase {
    const char* label;
    int evdev;
    std::optional<int> set1;
    int usage;  // what the binding sends for it; 0 when there is no scan code
};

class EvdevTest : public testing::TestWithParam<EvdevCase> {};

TEST_P(EvdevTest, MapsToScanCodeAndUsage) {
    const EvdevCase& c = GetParam();
    EXPECT_EQ(EvdevToSet1ScanCode(c.evdev), c.set1);
    if (c.set1) {
        EXPECT_EQ(ScanCodeToUsage(*c.set1), c.usage);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EvdevTest,
    testing::Values(
        EvdevCase{"digit_1", 2, 0x02, 0x1E}, EvdevCase{"letter_a", 30, 0x1E, 0x04},
        EvdevCase{"f1", 59, 0x3B, 0x3A}, EvdevCase{"f12", 88, 0x58, 0x45},
        EvdevCase{"keypad_7", 71, 0x47, 0x5F}, EvdevCase{"keypad_enter", 96, 0xE01C, 0x58},
        EvdevCase{"keypad_slash", 98, 0xE035, 0x54}, EvdevCase{"right_ctrl", 97, 0xE01D, 0xE4},
        EvdevCase{"up", 103, 0xE048, 0x52}, EvdevCase{"right_meta", 126, 0xE05C, 0xE7},
        EvdevCase{"num_lock", 69, 0xE045, 0x53}, EvdevCase{"pause", 119, 0x45, 0x48},
        EvdevCase{"print_screen", 99, 0xE037, 0x46}, EvdevCase{"gap_84", 84, std::nullopt, 0},
        EvdevCase{"negative", -3, std::nullopt, 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(EvdevKeycodesTest, EveryMappedKeyHasAUsageAndNoTwoKeysShareACode) {
    std::vector<int> seen;
    for (int evdev = -1; evdev < 0x300; ++evdev) {
        const std::optional<int> code = EvdevToSet1ScanCode(evdev);
        if (!code) continue;
        EXPECT_NE(ScanCodeToUsage(*code), 0) << "evdev " << evdev;
        for (int other : seen) EXPECT_NE(other, *code) << "evdev " << evdev;
        seen.push_back(*code);
    }
    EXPECT_GE(seen.size(), 100u);
}

}  // namespace
}  // namespace qvm
