// The shipped language.ini: every translated section holds every text the windows show,
// keeps each text's format markers and trailing blank, and names no key the program
// does not read (a misspelt key would silently leave English in place).
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/ini_file.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

const std::string kShippedLanguageFile = std::string(QVM_SOURCE_DATA_DIR) + "/language.ini";

// Entries without an English text that the windows still show when a language has them:
// the three-choice question's Yes / No / Cancel.
const std::set<std::string> kEntriesWithoutEnglish = {"button_str42", "button_str43",
                                                      "button_str44"};

// The printf markers of a text in order ("%d", "%s", "%%" ...), and how many "&&" it has.
std::vector<std::string> FormatMarkers(const std::string& text) {
    std::vector<std::string> markers;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            markers.push_back(text.substr(i, 2));
            ++i;
        } else if (text.compare(i, 2, "&&") == 0) {
            markers.push_back("&&");
            ++i;
        }
    }
    return markers;
}

struct ShippedLanguage {
    const char* name;
    int id;
};

class ShippedLanguageTest : public testing::TestWithParam<ShippedLanguage> {
  protected:
    UiStrings english_;
    std::vector<LanguageEntry> englishEntries_ = LanguageEntries(english_);
    IniFile file_ = IniFile::Load(kShippedLanguageFile);
    std::string section_ = std::to_string(GetParam().id);
};

TEST_P(ShippedLanguageTest, EveryShownEntryIsTranslated) {
    for (const LanguageEntry& entry : englishEntries_) {
        if (entry.text->empty() && !kEntriesWithoutEnglish.contains(entry.key)) continue;
        const std::string value = file_.GetString(section_, entry.key, kNoString);
        EXPECT_NE(value, kNoString) << entry.key << " is missing";
        EXPECT_NE(value, "") << entry.key << " is empty";
    }
}

TEST_P(ShippedLanguageTest, FormatMarkersAndTrailingBlanksAsInEnglish) {
    for (const LanguageEntry& entry : englishEntries_) {
        const std::string value = file_.GetString(section_, entry.key, kNoString);
        if (value == kNoString) continue;  // reported by EveryShownEntryIsTranslated
        EXPECT_EQ(FormatMarkers(value), FormatMarkers(*entry.text)) << entry.key << ": " << value;
        const bool englishBlank = !entry.text->empty() && entry.text->back() == ' ';
        const bool blank = !value.empty() && value.back() == ' ';
        EXPECT_EQ(blank, englishBlank) << entry.key << ": \"" << value << "\"";
    }
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedLanguageTest,
                         testing::Values(ShippedLanguage{"German", 1031},
                                         ShippedLanguage{"French", 1036}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
