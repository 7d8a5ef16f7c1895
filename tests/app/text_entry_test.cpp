// The typing rules of the text-entry fields at their boundaries: what a keystroke or a
// paste leaves in a field. The dialog tests check that the windows go through them.
#include "present/text_entry.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace qvm {
namespace {

// ---- number field (form 1) ----

struct NumberCase {
    const char* name;
    std::u16string start;
    std::size_t selFrom, selTo;  // selection before typing
    std::u16string typed;
    int32_t maximum;
    int32_t limit;
    std::u16string expected;
};

class NumberFieldTest : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberFieldTest, Typing) {
    const NumberCase& c = GetParam();
    NumberField field(c.maximum, c.limit);
    field.SetText(c.start);
    field.Select(c.selFrom, c.selTo);
    field.Type(c.typed);
    EXPECT_EQ(field.Text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, NumberFieldTest,
                         testing::Values(NumberCase{"DigitAboveMaximumSetsMaximum", u"70000", 5, 5,
                                                    u"1", 65535, 6, u"65535"},
                                         NumberCase{"SelectionReplacedBeforeTheCheck", u"65535", 0,
                                                    5, u"4", 65535, 5, u"4"},
                                         NumberCase{"PasteOfMixedText", u"", 0, 0, u"1a2 b3\n4",
                                                    65535, 5, u"1234"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- position fields (form 3) ----

struct PositionCase {
    const char* name;
    std::u16string start;
    bool absolute;
    std::size_t cursor;
    std::u16string typed;
    std::u16string expected;
};

class PositionFieldTest : public testing::TestWithParam<PositionCase> {};

TEST_P(PositionFieldTest, Typing) {
    const PositionCase& c = GetParam();
    PositionField field;
    field.SetText(c.start);
    field.SetAbsolute(c.absolute);
    field.Select(c.cursor, c.cursor);
    field.Type(c.typed);
    EXPECT_EQ(field.Text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PositionFieldTest,
    testing::Values(PositionCase{"RelativeCarryPastTop", u"4000", false, 4, u"0", u"32767"},
                    PositionCase{"DigitNotBeforeSign", u"-12", false, 0, u"3", u"-12"},
                    PositionCase{"MinusBeforeLargeValueSetsBottom", u"40000", false, 0, u"-",
                                 u"-32768"},
                    PositionCase{"AbsoluteJumpsAtThreshold", u"32767", true, 5, u"0", u"65535"},
                    PositionCase{"NegativeBecomesZeroInAbsolute", u"-120", true, 4, u"5", u"0"},
                    PositionCase{"PasteOfMixedText", u"", false, 0, u"-1x2,3", u"-123"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- text field (forms 0 and 5): limits count UTF-16 units, pairs are never split ----

struct TextCase {
    const char* name;
    std::u16string start;
    std::size_t selFrom, selTo;
    std::u16string typed;  // u"\b": backspace
    int32_t limit;
    std::u16string expected;
};

class TextFieldTest : public testing::TestWithParam<TextCase> {};

TEST_P(TextFieldTest, Typing) {
    const TextCase& c = GetParam();
    TextField field(c.limit);
    field.SetText(c.start);
    field.Select(c.selFrom, c.selTo);
    if (c.typed == u"\b") {
        field.Backspace();
    } else {
        field.Type(c.typed);
    }
    EXPECT_EQ(field.Text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TextFieldTest,
    testing::Values(TextCase{"CjkCountsOneEach", u"", 0, 0, u"宏定义名称測試", 5, u"宏定义名称"},
                    TextCase{"EmojiNotSplitAtLimit", u"abcd", 4, 4, u"😀", 5, u"abcd"},
                    TextCase{"ControlCharactersPassedOver", u"", 0, 0, u"a\r\nb\tc", 15, u"abc"},
                    TextCase{"LoneSurrogateDropped", u"", 0, 0,
                             std::u16string(u"a") + char16_t(0xD83D) + u"b", 15, u"ab"},
                    TextCase{"BackspacePair", u"a😀", 3, 3, u"\b", 15, u"a"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
