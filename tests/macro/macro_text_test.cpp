// The macro text form users store with qvmctl: each line parses back to the bytes it
// was formatted from, and a bad line is refused by number with the rule it breaks.
#include "macro/macro_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(MacroText, CanonicalLinesBothWays) {
    // Each line is what the bytes format to, and parses back into exactly those bytes.
    const TextCase cases[] = {
        {{0x83, 0x04}, "key-down A"},
        {{0x83, 0x86}, "key-down 0x86"},  // no name
        {{0x83, 0x32}, "key-down 0x32"},  // "#" would start a comment
        {{0x83, 0x88}, "key-down 0x88"},  // its name holds a line break
        {{0x83, 0x89}, "key-down 0x89"},  // shares its name with 0x31
        {{0x83, 0x31}, "key-down \\"},
        {{0x89, 0x2C, 0x01}, "wait 300"},
        {{0x89, 0x32, 0x00}, "wait-long 50"},
        {{0x31}, "button-down left b5"},
        {{0x7F}, "wheel -1"},
        {{0x80, 0x0A, 0x00, 0xFB, 0xFF}, "move 10 -5"},
        {{0xC0, 0xFF, 0xFF, 0x00, 0x80}, "move-to -1 -32768"},
        {{0xA0, 0xFF, 0xFF, 0x00, 0x80}, "move-to-unsigned 65535 32768"},
        {{0x85, 0xE9, 0x00}, "consumer-down Volume +"},
        {{0x85, 0x00, 0x00}, "consumer-up"},
        {{0x20, 0x21}, "raw 20 21"},  // stray bytes kept together
        {{0x89, 0x2C}, "raw 89 2C"},  // cut short
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.line);
        const std::vector<MacroItem> one = {Item(c.bytes)};
        EXPECT_EQ(FormatMacroText(one), c.line + "\n");
        const auto parsed = ParseMacroText(c.line);
        ASSERT_TRUE(parsed.ok()) << parsed.message();
        ASSERT_EQ(parsed->size(), 1u);
        EXPECT_EQ(BytesOf(*parsed), c.bytes);
    }
}

TEST(MacroText, ParsesOtherSpellingsCaseCommentsAndHex) {
    const TextCase cases[] = {
        {{0x83, 0x4B}, "KEY-DOWN page up  # comment"},
        {{0x85, 0x23, 0x02}, "consumer-down 0x223"},
        {{0x43}, "button-up RIGHT left"},
        {{0x02, 0xFF}, "raw 0x02 ff"},
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
    const std::string consumerRule =
        "consumer-down takes a consumer key name or a usage from 0x1 to 0xFFFF";
    const std::string rawRule = "raw takes 1 to 5 hexadecimal bytes such as 02 or 0x02";
    const ErrorCase cases[] = {
        {"wait 65536", "line 1: wait takes 0 to 65535 milliseconds"},
        {"wait 99999999999999999999", "line 1: wait takes 0 to 65535 milliseconds"},
        {"wheel 16", "line 1: wheel takes a count from -16 to 15"},
        {"move 32768 0", "line 1: move takes two numbers from -32768 to 32767"},
        {"move-to-unsigned -1 0", "line 1: move-to-unsigned takes two numbers from 0 to 65535"},
        {"key-down 0x100", "line 1: " + keyRule},
        {"key-down 135", "line 1: unknown key '135'; " + keyRule},
        {"consumer-down 0x0", "line 1: " + consumerRule},
        {"button-down left left", "line 1: button left named twice"},
        {"raw 01 02 03 04 05 06", "line 1: " + rawRule},
        {"raw 123", "line 1: '123' is not a hexadecimal byte; " + rawRule},
        {"stop\ndance 3", "line 2: unknown instruction 'dance'"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = ParseMacroText(c.text);
        ASSERT_FALSE(parsed.ok());
        EXPECT_EQ(parsed.message(), c.message);
    }
}

}  // namespace
}  // namespace qvm
