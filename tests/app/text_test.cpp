#include "base/text.h"

#include <gtest/gtest.h>

namespace qvm {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Utf8Case {
    const char* label;
    std::string utf8;
    std::u16string utf16;
};

class Utf8ToUtf16Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8ToUtf16Test, DecodesOrReplaces) {
    EXPECT_EQ(Utf8ToUtf16(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(Table, Utf8ToUtf16Test,
                         testing::Values(Utf8Case{"astral_pair", "\xF0\x9F\x98\x80",
                                                  u"\xD83D\xDE00"},
                                         Utf8Case{"stray_continuation", "a\x80z", u"a\xFFFDz"},
                                         Utf8Case{"overlong_slash", "\xC0\xAF", u"\xFFFD"},
                                         Utf8Case{"encoded_surrogate", "\xED\xA0\x80", u"\xFFFD"},
                                         Utf8Case{"above_max", "\xF4\x90\x80\x80", u"\xFFFD"},
                                         Utf8Case{"truncated_at_end", "ok\xE2\x82", u"ok\xFFFD"}),
                         [](const auto& info) { return std::string(info.param.label); });

struct FieldCase {
    const char* label;
    std::string text;
    std::size_t fieldBytes;
    Bytes expected;
};

class Utf16FieldTest : public testing::TestWithParam<FieldCase> {};

TEST_P(Utf16FieldTest, CutsToWholeCharactersAndZeroFills) {
    const FieldCase& c = GetParam();
    EXPECT_EQ(EncodeUtf16LeField(c.text, c.fieldBytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf16FieldTest,
    testing::Values(FieldCase{"padded", "Ab", 6, {0x41, 0x00, 0x62, 0x00, 0x00, 0x00}},
                    FieldCase{"cut", "Abc", 4, {0x41, 0x00, 0x62, 0x00}},
                    FieldCase{"odd_field", "Ab", 5, {0x41, 0x00, 0x62, 0x00, 0x00}},
                    // The pair would be split by a 4-byte field: it is dropped whole.
                    FieldCase{"pair_not_split", "A\xF0\x9F\x98\x80", 4, {0x41, 0x00, 0x00, 0x00}},
                    FieldCase{"pair_fits", "\xF0\x9F\x98\x80", 4, {0x3D, 0xD8, 0x00, 0xDE}}),
    [](const auto& info) { return std::string(info.param.label); });

// What a terminal would act on becomes visible; everything printable stays as it is.
TEST(EscapeForTerminalTest, ControlsBecomeVisibleEscapes) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"Plain name \xC3\xA9 \xE2\x82\xAC \\ done", "Plain name \xC3\xA9 \xE2\x82\xAC \\ done"},
        {"\x1b[2J", "\\e[2J"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {std::string("nul\0bel\x07"
                     "del\x7f",
                     12),
         "nul\\x00bel\\x07del\\x7f"},
        {"csi\xC2\x9B"
         "1m",
         "csi\\u009b1m"},                                            // C1 control U+009B
        {"bom\xEF\xBB\xBFrtl\xE2\x80\xAE", "bom\\ufeffrtl\\u202e"},  // invisible
        {"bad\xFF\xC3(", "bad\\xff\\xc3("},                          // not UTF-8
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeForTerminal(c.in), c.out);
        EXPECT_EQ(EscapeForTerminal(c.in, KeepLineBreaks::kYes),
                  c.in == "a\nb\rc\td" ? "a\nb\\rc\\td" : c.out);
    }
}

}  // namespace
}  // namespace qvm
