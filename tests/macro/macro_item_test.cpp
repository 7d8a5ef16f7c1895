#include "macro/macro_item.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvm {
namespace {

struct OpcodeCase {
    uint8_t opcode;
    int length;
    int status;
};

TEST(MacroItem, EveryOpcodeHasItsLengthAndStatus) {
    // Written out from the instruction table: every boundary of every range.
    const OpcodeCase cases[] = {
        {0x00, 1, 0},  {0x01, 1, 0},  {0x02, 0, -1}, {0x03, 0, -1}, {0x04, 1, 2},  {0x05, 1, 2},
        {0x06, 1, 2},  {0x07, 0, -1}, {0x08, 3, 0},  {0x09, 0, -1}, {0x0F, 0, -1}, {0x10, 3, 0},
        {0x11, 0, -1}, {0x17, 0, -1}, {0x18, 3, 0},  {0x19, 0, -1}, {0x1F, 0, -1}, {0x20, 1, 0},
        {0x3F, 1, 0},  {0x40, 1, 0},  {0x5F, 1, 0},  {0x60, 1, 0},  {0x7F, 1, 0},  {0x80, 5, 0},
        {0x81, 2, 0},  {0x82, 2, 0},  {0x83, 2, 0},  {0x84, 2, 0},  {0x85, 3, 0},  {0x86, 0, -1},
        {0x87, 0, -1}, {0x88, 2, 0},  {0x89, 3, 0},  {0x8A, 0, -1}, {0x9F, 0, -1}, {0xA0, 5, 0},
        {0xA1, 0, -1}, {0xBF, 0, -1}, {0xC0, 5, 0},  {0xC1, 1, 0},  {0xCF, 1, 0},  {0xD0, 0, -1},
        {0xFF, 0, -1},
    };
    for (const OpcodeCase& c : cases) {
        const std::vector<uint8_t> bytes = {c.opcode, 1, 2, 3, 4, 5, 6};
        const DecodedInstruction d = DecodeMacroInstruction(bytes);
        SCOPED_TRACE(c.opcode);
        EXPECT_EQ(MacroInstructionLength(c.opcode), c.length);
        EXPECT_EQ(d.item.length, c.length);
        EXPECT_EQ(d.status, c.status);
        // Five bytes are copied whatever the length; the caller re-measures.
        EXPECT_EQ(d.item.code[0], c.opcode);
    }
}

TEST(MacroItem, CodeStopsAtEndByteAndKeepsStrayBytes) {
    struct Case {
        std::vector<uint8_t> code;
        std::vector<std::vector<uint8_t>> items;
    };
    const Case cases[] = {
        {{0x83, 0x04, 0x88, 0x32, 0x84, 0x04, 0x00, 0x83, 0x05},
         {{0x83, 0x04}, {0x88, 0x32}, {0x84, 0x04}}},
        {{0x02, 0x20, 0xFF}, {{0x02}, {0x20}, {0xFF}}},  // invalid opcodes survive alone
        {{0x20, 0x89, 0x2C}, {{0x20}, {0x89, 0x2C}}},    // cut short by the end
        {{0x00, 0x20}, {}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        const auto items = DecodeMacroCode(c.code);
        ASSERT_EQ(items.size(), c.items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(std::vector<uint8_t>(items[i].Bytes().begin(), items[i].Bytes().end()),
                      c.items[i]);
        }
        // Whatever was decoded encodes back to the same bytes up to the end byte.
        const auto again = EncodeMacroCode(items);
        std::vector<uint8_t> upToEnd;
        for (uint8_t b : c.code) {
            if (b == 0x00 && upToEnd.size() == again.size()) break;
            upToEnd.push_back(b);
        }
        EXPECT_EQ(again, std::vector<uint8_t>(upToEnd.begin(), upToEnd.begin() + again.size()));
    }
}

TEST(MacroItem, DecodeTakesAtMostMaxItems) {
    const std::vector<uint8_t> code(10, 0x21);
    EXPECT_EQ(DecodeMacroCode(code, 4).size(), 4u);
}

TEST(MacroItem, RawItemsAreRecognised) {
    EXPECT_FALSE(IsRawMacroItem(MakeMacroItem(std::vector<uint8_t>{0x89, 0x2C, 0x01})));
    EXPECT_TRUE(IsRawMacroItem(MakeMacroItem(std::vector<uint8_t>{0x89, 0x2C})));
    EXPECT_TRUE(IsRawMacroItem(MakeMacroItem(std::vector<uint8_t>{0xD0})));
    const std::vector<MacroItem> zeroLength = {
        DecodeMacroInstruction(std::vector<uint8_t>{0x9F}).item};
    EXPECT_EQ(EncodeMacroCode(zeroLength), (std::vector<uint8_t>{0x9F}));
}

}  // namespace
}  // namespace qvm

namespace qvm {
namespace {

TEST(MacroItem, WaitsAndMovesTakeTheirShortestFormAndCapOperands) {
    struct Case {
        MacroItem item;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {MakeWaitItem(0), {0x88, 0x00}},
        {MakeWaitItem(199), {0x88, 0xC7}},
        {MakeWaitItem(255), {0x88, 0xFF}},
        {MakeWaitItem(256), {0x89, 0x00, 0x01}},
        {MakeWaitItem(300), {0x89, 0x2C, 0x01}},
        {MakeWaitItem(65535), {0x89, 0xFF, 0xFF}},
        {MakeWaitItem(70000), {0x89, 0xFF, 0xFF}},  // capped, not wrapped to 4464
        {MakeWaitItem(-5), {0x88, 0x00}},
        {MakeWaitItem(INT32_MAX), {0x89, 0xFF, 0xFF}},
        {MakeMoveItem(kOpMove, 10, -10), {0x80, 0x0A, 0x00, 0xF6, 0xFF}},
        {MakeMoveItem(kOpMove, 40000, -40000), {0x80, 0xFF, 0x7F, 0x00, 0x80}},
        {MakeMoveItem(kOpMoveTo, -1920, 1080), {0xC0, 0x80, 0xF8, 0x38, 0x04}},
        {MakeMoveItem(kOpMoveToUnsigned, -1, 65535), {0xA0, 0x00, 0x00, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::vector<uint8_t>(c.item.Bytes().begin(), c.item.Bytes().end()), c.bytes);
        EXPECT_FALSE(IsRawMacroItem(c.item));
        EXPECT_EQ(c.item.stamp, 0u);
    }
    EXPECT_EQ(MakeWaitItem(300, 1234).stamp, 1234u);
}

}  // namespace
}  // namespace qvm
