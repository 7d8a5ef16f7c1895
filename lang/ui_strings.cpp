#include "lang/ui_strings.h"

#include <span>

#include "base/ini_file.h"

namespace qvm {
namespace {

constexpr std::string_view kProbeKey = "type_str1";
constexpr std::string_view kMiscSection = "MISC";
constexpr std::string_view kEnableColorKey = "EnableColor";
constexpr std::string_view kConsumerKeyPrefix = "consumer_key_str";
constexpr std::string_view kEscapedNewline = "\\n";
constexpr std::string_view kNewline = "\r\n";

// One string table as the language file names it: keys prefix0 .. prefix(readCount-1).
struct TableKeys {
    std::string_view prefix;
    std::size_t readCount;
    std::span<std::string> (*table)(UiStrings&);
};

// In the order the file's tables are read. Only readCount entries of each table are
// reachable from the file; class_str holds two further entries that no key reaches.
constexpr TableKeys kTables[] = {
    {"type_str", 41, [](UiStrings& s) { return std::span<std::string>(s.type_str); }},
    {"extra_function_str", 100,
     [](UiStrings& s) { return std::span<std::string>(s.extra_function_str); }},
    {"cap_input_str", 6, [](UiStrings& s) { return std::span<std::string>(s.cap_input_str); }},
    {"macro_str", 17, [](UiStrings& s) { return std::span<std::string>(s.macro_str); }},
    {"macro_bt_str", 5, [](UiStrings& s) { return std::span<std::string>(s.macro_bt_str); }},
    {"mouse_str", 12, [](UiStrings& s) { return std::span<std::string>(s.mouse_str); }},
    {"button_str", 60, [](UiStrings& s) { return std::span<std::string>(s.button_str); }},
    {"button_tip_str", 56, [](UiStrings& s) { return std::span<std::string>(s.button_tip_str); }},
    {"drag_tip_str", 10, [](UiStrings& s) { return std::span<std::string>(s.drag_tip_str); }},
    {"msg_str", 70, [](UiStrings& s) { return std::span<std::string>(s.msg_str); }},
    {"class_str", 8, [](UiStrings& s) { return std::span<std::string>(s.class_str); }},
    {"menu_str", 2, [](UiStrings& s) { return std::span<std::string>(s.menu_str); }},
    {"word_str", kWordTextCount, [](UiStrings& s) { return std::span<std::string>(s.word_str); }},
};

struct SingleKey {
    std::string_view key;
    std::string UiStrings::*field;
};

constexpr SingleKey kSingles[] = {
    {"end_str", &UiStrings::end_str},
    {"macro_editor_cap_str", &UiStrings::macro_editor_cap_str},
    {"profile_str", &UiStrings::profile_str},
    {"launch_str", &UiStrings::launch_str},
    {"version_str", &UiStrings::version_str},
    {"firmware_str", &UiStrings::firmware_str},
};

// Drag tips may spell a line break as the two characters backslash and 'n'.
std::string ExpandNewlines(std::string text) {
    for (auto pos = text.find(kEscapedNewline); pos != std::string::npos;
         pos = text.find(kEscapedNewline, pos + kNewline.size())) {
        text.replace(pos, kEscapedNewline.size(), kNewline);
    }
    return text;
}

UiStrings& ProcessStrings() {
    static UiStrings strings;
    return strings;
}

}  // namespace

const UiStrings& Ui() {
    return ProcessStrings();
}

void SetUi(UiStrings strings) {
    ProcessStrings() = std::move(strings);
}

std::vector<LanguageEntry> LanguageEntries(UiStrings& strings) {
    std::vector<LanguageEntry> entries;
    for (const TableKeys& keys : kTables) {
        const std::span<std::string> table = keys.table(strings);
        const bool multiLine = keys.prefix == "drag_tip_str" || keys.prefix == "word_str";
        for (std::size_t n = 0; n < keys.readCount && n < table.size(); ++n) {
            entries.push_back({std::string(keys.prefix) + std::to_string(n), &table[n], multiLine});
        }
    }
    for (std::size_t n = 0; n < strings.consumer_keys.size(); ++n) {
        ConsumerKey& row = strings.consumer_keys[n];
        if (row.usage == kConsumerKeyTerminator) break;
        entries.push_back({std::string(kConsumerKeyPrefix) + std::to_string(n), &row.name, false});
    }
    for (const SingleKey& single : kSingles) {
        entries.push_back({std::string(single.key), &(strings.*single.field), false});
    }
    return entries;
}

std::string LoadLanguageStrings(UiStrings& strings, int languageId, const std::string& path) {
    const IniFile file = IniFile::Load(path);

    if (file.GetString(std::to_string(languageId), kProbeKey, kNoString) == kNoString) {
        languageId = kEnglishLanguageId;
    }
    const std::string section = std::to_string(languageId);
    strings.language_id = languageId;
    strings.enable_color = file.GetInt(kMiscSection, kEnableColorKey, 0);

    for (const LanguageEntry& entry : LanguageEntries(strings)) {
        std::string value = file.GetString(section, entry.key, kNoString);
        if (entry.multiLine) value = ExpandNewlines(std::move(value));
        if (value != kNoString) *entry.text = std::move(value);
    }
    return file.Warning();
}

}  // namespace qvm
