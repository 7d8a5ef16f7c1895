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

// The keys written in one section of the file, read line by line.
std::vector<std::string> KeysOfSection(const std::string& path, const std::string& section) {
    std::ifstream in(path);
    std::vector<std::string> keys;
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            inside = line == "[" + section + "]";
        } else if (inside) {
            keys.push_back(line.substr(0, line.find('=')));
        }
    }
    return keys;
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

TEST_P(ShippedLanguageTest, FileReadsCleanly) {
    ASSERT_TRUE(std::ifstream(kShippedLanguageFile).good()) << kShippedLanguageFile;
    EXPECT_EQ(file_.Warning(), "");
}

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

TEST_P(ShippedLanguageTest, NoKeyThatTheProgramIgnores) {
    std::set<std::string> known;
    for (const LanguageEntry& entry : englishEntries_) known.insert(entry.key);
    std::set<std::string> seen;
    const std::vector<std::string> keys = KeysOfSection(kShippedLanguageFile, section_);
    EXPECT_FALSE(keys.empty());
    for (const std::string& key : keys) {
        EXPECT_TRUE(known.contains(key)) << key << " is not read by the program";
        EXPECT_TRUE(seen.insert(key).second) << key << " is written twice";
    }
}

// Through the loader: the section is chosen (not the English fallback), the texts arrive
// decoded, and a drag tip's "\n" becomes a line break.
TEST_P(ShippedLanguageTest, LoaderUsesTheSection) {
    UiStrings strings;
    EXPECT_EQ(LoadLanguageStrings(strings, GetParam().id, kShippedLanguageFile), "");
    EXPECT_NE(strings.type_str[1], english_.type_str[1]);
    EXPECT_NE(strings.word_str[kWordCount], english_.word_str[kWordCount]);
    EXPECT_NE(strings.drag_tip_str[5].find("\r\n"), std::string::npos);
    std::ostringstream all;
    for (LanguageEntry& entry : LanguageEntries(strings)) all << *entry.text << '\n';
    EXPECT_EQ(all.str().find("\xEF\xBF\xBD"), std::string::npos) << "undecodable text";
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedLanguageTest,
                         testing::Values(ShippedLanguage{"German", 1031},
                                         ShippedLanguage{"French", 1036}),
                         [](const auto& info) { return std::string(info.param.name); });

// The marker check above can only fail if FormatMarkers sees the markers at all.
TEST(ShippedLanguageMarkers, FindsWhatATranslationCouldLose) {
    const struct {
        const char* text;
        std::vector<std::string> markers;
    } rows[] = {
        {"Wait %d ms", {"%d"}},     {"Mouse Movement (%d , %d)", {"%d", "%d"}},
        {"Press && hold", {"&&"}},  {"Press & hold %s", {"%s"}},
        {"100%% %s", {"%%", "%s"}}, {"no markers", {}},
    };
    for (const auto& row : rows) EXPECT_EQ(FormatMarkers(row.text), row.markers) << row.text;
}

}  // namespace
}  // namespace qvm
