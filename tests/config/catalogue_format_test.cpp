// Texts of button slots: each type's rule at its boundaries, and texts that follow the
// language tables. That every text parses back is checked over all texts elsewhere.
#include <gtest/gtest.h>

#include "config/catalogue.h"

namespace qvm {
namespace {

struct FormatCase {
    ButtonSlot slot;
    std::string text;
};

void PrintTo(const FormatCase& c, std::ostream* os) {
    *os << "(" << int(c.slot.type) << ", " << int(c.slot.op1) << ", " << int(c.slot.op2) << ", "
        << int(c.slot.op3) << ") -> \"" << c.text << "\"";
}

class FormatStep50 : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatStep50, GivesText) {
    EXPECT_EQ(FormatButtonSlot(GetParam().slot, 50), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, FormatStep50,
    ::testing::Values(
        FormatCase{{0, 0, 0, 0}, "Default"},
        // Mouse: buttons run together; the wheel count wins, read as a signed byte.
        FormatCase{{4, 0x03, 0, 0}, "Left clickRight click"},
        FormatCase{{4, 0, 0x7F, 0}, "Scroll up"}, FormatCase{{4, 0, 0x80, 0}, "Scroll down"},
        FormatCase{{5, 0xFF, 0x29, 0}, "Ctrl + Shift + Alt + Win + Esc"},
        FormatCase{{5, 0x10, 0xE7, 0}, "Ctrl + Right Win"}, FormatCase{{6, 0x23, 0x00, 0}, ""},
        // Macros: built-in addresses only with the marker.
        FormatCase{{8, 10, 0, 0xFF}, "Tilt right"}, FormatCase{{8, 10, 1, 0xFF}, "Macro "},
        FormatCase{{9, 0x34, 0x12, 0}, "Macro(R) "}, FormatCase{{16, 0, 0xFF, 0}, "Lock X-axis"},
        FormatCase{{16, 0xFF, 0xFF, 0}, "DPI hotkey [X:12750 , Y:12750]"},
        FormatCase{{15, 1, 2, 0x05}, "DPI firekey [X:50 , Y:100] Left clickWheel click"},
        // Fire button: interval form, or the repeat form with its blanks.
        FormatCase{{27, 0x01, 250, 0}, "Fire button (2500ms)"},
        FormatCase{{27, 0x06, 5, 255}, " Right click Wheel click x255"},
        FormatCase{{27, 0x01, 0, 1}, "Left click x1"},
        // Game pad: the lowest set bit of the 14; joystick: 13 for no button.
        FormatCase{{34, 0x01, 0x20, 0}, "XBOX A"}, FormatCase{{34, 0, 0xC0, 0}, "XBOX"},
        FormatCase{{39, 0, 0, 0x08}, "Joystick button 12"},
        FormatCase{{39, 0, 0, 0}, "Joystick button 13"}, FormatCase{{41, 0, 0, 0}, "-- End --"},
        FormatCase{{0xFF, 1, 1, 1}, ""}));

// The DPI operands count in the device's DPI step.
TEST(FormatDpiStep, OperandsCountInTheDevicesStep) {
    EXPECT_EQ(FormatButtonSlot({15, 16, 8, 0}, 100), "DPI firekey [X:1600 , Y:800]");
    EXPECT_EQ(FormatButtonSlot({16, 0, 0xFF, 0}, 100), "Lock X-axis");
}

TEST(KeyNames, TableHoldsEveryNameOnceAndEndsWithTheEndRow) {
    const auto table = KeyNameTable();
    ASSERT_EQ(table.size(), kKeyNameCount + 1);
    EXPECT_EQ(table.back().usage, kKeyNameEnd);
    EXPECT_EQ(KeyName(0x89), "\\");
    for (int unnamed : {0, 1, 3, 0x64, 0x68, 0x86, 0x8C, 0x92, 0xDF, 0xE8, -1}) {
        EXPECT_EQ(KeyName(unnamed), "") << unnamed;
    }
}

// Texts follow the tables in force: type names, mouse texts, messages and consumer names.
TEST(FormatLanguage, TextsComeFromTheStringTables) {
    UiStrings ui;
    ui.type_str[5] = "Tastatur ";
    ui.type_str[27] = "Dauerfeuer";
    ui.type_str[15] = "DPI-Taste";
    ui.mouse_str[0] = "Links";
    ui.mouse_str[1] = "Rechts";
    ui.mouse_str[6] = "Neigen rechts";
    ui.mouse_str[7] = "Hoch";
    ui.msg_str[46] = "X sperren";
    ui.msg_str[68] = "schneller";
    ui.consumer_keys[6].name = "Lauter";
    ui.launch_str = "Starten";
    ui.end_str = "-- Ende --";

    struct Row {
        ButtonSlot slot;
        std::string text;
    };
    const Row rows[] = {
        {{4, 0x03, 0, 0}, "LinksRechts"},
        {{8, 10, 0, 0xFF}, "Neigen rechts"},
        {{27, 0x03, 1, 2}, "Links Rechts x2"},
        {{15, 2, 4, 0x02}, "DPI-Taste [X:100 , Y:200] Rechts"},
        {{15, 0, 0xFF, 0}, "X sperren"},
        {{37, 1, 0, 0}, "DPI adjist (schneller)"},
        {{25, 0xE9, 0xEA, 0}, "Lauter / Volume -"},
        {{3, 1, 0, 0}, "Starten"},
        {{41, 0, 0, 0}, "-- Ende --"},
        {{5, 0x01, 0x06, 0}, "Ctrl + C"},  // key names are program constants
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FormatButtonSlotWith(ui, r.slot, 50), r.text) << int(r.slot.type);
    }

    // The process-wide tables are what the plain formatter reads.
    const UiStrings saved = Ui();
    SetUi(ui);
    EXPECT_EQ(FormatButtonSlot({4, 0x01, 0, 0}, 50), "Links");
    EXPECT_EQ(ConsumerName(0xE9), "Lauter");
    SetUi(saved);
    EXPECT_EQ(FormatButtonSlot({4, 0x01, 0, 0}, 50), "Left click");
}

// A consumer table whose terminator comes early hides the rows after it.
TEST(FormatLanguage, ConsumerSearchStopsAtTheTerminator) {
    UiStrings ui;
    ui.consumer_keys[4].usage = kConsumerKeyTerminator;
    EXPECT_EQ(ConsumerNameWith(ui, 0x183), "Media Player");
    EXPECT_EQ(ConsumerNameWith(ui, 0xE9), "");
}

}  // namespace
}  // namespace qvm
