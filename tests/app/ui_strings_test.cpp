#include "lang/ui_strings.h"

#include <gtest/gtest.h>

#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::TempFolder;

// One language file for every case below.
constexpr char kLanguageFile[] =
    "[MISC]\n"
    "EnableColor=1\n"
    "[2052]\n"
    "; no type_str1 here: the whole section must be ignored\n"
    "type_str0=IGNORED\n"
    "msg_str0=IGNORED\n"
    "[1041]\n"
    "type_str1=JA1\n"
    "type_str41=beyond\n"
    "cap_input_str6=beyond\n"
    "button_tip_str55=tip55\n"
    "button_tip_str56=beyond\n"
    "class_str8=beyond\n"
    "drag_tip_str1=first\\nsecond\n"
    "consumer_key_str3=Player\n"
    "consumer_key_str14=beyond\n"
    "end_str=END\n"
    "word_str0=Anzahl\n"
    "word_str96=beyond\n"
    "[1033]\n"
    "type_str1=EN1\n"
    "msg_str0=Functions\n";

struct LanguageCase {
    const char* label;
    int languageId;
    // Expected entry after loading, read through the accessor.
    std::string (*get)(const UiStrings&);
    std::string expected;
};

class LanguageLoadTest : public testing::TestWithParam<LanguageCase> {};

TEST_P(LanguageLoadTest, OverridesOnlyWhatTheRulesAllow) {
    TempFolder dir;
    const std::string path = dir.Write("language.ini", std::string(kLanguageFile));
    UiStrings strings;
    EXPECT_EQ(LoadLanguageStrings(strings, GetParam().languageId, path), "");
    EXPECT_EQ(GetParam().get(strings), GetParam().expected);
    EXPECT_EQ(strings.enable_color, 1);
}

#define ENTRY(expr) [](const UiStrings& s) { return std::string(s.expr); }
#define LANGUAGE [](const UiStrings& s) { return std::to_string(s.language_id); }

INSTANTIATE_TEST_SUITE_P(
    Table, LanguageLoadTest,
    testing::Values(
        LanguageCase{"section_without_probe_falls_back", 2052, ENTRY(msg_str[0]), "Functions"},
        LanguageCase{"unknown_language_falls_back", 9999, ENTRY(type_str[1]), "EN1"},
        LanguageCase{"own_section_no_fallback", 1041, ENTRY(msg_str[0]), "Function list"},
        LanguageCase{"drag_tip_two_lines", 1041, ENTRY(drag_tip_str[1]), "first\r\nsecond"},
        // The language the texts are in, which the function list follows.
        LanguageCase{"language_of_probeless_section", 2052, LANGUAGE, "1033"}),
    [](const auto& info) { return std::string(info.param.label); });

#undef ENTRY
#undef LANGUAGE

// Keys past each table's range ("...beyond") must not land in any entry.
TEST(LanguageLoadTest, NothingBeyondTheKeyRanges) {
    TempFolder dir;
    const std::string path = dir.Write("language.ini", std::string(kLanguageFile));
    UiStrings strings;
    LoadLanguageStrings(strings, 1041, path);
    const auto check = [](const auto& table) {
        for (const std::string& entry : table) EXPECT_NE(entry, "beyond");
    };
    check(strings.type_str);
    check(strings.cap_input_str);
    check(strings.button_tip_str);
    check(strings.class_str);
    check(strings.word_str);
    for (const ConsumerKey& row : strings.consumer_keys) EXPECT_NE(row.name, "beyond");
}

}  // namespace
}  // namespace qvm
