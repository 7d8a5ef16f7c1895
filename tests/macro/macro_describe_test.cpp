#include "macro/macro_describe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qvm {
namespace {

struct DescribeCase {
    std::vector<uint8_t> bytes;
    std::string text;
};

TEST(MacroDescribe, EveryOpcodeFamilyWithEnglishTexts) {
    const UiStrings ui;
    const DescribeCase cases[] = {
        {{0x00}, "Stop"},
        {{0x01}, "Stop"},
        {{0x04}, "Execute one time"},
        {{0x06}, "Firekey mode"},
        {{0x08, 0x34, 0x12}, "Jump to address 4660"},
        {{0x10, 0x00, 0x05}, "Set ACC=ACC-1, if ACC!=0 then jump to address 1280"},
        {{0x20}, "Press & hold mouse button "},
        {{0x31}, "Press & hold mouse button [Left][B4]"},
        {{0x29}, "Press & hold mouse button [Left][B5]"},
        {{0x3F}, "Press & hold mouse button [Left][Right][Middle][B4][B5]"},
        {{0x46}, "Release mouse button [Right][Middle]"},
        {{0x60}, "Wheel Scrolling  0 count(unit)"},
        {{0x6F}, "Wheel Scrolling  15 count(unit)"},
        {{0x70}, "Wheel Scrolling  -16 count(unit)"},
        {{0x7F}, "Wheel Scrolling  -1 count(unit)"},
        {{0x80, 0x0A, 0x00, 0xFB, 0xFF}, "Mouse Movement (10 , -5)"},
        {{0x80, 0x00, 0x80, 0xFF, 0x7F}, "Mouse Movement (-32768 , 32767)"},
        {{0x81, 0x05}, "Unknown"},
        {{0x83, 0x04}, "Press & hold Keyboard  A"},
        {{0x83, 0x86}, "Press & hold Keyboard  "},  // a usage without a name
        {{0x84, 0x28}, "Release Keyboard  Enter"},
        {{0x85, 0x00, 0x00}, "Release Consumer-key"},
        {{0x85, 0xE9, 0x00}, "Press & hold Consumer-key  Volume +"},
        {{0x85, 0x01, 0x00}, "Press & hold Consumer-key  Unknown"},
        {{0x88, 0x32}, "50 ms"},
        {{0x89, 0x2C, 0x01}, "300 ms"},
        {{0x89, 0x05, 0x00}, "5 ms"},
        {{0xA0, 0xFF, 0xFF, 0x00, 0x80}, "Mouse Move to (65535 , 32768)"},
        {{0xC0, 0xFF, 0xFF, 0x00, 0x80}, "Mouse Move to (-1 , -32768)"},
        {{0xC1}, "System command"},
        // Invalid opcodes of every gap in the table.
        {{0x02}, "Unknown"},
        {{0x86}, "Unknown"},
        {{0xA1}, "Unknown"},
        {{0xD0}, "Unknown"},
        {{0xFF}, "Unknown"},
        // Operand bytes cut off by the end of the buffer read as 0.
        {{0x89, 0x2C}, "44 ms"},
        {{}, "Stop"},
    };
    for (const DescribeCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DescribeMacroInstructionWith(ui, c.bytes), c.text);
    }
}

TEST(MacroDescribe, LanguageOverridesReachEveryTable) {
    UiStrings ui;
    ui.macro_str[12] = "Rad %d Schritte";
    ui.macro_str[13] = "Maustaste %s halten";
    ui.macro_bt_str[0] = "Links";
    ui.macro_bt_str[3] = "Taste 4";
    ui.consumer_keys[6].name = "Lauter";
    const DescribeCase cases[] = {
        {{0x7F}, "Rad -1 Schritte"},
        {{0x31}, "Maustaste [Links][Taste 4] halten"},
        {{0x85, 0xE9, 0x00}, "Press & hold Consumer-key  Lauter"},
        {{0x88, 0x0A}, "10 ms"},  // the wait text is fixed
        {{0x01}, "Stop"},
    };
    for (const DescribeCase& c : cases) {
        EXPECT_EQ(DescribeMacroInstructionWith(ui, c.bytes), c.text);
    }
}

TEST(MacroDescribe, HostileTemplatesFromLanguageFilesAreFilledSafely) {
    UiStrings ui;
    ui.macro_str[3] = "%s %s %n %d %% %";  // more conversions than arguments, and %n
    ui.macro_str[11] = "(%2$d|%1$d)";      // translators may reorder
    ui.macro_str[6] = "Jump %08lx!";       // width, flags and length modifiers
    ui.macro_str[8] = "%9$d %s";           // a position past the arguments
    EXPECT_EQ(DescribeMacroInstructionWith(ui, std::vector<uint8_t>{0x83, 0x04}), "A %s %n %d % %");
    EXPECT_EQ(DescribeMacroInstructionWith(ui, std::vector<uint8_t>{0x80, 1, 0, 2, 0}), "(2|1)");
    EXPECT_EQ(DescribeMacroInstructionWith(ui, std::vector<uint8_t>{0x08, 0x10, 0x00}), "Jump 16!");
    EXPECT_EQ(DescribeMacroInstructionWith(ui, std::vector<uint8_t>{0x18, 0x07, 0x00}), "%9$d 7");
    // A name holding '%' goes in as it stands, never read as a template itself.
    ui.consumer_keys[4].name = "100% %s%d";
    EXPECT_EQ(DescribeMacroInstructionWith(ui, std::vector<uint8_t>{0x85, 0xE2, 0x00}),
              "Press & hold Consumer-key  100% %s%d");
}

}  // namespace
}  // namespace qvm
