// Fuzz target for the program's ini files as the readers built on the ini reader take
// them: the input is given as set.ini, language.ini, keyboard.ini, bulitin.ini and a
// library file at once. Every reader must cope, give values inside their ranges, and the
// settings must survive a save: what was read, written back and read again is the same.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/text.h"
#include "fuzz/fuzz_support.h"
#include "lang/keyboard_layout.h"
#include "lang/ui_strings.h"
#include "macro/function_library.h"
#include "session/settings.h"

namespace {

using qvm::fuzz::Require;

void CheckSettings(const std::string& path) {
    const qvm::LoadedSettings read = qvm::ReadSettings(path);
    (void)qvm::ReadStartupSettings(path);
    // The file holding what was read is saved over with those same values: the save must
    // change nothing a later read sees.
    if (!qvm::SaveSettings(path, read.settings)) return;
    const qvm::LoadedSettings again = qvm::ReadSettings(path);
    Require(again.warning.empty() || !read.warning.empty());
    Require(again.settings.osd == read.settings.osd);
    Require(again.settings.disableAcc == read.settings.disableAcc);
    Require(again.settings.remote == read.settings.remote);
    for (std::size_t i = 0; i < qvm::kStoredAppSlots; ++i)
        Require(again.settings.apps[i] == read.settings.apps[i]);
}

void CheckLanguage(const std::string& path) {
    for (int id : {1033, 1031}) {
        qvm::UiStrings strings;
        (void)qvm::LoadLanguageStrings(strings, id, path);
        Require(strings.language_id == id || strings.language_id == 1033);
    }
}

void CheckKeyboard(const std::string& path) {
    const qvm::KeyNaming naming{[](int usage) { return usage == 4 ? std::string("A") : ""; },
                                [](int usage) { return usage == 0xE9 ? std::string("Vol+") : ""; }};
    const qvm::KeyboardLayout layout = qvm::LoadKeyboardLayout(path, naming);
    Require(layout.keys.size() <= qvm::kMaxKeyboardKeys);
    for (const qvm::KeyboardKey& key : layout.keys) {
        Require(key.consumerIndex >= -1);
        Require(key.consumerUsage >= 0 && key.consumerUsage <= 0xFFFF);
        Require(key.state == 0);
    }
}

void CheckLibrary(const std::string& folder) {
    const qvm::UiStrings ui;
    for (int language : {qvm::kEnglishLanguageId, 1036}) {
        const qvm::FunctionLibrary library =
            qvm::BuildFunctionLibrary(folder, ui, qvm::kDefaultDpiStep, language);
        for (const qvm::FunctionLibraryItem& item : library.items) {
            const qvm::MacroLibraryEntry& e = item.entry;
            Require(e.depth == 1 || e.depth == 2);
            Require(qvm::CountUtf16Units(e.name) <= qvm::kMaxFunctionNameUnits);
            Require(qvm::CountUtf16Units(e.description) <= qvm::kMaxFunctionDescUnits);
            Require(qvm::CountUtf16Units(e.path) <= qvm::kMaxFunctionPathUnits);
            (void)item.Slot();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const qvm::fuzz::ScratchFolder& scratch = qvm::fuzz::Scratch();
    CheckSettings(scratch.Write("set.ini", bytes));
    CheckLanguage(scratch.Write("language.ini", bytes));
    CheckKeyboard(scratch.Write("keyboard.ini", bytes));
    scratch.Write("bulitin.ini", bytes);
    scratch.Write("library/fuzz.ini", bytes);
    CheckLibrary(scratch.Path());
    return 0;
}
