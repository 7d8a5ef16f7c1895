// Language files fill the templates of the editor's row texts: whatever a translator
// writes there is filled safely, never read as a format of the C library.
#include "macro/macro_describe.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvm {
namespace {

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
