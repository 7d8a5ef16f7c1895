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

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8ToUtf16Test,
    testing::Values(Utf8Case{"ascii", "Key=1", u"Key=1"},
                    Utf8Case{"two_and_three_bytes", "\xC3\xA9\xE2\x82\xAC", u"\u00E9\u20AC"},
                    Utf8Case{"cjk", "\xE4\xBF\x9D\xE7\x95\x99", u"\u4FDD\u7559"},
                    Utf8Case{"astral_pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
                    Utf8Case{"stray_continuation", "a\x80z", u"a\xFFFDz"},
                    Utf8Case{"overlong_slash", "\xC0\xAF", u"\xFFFD"},
                    Utf8Case{"encoded_surrogate", "\xED\xA0\x80", u"\xFFFD"},
                    Utf8Case{"above_max", "\xF4\x90\x80\x80", u"\xFFFD"},
                    Utf8Case{"truncated_at_end", "ok\xE2\x82", u"ok\xFFFD"},
                    Utf8Case{"lead_then_ascii",
                             "\xE2"
                             "A",
                             u"\xFFFD"
                             "A"},
                    Utf8Case{"invalid_lead", "\xFF\xFE", u"\xFFFD\xFFFD"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Utf16ToUtf8Test, LoneSurrogatesBecomeReplacement) {
    const std::u16string loneHigh = {u'a', 0xD800, u'b'};
    const std::u16string loneLowFirst = {0xDC00, 0xD83D, 0xDE00};
    EXPECT_EQ(Utf16ToUtf8(loneHigh),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf16ToUtf8(loneLowFirst), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
    const std::u16string highAtEnd = {u'x', 0xD83D};
    EXPECT_EQ(Utf16ToUtf8(highAtEnd), "x\xEF\xBF\xBD");
}

TEST(Utf16BytesTest, LittleAndBigEndianLayouts) {
    EXPECT_EQ(EncodeUtf16Le(u"A\u20AC"), (Bytes{0x41, 0x00, 0xAC, 0x20}));
    const Bytes le = {0x41, 0x00, 0xAC, 0x20, 0x7F};  // odd trailing byte is ignored
    EXPECT_EQ(DecodeUtf16Le(le), u"A\u20AC");
    const Bytes be = {0x00, 0x41, 0x20, 0xAC};
    EXPECT_EQ(DecodeUtf16Be(be), u"A\u20AC");
}

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

TEST(Utf16FieldTest, DecodeStopsAtFirstNul) {
    const Bytes field = {0x50, 0x00, 0x31, 0x00, 0x00, 0x00, 0x58, 0x00};
    EXPECT_EQ(DecodeUtf16LeField(field), "P1");
    const Bytes full = {0xE9, 0x00, 0x21, 0x00};
    EXPECT_EQ(DecodeUtf16LeField(full), "\xC3\xA9!");
}

TEST(Utf16UnitsTest, CountsAndTruncatesInCodeUnits) {
    EXPECT_EQ(CountUtf16Units("a\xC3\xA9\xF0\x9F\x98\x80"), 4u);
    EXPECT_EQ(TruncateUtf16Units("a\xC3\xA9\xF0\x9F\x98\x80", 3), "a\xC3\xA9");
    EXPECT_EQ(TruncateUtf16Units("a\xC3\xA9\xF0\x9F\x98\x80", 4), "a\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(TruncateUtf16Units("abc", 0), "");
}

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
