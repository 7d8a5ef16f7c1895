// Texts of button slots and back: each type's rule at its boundaries, texts the command
// line refuses, texts that follow the language tables, and every suggested text parsing
// back to itself.
#include <gtest/gtest.h>

#include "config/catalogue.h"

namespace qvm {
namespace {

TEST(Catalogue, FormatsEachTypesRuleAtItsBoundaries) {
    const std::pair<ButtonSlot, std::string> rows[] = {
        {{0, 0, 0, 0}, "Default"},
        // Mouse: buttons run together; the wheel count wins, read as a signed byte.
        {{4, 0x03, 0, 0}, "Left clickRight click"},
        {{4, 0, 0x80, 0}, "Scroll down"},
        {{5, 0xFF, 0x29, 0}, "Ctrl + Shift + Alt + Win + Esc"},
        // Macros: built-in addresses only with the marker.
        {{8, 10, 0, 0xFF}, "Tilt right"},
        {{8, 10, 1, 0xFF}, "Macro "},
        {{16, 0xFF, 0xFF, 0}, "DPI hotkey [X:12750 , Y:12750]"},
        {{15, 1, 2, 0x05}, "DPI firekey [X:50 , Y:100] Left clickWheel click"},
        // Fire button: interval form, or the repeat form with its blanks.
        {{27, 0x01, 250, 0}, "Fire button (2500ms)"},
        {{27, 0x06, 5, 255}, " Right click Wheel click x255"},
        // Game pad: the lowest set bit of the 14; joystick: 13 for no button.
        {{34, 0x01, 0x20, 0}, "XBOX A"},
        {{34, 0, 0xC0, 0}, "XBOX"},
        {{39, 0, 0, 0}, "Joystick button 13"},
        {{0xFF, 1, 1, 1}, ""},
    };
    for (const auto& [slot, text] : rows) {
        EXPECT_EQ(FormatButtonSlot(slot, 50), text) << int(slot.type) << " " << int(slot.op1);
    }
    // The DPI operands count in the device's DPI step.
    EXPECT_EQ(FormatButtonSlot({15, 16, 8, 0}, 100), "DPI firekey [X:1600 , Y:800]");
}

TEST(Catalogue, KeyNameTableHoldsEveryNameOnceAndEndsWithTheEndRow) {
    const auto table = KeyNameTable();
    ASSERT_EQ(table.size(), kKeyNameCount + 1);
    EXPECT_EQ(table.back().usage, kKeyNameEnd);
    EXPECT_EQ(KeyName(0x89), "\\");
    for (int unnamed : {0, 1, 3, 0x64, 0x68, 0x86, 0x8C, 0x92, 0xDF, 0xE8, -1}) {
        EXPECT_EQ(KeyName(unnamed), "") << unnamed;
    }
}

TEST(Catalogue, ParsesTheFirstSlotAndRefusesBadTexts) {
    struct Row {
        std::string text;
        int dpiStep;
        std::vector<ButtonSlot> first;  // empty: refused
        std::size_t count;
    };
    const Row rows[] = {
        {"  ctrl + shift + alt + win + f12 ", 50, {{5, 0x0F, 0x45, 0}}, 1},
        {"\\", 50, {{5, 0, 0x31, 0}}, 2},           // the name of two usages
        {"Tilt right", 50, {{8, 10, 0, 0xFF}}, 3},  // runs once, repeated or while held
        {"dpi hotkey [x:1600 , y:800]", 100, {{16, 16, 8, 0}}, 1},
        {"DPI firekey [X:50 , Y:0] Left clickForward", 50, {{15, 1, 0, 0x11}}, 1},
        {"   ", 50, {}, 0},
        {"Ctrl +", 50, {}, 0},
        {"Fire button (2510ms)", 50, {}, 0},
        // Not a multiple of the step, or beyond one byte of steps.
        {"DPI firekey [X:850 , Y:800]", 100, {}, 0},
        {"DPI firekey [X:12800 , Y:50]", 50, {}, 0},
        // The same modifiers on both keys, or nothing.
        {"Ctrl + A / Shift + B", 50, {}, 0},
        {"Joystick button 14", 50, {}, 0},
    };
    for (const Row& r : rows) {
        const auto slots = ParseFunctionText(r.text, r.dpiStep);
        ASSERT_EQ(slots.size(), r.count) << r.text;
        if (r.count > 0) {
            EXPECT_EQ(slots.front(), r.first.front()) << r.text;
        }
    }
}

// Every assignable slot the suggestions know parses back to a slot with the same text.
TEST(Catalogue, EverySuggestedTextParsesToItself) {
    const auto texts = SuggestFunctionTexts("", 100000, 50);
    ASSERT_GT(texts.size(), 2000u);
    for (const std::string& text : texts) {
        const auto slots = ParseFunctionText(text, 50);
        ASSERT_FALSE(slots.empty()) << text;
        for (const ButtonSlot& s : slots) {
            std::string shown = FormatButtonSlot(s, 50);
            shown.erase(0, shown.find_first_not_of(' '));
            EXPECT_EQ(shown, text);
        }
    }
    const auto near = SuggestFunctionTexts("Ctrl + Cc", 3, 50);
    ASSERT_EQ(near.size(), 3u);
    EXPECT_EQ(near[0], "Ctrl + C");
    EXPECT_EQ(SuggestFunctionTexts("scrol up", 1, 50), std::vector<std::string>{"Scroll up"});
}

// Texts follow the tables in force, both ways; key names are program constants.
TEST(Catalogue, TextsFollowTheLanguageTables) {
    UiStrings ui;
    ui.type_str[15] = "DPI-Taste";
    ui.type_str[33] = "Schnellfeuer";
    ui.mouse_str[0] = "Links";
    ui.mouse_str[1] = "Rechts";
    ui.msg_str[68] = "schneller";
    ui.consumer_keys[6].name = "Lauter";
    EXPECT_EQ(FormatButtonSlotWith(ui, {15, 2, 4, 0x02}, 50), "DPI-Taste [X:100 , Y:200] Rechts");
    EXPECT_EQ(FormatButtonSlotWith(ui, {37, 1, 0, 0}, 50), "DPI adjist (schneller)");
    EXPECT_EQ(FormatButtonSlotWith(ui, {25, 0xE9, 0xEA, 0}, 50), "Lauter / Volume -");
    EXPECT_EQ(FormatButtonSlotWith(ui, {5, 0x01, 0x06, 0}, 50), "Ctrl + C");
    EXPECT_EQ(ParseFunctionTextWith(ui, "links", 50), (std::vector<ButtonSlot>{{4, 1, 0, 0}}));
    EXPECT_EQ(ParseFunctionTextWith(ui, "Schnellfeuer (9ms)", 50),
              (std::vector<ButtonSlot>{{33, 0, 9, 0}}));
    EXPECT_TRUE(ParseFunctionTextWith(ui, "Left click", 50).empty());

    // The process-wide tables are what the plain formatter reads.
    const UiStrings saved = Ui();
    SetUi(ui);
    EXPECT_EQ(FormatButtonSlot({4, 0x01, 0, 0}, 50), "Links");
    SetUi(saved);
    EXPECT_EQ(FormatButtonSlot({4, 0x01, 0, 0}, 50), "Left click");

    // A consumer table whose terminator comes early hides the rows after it.
    ui.consumer_keys[4].usage = kConsumerKeyTerminator;
    EXPECT_EQ(ConsumerNameWith(ui, 0x183), "Media Player");
    EXPECT_EQ(ConsumerNameWith(ui, 0xE9), "");
}

}  // namespace
}  // namespace qvm
