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

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << c.name;
}

class NumberFieldTest : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberFieldTest, Typing) {
    const NumberCase& c = GetParam();
    NumberField field(c.maximum, c.limit);
    field.SetText(c.start);
    field.Select(c.selFrom, c.selTo);
    field.Type(c.typed);
    EXPECT_EQ(field.Text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NumberFieldTest,
    testing::Values(
        NumberCase{"LetterChangesNothing", u"12", 2, 2, u"a", 65535, 5, u"12"},
        NumberCase{"LetterKeepsSelection", u"12", 0, 2, u"x", 65535, 5, u"12"},
        NumberCase{"DigitAtMaximumKeepsMaximum", u"65535", 5, 5, u"7", 65535, 5, u"65535"},
        NumberCase{"DigitAboveMaximumSetsMaximum", u"70000", 5, 5, u"1", 65535, 6, u"65535"},
        NumberCase{"DigitCarryingPastMaximum", u"9000", 4, 4, u"0", 65535, 5, u"65535"},
        NumberCase{"DigitInTheMiddle", u"15", 1, 1, u"2", 65535, 5, u"125"},
        NumberCase{"SelectionReplacedBeforeTheCheck", u"65535", 0, 5, u"4", 65535, 5, u"4"},
        NumberCase{"LengthLimit", u"00012", 5, 5, u"3", 65535, 5, u"00012"},
        NumberCase{"PasteOfMixedText", u"", 0, 0, u"1a2 b3\n4", 65535, 5, u"1234"},
        NumberCase{"PasteStopsAtLimit", u"", 0, 0, u"1234567", 999999, 5, u"12345"},
        NumberCase{"PasteOverflowSetsMaximum", u"", 0, 0, u"99999", 65535, 5, u"65535"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NumberFieldTest, ValueOfEmptyFieldIsZero) {
    NumberField field(65535, 5);
    EXPECT_EQ(field.Value(), 0);
    field.Type(u"0042");
    EXPECT_EQ(field.Value(), 42);
}

// ---- position fields (form 3) ----

struct PositionCase {
    const char* name;
    std::u16string start;
    bool absolute;
    std::size_t cursor;
    std::u16string typed;
    std::u16string expected;
};

void PrintTo(const PositionCase& c, std::ostream* os) {
    *os << c.name;
}

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
    testing::Values(
        // relative limits at both ends
        PositionCase{"RelativeAtTop", u"32767", false, 5, u"1", u"32767"},
        PositionCase{"RelativeCarryPastTop", u"4000", false, 4, u"0", u"32767"},
        PositionCase{"RelativeAtBottom", u"-32768", false, 6, u"0", u"-32768"},
        PositionCase{"RelativeCarryPastBottom", u"-5000", false, 5, u"0", u"-32768"},
        PositionCase{"RelativeInsideRange", u"-3276", false, 5, u"7", u"-32767"},
        // the minus sign: first character only, relative only
        PositionCase{"MinusFirst", u"", false, 0, u"-12", u"-12"},
        PositionCase{"MinusBeforeDigits", u"12", false, 0, u"-", u"-12"},
        PositionCase{"MinusNotInside", u"12", false, 1, u"-", u"12"},
        PositionCase{"MinusNotTwice", u"-12", false, 0, u"-", u"-12"},
        PositionCase{"SecondMinusOfPastePassedOver", u"", false, 0, u"--5", u"-5"},
        PositionCase{"DigitNotBeforeSign", u"-12", false, 0, u"3", u"-12"},
        PositionCase{"MinusBeforeLargeValueSetsBottom", u"40000", false, 0, u"-", u"-32768"},
        PositionCase{"NoMinusInAbsolute", u"12", true, 0, u"-", u"12"},
        // absolute
        PositionCase{"AbsoluteJumpsAtThreshold", u"32767", true, 5, u"0", u"65535"},
        PositionCase{"AbsoluteBelowThreshold", u"3276", true, 4, u"6", u"32766"},
        PositionCase{"AbsoluteFromOldRelativeValue", u"32766", true, 5, u"0", u"65535"},
        PositionCase{"NegativeBecomesZeroInAbsolute", u"-120", true, 4, u"5", u"0"},
        PositionCase{"NegativeBecomesZeroAtStart", u"-120", true, 0, u"5", u"0"},
        PositionCase{"PasteOfMixedText", u"", false, 0, u"-1x2,3", u"-123"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PositionFieldsTest, SwitchingToAbsoluteReportsValueInRange) {
    PositionFields fields(-120, 40000, false);
    EXPECT_EQ(fields.x.Value(), -120);
    EXPECT_EQ(fields.y.Value(), 32767);
    fields.SetAbsolute(true);
    EXPECT_EQ(fields.x.Value(), 0);
    EXPECT_EQ(fields.y.Value(), 40000);
}

TEST(PositionFieldsTest, PointerPickSelectsAbsoluteAndKeepsRange) {
    PositionFields fields(5, 5, false);
    fields.SetFromPointer(-1920, 70000);
    EXPECT_TRUE(fields.Absolute());
    EXPECT_EQ(fields.x.Text(), u"0");
    EXPECT_EQ(fields.y.Text(), u"65535");
}

// ---- text field (forms 0 and 5) ----

struct TextCase {
    const char* name;
    std::u16string start;
    std::size_t selFrom, selTo;
    std::u16string typed;
    int32_t limit;
    std::u16string expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class TextFieldTest : public testing::TestWithParam<TextCase> {};

TEST_P(TextFieldTest, Typing) {
    const TextCase& c = GetParam();
    TextField field(c.limit);
    field.SetText(c.start);
    field.Select(c.selFrom, c.selTo);
    field.Type(c.typed);
    EXPECT_EQ(field.Text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TextFieldTest,
    testing::Values(TextCase{"CjkCountsOneEach", u"", 0, 0, u"宏定义名称測試", 5, u"宏定义名称"},
                    TextCase{"EmojiCountsTwo", u"abc", 3, 3, u"😀😀", 6, u"abc😀"},
                    TextCase{"EmojiNotSplitAtLimit", u"abcd", 4, 4, u"😀", 5, u"abcd"},
                    TextCase{"PasteStopsAtFirstMisfit", u"abcd", 4, 4, u"😀e", 5, u"abcd"},
                    TextCase{"SelectionMakesRoom", u"abcde", 1, 3, u"😀", 5, u"a😀de"},
                    TextCase{"InsertAtCursor", u"mac", 0, 0, u"My ", 15, u"My mac"},
                    TextCase{"ControlCharactersPassedOver", u"", 0, 0, u"a\r\nb\tc", 15, u"abc"},
                    TextCase{"CursorInsidePairMovesToItsStart", u"a😀", 2, 2, u"b", 15, u"ab😀"},
                    TextCase{"LoneSurrogateDropped", u"", 0, 0,
                             std::u16string(u"a") + char16_t(0xD83D) + u"b", 15, u"ab"},
                    TextCase{"NoLimit", u"", 0, 0, u"a long profile name", 0,
                             u"a long profile name"}),
    [](const auto& info) { return std::string(info.param.name); });

struct DeleteCase {
    const char* name;
    std::u16string start;
    std::size_t selFrom, selTo;
    bool forward;
    std::u16string expected;
    std::size_t cursor;
};

void PrintTo(const DeleteCase& c, std::ostream* os) {
    *os << c.name;
}

class DeleteTest : public testing::TestWithParam<DeleteCase> {};

TEST_P(DeleteTest, RemovesWholeCharacters) {
    const DeleteCase& c = GetParam();
    TextField field(15);
    field.SetText(c.start);
    field.Select(c.selFrom, c.selTo);
    if (c.forward) {
        field.DeleteForward();
    } else {
        field.Backspace();
    }
    EXPECT_EQ(field.Text(), c.expected);
    EXPECT_EQ(field.Cursor(), c.cursor);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteTest,
    testing::Values(DeleteCase{"BackspacePair", u"a😀", 3, 3, false, u"a", 1},
                    DeleteCase{"ForwardPair", u"😀b", 0, 0, true, u"b", 0},
                    DeleteCase{"BackspaceSelection", u"abcdef", 4, 1, false, u"aef", 1},
                    DeleteCase{"BackspaceAtStart", u"ab", 0, 0, false, u"ab", 0},
                    DeleteCase{"ForwardAtEnd", u"ab", 2, 2, true, u"ab", 2}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- folder list (form 5) ----

MacroLibraryEntry Folder(int32_t id, int32_t depth, std::string name) {
    MacroLibraryEntry e;
    e.id = id;
    e.depth = depth;
    e.type = kLibraryFolderType;
    e.name = std::move(name);
    return e;
}

MacroLibraryEntry Macro(int32_t id, int32_t depth, std::string name) {
    MacroLibraryEntry e = Folder(id, depth, std::move(name));
    e.type = 8;
    return e;
}

TEST(FolderChoicesTest, NoFoldersGivesOnlyRoot) {
    const std::vector<MacroLibraryEntry> library = {Macro(1, 1, "Reload")};
    EXPECT_EQ(FolderChoices(library, UiStrings{}), (std::vector<FolderChoice>{{0, "Root"}}));
    EXPECT_EQ(FolderChoices({}, UiStrings{}), (std::vector<FolderChoice>{{0, "Root"}}));
}

TEST(FolderChoicesTest, DepthDotsInListOrder) {
    const std::vector<MacroLibraryEntry> library = {
        Folder(1, 1, "Games"), Folder(2, 2, "Shooter"), Macro(3, 3, "Burst"),
        Folder(4, 3, "Old"),   Folder(5, 1, "Office"),
    };
    const std::vector<FolderChoice> expected = {
        {0, "Root"}, {1, ". Games"}, {2, ".. Shooter"}, {4, "... Old"}, {5, ". Office"},
    };
    EXPECT_EQ(FolderChoices(library, UiStrings{}), expected);
}

TEST(FolderChoicesTest, Preselection) {
    const std::vector<FolderChoice> choices =
        FolderChoices({Folder(3, 1, "A"), Folder(7, 2, "B")}, UiStrings{});
    const struct {
        int32_t folder;
        std::size_t index;
    } rows[] = {{0, 0}, {3, 1}, {7, 2}, {9, 0}, {-1, 0}};
    for (const auto& row : rows)
        EXPECT_EQ(PreselectedFolderIndex(choices, row.folder), row.index) << row.folder;
}

TEST(FolderChoicesTest, TranslatedRootAndBlankRoot) {
    UiStrings strings;
    strings.msg_str[28] = "Stamm";
    EXPECT_EQ(FolderChoices({}, strings).front().label, "Stamm");
    strings.msg_str[28].clear();
    EXPECT_EQ(FolderChoices({}, strings).front().label, "Root");
}

// ---- button labels ----

TEST(ButtonLabelsTest, PerFormAndLanguage) {
    UiStrings translated;
    translated.button_str[42] = "Ja";
    translated.button_str[43] = "Nein";
    translated.button_str[44] = "Abbrechen";
    UiStrings blank;  // entries 42..44 have no English label; the tips stand in
    UiStrings nothing;
    nothing.button_tip_str[42].clear();
    nothing.button_str[7].clear();

    const struct {
        const char* name;
        TextEntryForm form;
        bool three;
        const UiStrings* strings;
        std::vector<std::string> expected;
    } rows[] = {
        {"TextForm", TextEntryForm::Text, false, &blank, {"OK", "Cancel"}},
        {"ThreeOnlyForQuestion", TextEntryForm::Number, true, &blank, {"OK", "Cancel"}},
        {"TwoChoiceQuestion", TextEntryForm::Question, false, &translated, {"OK", "Cancel"}},
        {"ThreeTranslated",
         TextEntryForm::Question,
         true,
         &translated,
         {"Ja", "Abbrechen", "Nein"}},
        {"ThreeFromTips", TextEntryForm::Question, true, &blank, {"Yes", "Cancel", "No"}},
        {"BuiltInWhenAllBlank", TextEntryForm::Question, true, &nothing, {"Yes", "Cancel", "No"}},
        {"BlankOk", TextEntryForm::Text, false, &nothing, {"OK", "Cancel"}},
    };
    for (const auto& row : rows) {
        TextEntryRequest request;
        request.form = row.form;
        request.threeChoices = row.three;
        EXPECT_EQ(ButtonLabels(request, *row.strings), row.expected) << row.name;
    }
}

TEST(TextEntryFormTest, UnknownNumbersRefused) {
    for (int32_t n : {0, 1, 3, 5, 10}) EXPECT_TRUE(TextEntryFormFromNumber(n).ok()) << n;
    for (int32_t n : {-1, 2, 4, 6, 11}) {
        const auto form = TextEntryFormFromNumber(n);
        ASSERT_FALSE(form.ok()) << n;
        EXPECT_NE(form.message().find("unknown text entry form"), std::string::npos);
    }
}

}  // namespace
}  // namespace qvm
