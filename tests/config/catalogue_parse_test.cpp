// From function texts back to slots: what the command line accepts, what it refuses,
// and that every accepted text formats back to itself.
#include <gtest/gtest.h>

#include <algorithm>

#include "config/catalogue.h"

namespace qvm {
namespace {

struct ParseCase {
    std::string text;
    int dpiStep;
    ButtonSlot first;  // the first slot of the answer
    std::size_t count;
};

class ParseAccepts : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseAccepts, FindsTheSlots) {
    const ParseCase& c = GetParam();
    const auto slots = ParseFunctionText(c.text, c.dpiStep);
    ASSERT_EQ(slots.size(), c.count) << c.text;
    EXPECT_EQ(slots.front(), c.first) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ParseAccepts,
    ::testing::Values(ParseCase{"  ctrl + shift + alt + win + f12 ", 50, {5, 0x0F, 0x45, 0}, 1},
                      // "\" is the name of two usages.
                      ParseCase{"\\", 50, {5, 0, 0x31, 0}, 2},
                      ParseCase{"Fire button (0ms)", 50, {27, 0x01, 0, 0}, 1},
                      ParseCase{"Rapid fire (255ms)", 50, {33, 0, 255, 0}, 1},
                      // The built-in macros run once, repeated or while held.
                      ParseCase{"Tilt right", 50, {8, 10, 0, 0xFF}, 3},
                      ParseCase{"dpi hotkey [x:1600 , y:800]", 100, {16, 16, 8, 0}, 1},
                      ParseCase{
                          "DPI firekey [X:50 , Y:0] Left clickForward", 50, {15, 1, 0, 0x11}, 1},
                      ParseCase{"/ / .", 50, {24, 0, 0x38, 0x37}, 1},
                      ParseCase{"Joystick button 13", 50, {39, 0, 0, 0}, 1},
                      ParseCase{"Joystick button 9", 50, {39, 0, 0, 0x01}, 1}));

class ParseRefuses : public ::testing::TestWithParam<std::pair<std::string, int>> {};

TEST_P(ParseRefuses, GivesNoSlot) {
    EXPECT_TRUE(ParseFunctionText(GetParam().first, GetParam().second).empty()) << GetParam().first;
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ParseRefuses,
    ::testing::Values(std::pair<std::string, int>{"", 50}, std::pair<std::string, int>{"   ", 50},
                      std::pair<std::string, int>{"Ctrl +", 50},
                      std::pair<std::string, int>{"Fire button (2510ms)", 50},
                      std::pair<std::string, int>{"Fire button (55ms)", 50},
                      std::pair<std::string, int>{"Rapid fire (0ms)", 50},
                      std::pair<std::string, int>{"Rapid fire (256ms)", 50},
                      // Not a multiple of the step, or beyond one byte of steps.
                      std::pair<std::string, int>{"DPI firekey [X:850 , Y:800]", 100},
                      std::pair<std::string, int>{"DPI firekey [X:12800 , Y:50]", 50},
                      std::pair<std::string, int>{"DPI firekey [X:50 , Y:50] Nose", 50},
                      // The same modifiers on both keys, or nothing.
                      std::pair<std::string, int>{"Ctrl + A / Shift + B", 50},
                      std::pair<std::string, int>{"Joystick button 14", 50},
                      std::pair<std::string, int>{"-- End --", 50}));

// Every assignable slot the suggestions know parses back to a slot with the same text.
TEST(ParseRoundTrip, EverySuggestedTextParsesToItself) {
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
}

TEST(ParseLanguage, TextsOfTheTablesInForceAreRecognised) {
    UiStrings ui;
    ui.mouse_str[0] = "Links";
    ui.type_str[33] = "Schnellfeuer";
    EXPECT_EQ(ParseFunctionTextWith(ui, "links", 50), (std::vector<ButtonSlot>{{4, 1, 0, 0}}));
    EXPECT_EQ(ParseFunctionTextWith(ui, "Schnellfeuer (9ms)", 50),
              (std::vector<ButtonSlot>{{33, 0, 9, 0}}));
    EXPECT_TRUE(ParseFunctionTextWith(ui, "Left click", 50).empty());
}

TEST(Suggest, ClosestTextsComeFirst) {
    const auto near = SuggestFunctionTexts("Ctrl + Cc", 3, 50);
    ASSERT_EQ(near.size(), 3u);
    EXPECT_EQ(near[0], "Ctrl + C");
    const auto typo = SuggestFunctionTexts("scrol up", 1, 50);
    EXPECT_EQ(typo, std::vector<std::string>{"Scroll up"});
    EXPECT_TRUE(SuggestFunctionTexts("anything", 0, 50).empty());
}

}  // namespace
}  // namespace qvm
