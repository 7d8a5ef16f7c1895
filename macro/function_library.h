// The function library: the functions a user can pick from the function list, read from
// "bulitin.ini" of the program folder and from every "*.ini" of its "library" folder.
//
// bulitin.ini holds four groups, each a run of sections "<prefix>0" .. "<prefix>99" with
// the keys name, path, desc, type, op1, op2, op3. A library file adds one group: its
// section "DB" gives the group's "name" and the section prefix of its entries ("tag").
//
// A name or description may be given once more per language, as "name_<id>" and
// "desc_<id>" beside the English "name" and "desc" (id as in language.ini: 1031, 1036).
// The English "name" decides whether a section is an entry at all; a per-language key that
// is missing or empty falls back to the English text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/button_slot.h"
#include "lang/ui_strings.h"
#include "macro/library_entry.h"

namespace qvm {

inline constexpr std::string_view kBuiltinLibraryFileName = "bulitin.ini";
inline constexpr std::string_view kLibraryFolderName = "library";
inline constexpr std::string_view kLibraryFileExtension = ".ini";
// Section of a library file that names the library and its entry prefix.
inline constexpr std::string_view kLibraryDbSection = "DB";
// Group entries carry this path, formed with the group id.
inline constexpr std::string_view kGroupPathPrefix = "@_INTERNAL_";

// Entry sections of a group are numbered 0 .. kGroupSectionCount - 1.
inline constexpr int kGroupSectionCount = 100;
// Longest name, path and description kept, in UTF-16 code units.
inline constexpr std::size_t kMaxFunctionNameUnits = 200;
inline constexpr std::size_t kMaxFunctionPathUnits = 1024;
inline constexpr std::size_t kMaxFunctionDescUnits = 200;

// Group ids of the built-in groups and of every library file.
inline constexpr int32_t kGroupAdvanced = 201;
inline constexpr int32_t kGroupMouse = 202;
inline constexpr int32_t kGroupKeyboard = 203;
inline constexpr int32_t kGroupConsumer = 204;
inline constexpr int32_t kGroupLibrary = 210;

// One built-in group: its section prefix, its id and its translated name.
struct BuiltinFunctionGroup {
    std::string_view prefix;
    int32_t id;
    const std::string& (*name)(const UiStrings&);
};
inline constexpr std::array<BuiltinFunctionGroup, 4> kBuiltinFunctionGroups = {{
    {"Advanced", kGroupAdvanced,
     [](const UiStrings& ui) -> const std::string& { return ui.class_str[2]; }},
    {"Mouse", kGroupMouse,
     [](const UiStrings& ui) -> const std::string& { return ui.class_str[0]; }},
    {"Keyboard", kGroupKeyboard,
     [](const UiStrings& ui) -> const std::string& { return ui.class_str[1]; }},
    {"Consumer", kGroupConsumer,
     [](const UiStrings& ui) -> const std::string& { return ui.word_str[kWordConsumer]; }},
}};

// One line of the function list: a group entry (type kLibraryFolderType, depth 1, parent
// 0) or a function (depth 2, parent = its group's id), and the text the list shows for
// it: the formatted function code, empty for a group entry.
struct FunctionLibraryItem {
    MacroLibraryEntry entry;
    std::string text;

    ButtonSlot Slot() const;
};

struct FunctionLibrary {
    std::vector<FunctionLibraryItem> items;
    // One line per file or entry that could not be used, for the caller to show or log.
    std::vector<std::string> problems;
};

// The group entry's path: "@_INTERNAL_<id>".
std::string FunctionGroupPath(int32_t groupId);

// Reads bulitin.ini and then the library files (sorted by file name) of programFolder.
// Function texts are formatted with ui and dpiStep; names and descriptions are those of
// languageId where the files have them. Never fails as a whole: whatever can be read is
// listed, and what cannot is described in problems.
FunctionLibrary BuildFunctionLibrary(const std::string& programFolder, const UiStrings& ui,
                                     int dpiStep = kDefaultDpiStep,
                                     int languageId = kEnglishLanguageId);

}  // namespace qvm
