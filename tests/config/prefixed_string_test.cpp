// The length-prefixed strings of the binary files: every length form, both character
// widths, and files cut short.
#include <gtest/gtest.h>

#include "config/prefixed_string.h"

namespace qvm {
namespace {

std::vector<uint8_t> Repeat(std::vector<uint8_t> head, std::size_t count, uint8_t fill) {
    head.insert(head.end(), count, fill);
    return head;
}

struct ReadCase {
    std::string name;
    std::vector<uint8_t> bytes;
    std::u16string text;
    bool wide;
    std::size_t end;  // offset after the string
};

class ReadsString : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadsString, TextWidthAndEnd) {
    const ReadCase& c = GetParam();
    std::size_t offset = 0;
    auto s = ReadPrefixedString(c.bytes, offset);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(s->text, c.text);
    EXPECT_EQ(s->wide, c.wide);
    EXPECT_EQ(offset, c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Scheme, ReadsString,
    ::testing::Values(
        ReadCase{"Narrow", {0x03, 'a', 'b', 'c', 0x99}, u"abc", false, 4},
        ReadCase{"NarrowHighByte", {0x01, 0xE9}, u"\u00E9", false, 2},
        ReadCase{"Wide", {0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x1A, 0x04}, u"A\u041A", true, 8},
        ReadCase{"NarrowLong", Repeat({0xFF, 0x2C, 0x01}, 300, 'x'), std::u16string(300, u'x'),
                 false, 303},
        ReadCase{"WideLong", Repeat({0xFF, 0xFE, 0xFF, 0xFF, 0x00, 0x01}, 512, 0x00),
                 std::u16string(256, u'\0'), true, 518}),
    [](const auto& info) { return info.param.name; });

TEST(ReadsString, CutShortIsAnErrorAndKeepsTheOffset) {
    const std::vector<std::vector<uint8_t>> cut = {
        {},
        {0x03, 'a', 'b'},
        {0xFF},
        {0xFF, 0xFE, 0xFF},
        {0xFF, 0xFE, 0xFF, 0xFF, 0x00},
        {0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x42},
        {0xFF, 0x00, 0x01, 'a'},
    };
    for (const auto& bytes : cut) {
        std::size_t offset = 0;
        EXPECT_FALSE(ReadPrefixedString(bytes, offset).ok()) << bytes.size();
        EXPECT_EQ(offset, 0u);
    }
}

TEST(WritesString, WideFormsAndTheLimit) {
    EXPECT_EQ(*EncodePrefixedString(u"Ab"),
              (std::vector<uint8_t>{0xFF, 0xFE, 0xFF, 0x02, 0x41, 0x00, 0x62, 0x00}));
    const auto longer = *EncodePrefixedString(std::u16string(0xFF, u'z'));
    EXPECT_EQ(std::vector<uint8_t>(longer.begin(), longer.begin() + 6),
              (std::vector<uint8_t>{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(longer.size(), 6u + 2 * 0xFF);
    EXPECT_FALSE(EncodePrefixedString(std::u16string(0x10000, u'z')).ok());
}

}  // namespace
}  // namespace qvm
