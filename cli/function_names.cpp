#include "cli/function_names.h"

#include <algorithm>
#include <cctype>

#include "config/catalogue.h"
#include "lang/ui_strings.h"
#include "platform/folders.h"

namespace qvm::cli {
namespace {

// Lower case, without blanks: how two spellings of one name are compared.
std::string Loose(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        if (ch == ' ' || ch == '\t') continue;
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return out;
}

}  // namespace

std::vector<ButtonSlot> FunctionsNamed(const std::string& text, int dpiStep,
                                       const FunctionLibrary& library) {
    if (auto exact = ParseFunctionText(text, dpiStep); !exact.empty()) return exact;
    const std::string key = Loose(text);
    if (key.empty()) return {};
    std::vector<ButtonSlot> named;
    for (const FunctionLibraryItem& item : library.items) {
        if (item.entry.IsFolder() || Loose(item.entry.name) != key) continue;
        const ButtonSlot slot = item.Slot();
        if (std::find(named.begin(), named.end(), slot) == named.end()) named.push_back(slot);
    }
    if (!named.empty()) return named;
    return ParseFunctionTextIgnoringBlanks(text, dpiStep);
}

FunctionLibrary ProgramFunctionLibrary(int dpiStep) {
    return BuildFunctionLibrary(ProgramFolder(), Ui(), dpiStep);
}

}  // namespace qvm::cli
