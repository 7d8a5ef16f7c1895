// Building the function list from bulitin.ini and the library files.
#include "macro/function_library.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <utility>

#include "base/ini_file.h"
#include "base/text.h"
#include "config/catalogue.h"
#include "platform/folders.h"

namespace qvm {
namespace {

namespace fs = std::filesystem;

// Function codes are bytes on the device; operands may be written signed (-1 for a wheel
// step down) or unsigned.
constexpr int kMinType = 0;
constexpr int kMaxType = 0xFF;
constexpr int kMinOperand = -128;
constexpr int kMaxOperand = 0xFF;
constexpr int32_t kGroupDepth = 1;
constexpr int32_t kFunctionDepth = 2;

// Where a group comes from, for problem texts and the group entry.
struct GroupSource {
    const IniFile& ini;
    std::string fileLabel;
    std::string prefix;
    int32_t id;
    std::string name;
    int languageId;
};

// The text of key in languageId ("<key>_<id>"); english, the plain key's text, where the
// language has none or an empty one. English itself reads the plain key only.
std::string Localised(const IniFile& ini, std::string_view section, std::string_view key,
                      int languageId, std::string english) {
    if (languageId == kEnglishLanguageId) return english;
    std::string local =
        ini.GetString(section, std::string(key) + "_" + std::to_string(languageId), "");
    return local.empty() ? english : local;
}

// The four numbers of a function code and what each may be.
struct CodeNumber {
    std::string_view key;
    int min;
    int max;
    int32_t MacroLibraryEntry::*field;
};
constexpr std::array<CodeNumber, 4> kCodeNumbers = {{
    {"type", kMinType, kMaxType, &MacroLibraryEntry::type},
    {"op1", kMinOperand, kMaxOperand, &MacroLibraryEntry::op1},
    {"op2", kMinOperand, kMaxOperand, &MacroLibraryEntry::op2},
    {"op3", kMinOperand, kMaxOperand, &MacroLibraryEntry::op3},
}};

// Reads the function code into e; a number that does not fit the byte the device stores
// (also one that would fit only after wrapping at 32 bits) is the error.
Status ReadFunctionCode(const IniFile& ini, const std::string& section, MacroLibraryEntry& e) {
    for (const CodeNumber& n : kCodeNumbers) {
        const Result<int> value = ini.GetIntInRange(section, n.key, 0, n.min, n.max);
        if (!value) return value.error();
        e.*n.field = *value;
    }
    return {};
}

// Appends the group entry and the group's functions, in section-number order; a group
// without any function is left out.
void ReadGroup(const GroupSource& group, const UiStrings& ui, int dpiStep, FunctionLibrary& out) {
    std::vector<FunctionLibraryItem> functions;
    for (int number = 0; number < kGroupSectionCount; ++number) {
        const std::string section = group.prefix + std::to_string(number);
        const std::string name = group.ini.GetString(section, "name", kNoString);
        if (name == kNoString) continue;
        FunctionLibraryItem item;
        MacroLibraryEntry& e = item.entry;
        e.name = TruncateUtf16Units(Localised(group.ini, section, "name", group.languageId, name),
                                    kMaxFunctionNameUnits);
        e.path =
            TruncateUtf16Units(group.ini.GetString(section, "path", ""), kMaxFunctionPathUnits);
        e.description = TruncateUtf16Units(Localised(group.ini, section, "desc", group.languageId,
                                                     group.ini.GetString(section, "desc", "")),
                                           kMaxFunctionDescUnits);
        if (Status code = ReadFunctionCode(group.ini, section, e); !code) {
            out.problems.push_back(group.fileLabel + " " + code.message() +
                                   "; the entry is left out");
            continue;
        }
        e.parent = group.id;
        e.depth = kFunctionDepth;
        item.text = FormatButtonSlotWith(ui, item.Slot(), dpiStep);
        functions.push_back(std::move(item));
    }
    if (functions.empty()) return;

    FunctionLibraryItem head;
    head.entry.name = group.name;
    head.entry.path = FunctionGroupPath(group.id);
    head.entry.type = kLibraryFolderType;
    head.entry.depth = kGroupDepth;
    out.items.push_back(std::move(head));
    std::move(functions.begin(), functions.end(), std::back_inserter(out.items));
}

// Loads an ini file; a file that cannot be read, or only partly, is reported. Returns
// false when nothing of it can be used.
bool LoadIni(const std::string& path, IniFile& ini, std::vector<std::string>& problems) {
    ini = IniFile::Load(path);
    if (ini.Unreadable()) {
        std::string why = ini.Warning().empty() ? "cannot be read" : ini.Warning();
        problems.push_back(path + ": " + why);
        return false;
    }
    if (!ini.Warning().empty()) problems.push_back(path + ": " + ini.Warning());
    return true;
}

bool HasIniExtension(const fs::path& file) {
    const std::string ext = file.extension().string();
    return std::equal(ext.begin(), ext.end(), kLibraryFileExtension.begin(),
                      kLibraryFileExtension.end(), [](char a, char b) {
                          const auto lower = [](char c) {
                              return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
                          };
                          return lower(a) == lower(b);
                      });
}

// The library files of folder, sorted by file name so the list order is stable. A
// missing folder has none; a folder that cannot be listed is reported.
std::vector<std::string> LibraryFiles(const std::string& folder,
                                      std::vector<std::string>& problems) {
    std::vector<std::string> files;
    std::error_code ec;
    if (!fs::exists(folder, ec)) return files;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || !HasIniExtension(it->path())) continue;
        files.push_back(it->path().filename().string());
    }
    if (ec) problems.push_back(folder + ": cannot be listed: " + ec.message());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

ButtonSlot FunctionLibraryItem::Slot() const {
    return ButtonSlot{static_cast<uint8_t>(entry.type), static_cast<uint8_t>(entry.op1),
                      static_cast<uint8_t>(entry.op2), static_cast<uint8_t>(entry.op3)};
}

std::string FunctionGroupPath(int32_t groupId) {
    return std::string(kGroupPathPrefix) + std::to_string(groupId);
}

FunctionLibrary BuildFunctionLibrary(const std::string& programFolder, const UiStrings& ui,
                                     int dpiStep, int languageId) {
    FunctionLibrary library;

    const std::string builtinPath = JoinPath(programFolder, kBuiltinLibraryFileName);
    std::error_code ec;
    IniFile builtin;
    if (!fs::exists(builtinPath, ec)) {
        library.problems.push_back(builtinPath + ": not found; no built-in functions");
    } else if (LoadIni(builtinPath, builtin, library.problems)) {
        for (const BuiltinFunctionGroup& g : kBuiltinFunctionGroups) {
            std::string name = g.name(ui);
            ReadGroup({builtin, std::string(kBuiltinLibraryFileName), std::string(g.prefix), g.id,
                       std::move(name), languageId},
                      ui, dpiStep, library);
        }
    }

    const std::string folder = JoinPath(programFolder, kLibraryFolderName);
    for (const std::string& file : LibraryFiles(folder, library.problems)) {
        const std::string path = JoinPath(folder, file);
        IniFile ini;
        if (!LoadIni(path, ini, library.problems)) continue;
        const std::string name = ini.GetString(kLibraryDbSection, "name", kNoString);
        const std::string tag = ini.GetString(kLibraryDbSection, "tag", kNoString);
        if (name == kNoString || tag == kNoString) {
            library.problems.push_back(path + ": section DB lacks \"name\" or \"tag\"; skipped");
            continue;
        }
        ReadGroup({ini, JoinPath(kLibraryFolderName, file), tag, kGroupLibrary,
                   TruncateUtf16Units(Localised(ini, kLibraryDbSection, "name", languageId, name),
                                      kMaxFunctionNameUnits),
                   languageId},
                  ui, dpiStep, library);
    }
    return library;
}

}  // namespace qvm
