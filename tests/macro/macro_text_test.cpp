// The macro text form users store with qvmctl: each line parses back to the bytes it
// was formatted from, and a bad line is refused by number with the rule it breaks. And the
// editor's row texts, whose templates come from language files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "macro/macro_describe.h"
#include "macro/macro_text.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(const std::vector<MacroItem>& items) {
    return EncodeMacroCode(items);
}

MacroItem Item(Bytes bytes) {
    return MakeMacroItem(bytes);
}

struct TextCase {
    Bytes bytes;
    std::string line;
};

// The spellings qvmctl's own output never uses: case, comments, CR LF, hex usages. (What
// it prints parses back to the same bytes: the round trips below.)
TEST(MacroText, ParsesOtherSpellingsCaseCommentsAndHex) {
    const TextCase cases[] = {
        {{0x83, 0x4B}, "KEY-DOWN page up  # comment"},
        {{0x01}, "\n\n# only a comment\r\nstop\r\n"},
        {{0x83, 0x04, 0x88, 0x32, 0x84, 0x04}, "key-down A\nwait 50\nkey-up A\n"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.line);
        const auto items = ParseMacroText(c.line);
        ASSERT_TRUE(items.ok()) << items.message();
        EXPECT_EQ(BytesOf(*items), c.bytes);
    }
}

TEST(MacroText, EveryOpcodeRoundTripsByteForByte) {
    // Each first byte with several operand patterns, decoded the way a device or a file
    // gives them, plus the same bytes as they come straight from DecodeMacroInstruction.
    const Bytes operandSets[] = {
        {0x00, 0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF, 0xFF}, {0x34, 0x12, 0x00, 0x80},
        {0x2C, 0x01, 0xC8, 0x00}, {0x7F, 0x00, 0x80, 0xFF}, {0x32, 0x00, 0x89, 0x00},
    };
    for (int op = 0; op <= 0xFF; ++op) {
        for (const Bytes& operands : operandSets) {
            Bytes code = {static_cast<uint8_t>(op)};
            code.insert(code.end(), operands.begin(), operands.end());
            std::vector<MacroItem> items = {DecodeMacroInstruction(code).item};
            const int length = MacroInstructionLength(static_cast<uint8_t>(op));
            if (length == 0) items.push_back(Item({static_cast<uint8_t>(op)}));
            // The same opcode cut short by the end of a code, as a raw item.
            if (length > 1)
                items.push_back(DecodeMacroCode(Bytes(code.begin(), code.begin() + 1))[0]);
            const std::string text = FormatMacroText(items);
            SCOPED_TRACE(text);
            const auto parsed = ParseMacroText(text);
            ASSERT_TRUE(parsed.ok()) << parsed.message();
            ASSERT_EQ(parsed->size(), items.size());
            for (std::size_t i = 0; i < items.size(); ++i) {
                EXPECT_EQ(BytesOf({(*parsed)[i]}), BytesOf({items[i]}));
            }
        }
    }
}

TEST(MacroText, EveryKeyUsageRoundTrips) {
    for (int usage = 0; usage <= 0xFF; ++usage) {
        const auto u = static_cast<uint8_t>(usage);
        const std::vector<MacroItem> items = {Item({0x83, u}), Item({0x84, u}),
                                              Item({0x85, u, 0x00}), Item({0x85, u, 0x01}),
                                              Item({0x85, u, 0x02})};
        const auto parsed = ParseMacroText(FormatMacroText(items));
        ASSERT_TRUE(parsed.ok()) << parsed.message();
        EXPECT_EQ(BytesOf(*parsed), BytesOf(items)) << FormatMacroText(items);
    }
}

struct ErrorCase {
    std::string text;
    std::string message;
};

TEST(MacroText, BadLinesNameTheLineAndTheRule) {
    const std::string keyRule = "key-down takes a key name or a usage from 0x00 to 0xFF";
    const std::string rawRule = "raw takes 1 to 5 hexadecimal bytes such as 02 or 0x02";
    const ErrorCase cases[] = {
        {"wait 65536", "line 1: wait takes 0 to 65535 milliseconds"},
        {"move 32768 0", "line 1: move takes two numbers from -32768 to 32767"},
        {"key-down 0x100", "line 1: " + keyRule},
        {"key-down 135", "line 1: unknown key '135'; " + keyRule},
        {"raw 01 02 03 04 05 06", "line 1: " + rawRule},
        {"stop\ndance 3", "line 2: unknown instruction 'dance'"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = ParseMacroText(c.text);
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.message(), c.message);
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
