// The button function catalogue: the name tables and the texts built from a ButtonSlot,
// and the reverse lookup from a text to the slots that show it (the command line's
// `assign PROFILE BUTTON TEXT`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/button_slot.h"
#include "lang/ui_strings.h"

namespace qvm {

// Function type codes that the formatter treats specially.
enum FunctionType : uint8_t {
    kTypeDefault = 0,
    kTypeNoFunction = 1,
    kTypeHidKey1 = 2,
    kTypeHidKey2 = 3,
    kTypeMouse = 4,
    kTypeKeyboard = 5,
    kTypeConsumer = 6,
    kTypeMacro = 8,
    kTypeMacroRepeat = 9,
    kTypeMacroHold = 10,
    kTypeDpiFirekey = 15,
    kTypeDpiHotkey = 16,
    kTypeScrollKeys = 24,
    kTypeScrollConsumer = 25,
    kTypeFireButton = 27,
    kTypeEmpty28 = 28,
    kTypeRapidFire = 33,
    kTypeGamepad = 34,
    kTypeSmartRepeat = 35,
    kTypeStickToggle = 36,
    kTypeDpiAdjust = 37,
    kTypeRapidFireAdjust = 38,
    kTypeJoystick = 39,
    kTypeEmpty40 = 40,
    kTypeEnd = 41,  // ends the type lists; codes above give an empty text
};

// Operand 3 of a macro slot that names one of the device's built-in macros.
inline constexpr uint8_t kBuiltinMacroMarker = 0xFF;

// One row of the key-name table.
struct KeyNameEntry {
    int usage;
    std::string_view name;
};
inline constexpr int kKeyNameEnd = -1;
inline constexpr std::size_t kKeyNameCount = 114;

// The key-name table: kKeyNameCount rows, then a row of usage kKeyNameEnd.
std::span<const KeyNameEntry> KeyNameTable();
// The name of a HID keyboard usage; empty when the usage has none.
std::string_view KeyName(int usage);
// Modifier prefix and key name: "Ctrl + C", "Ctrl + Shift" (no key), "" (neither).
std::string KeyCombinationText(uint8_t modifiers, int usage);
// The consumer key's name from the consumer table in force; empty when not listed.
std::string ConsumerName(int usage);

// FormatButtonSlot with explicit string tables (the plain one uses Ui()).
std::string FormatButtonSlotWith(const UiStrings& ui, const ButtonSlot& slot, int dpiStep);
std::string ConsumerNameWith(const UiStrings& ui, int usage);

// Every slot whose text equals `text`, compared without regard to ASCII case and with
// surrounding blanks ignored; empty when no known function shows that text. Searches
// the functions a user can assign: operand-less types, single mouse buttons, the wheel,
// every modifier and key combination, consumer keys and pairs of them, built-in macros,
// fire button intervals, rapid fire, game-pad and joystick functions and DPI values.
std::vector<ButtonSlot> ParseFunctionText(std::string_view text, int dpiStep = kDefaultDpiStep);
std::vector<ButtonSlot> ParseFunctionTextWith(const UiStrings& ui, std::string_view text,
                                              int dpiStep);

// The slots whose function text equals `text` when blanks are ignored in both (and case,
// as above): "ctrl+c", "Fire button (50 ms)". Pairs and DPI values need their blanks.
std::vector<ButtonSlot> ParseFunctionTextIgnoringBlanks(std::string_view text,
                                                        int dpiStep = kDefaultDpiStep);

// The n known function texts closest to `text` (edit distance, case-insensitive), for
// an error message that proposes what the user may have meant.
std::vector<std::string> SuggestFunctionTexts(std::string_view text, std::size_t n,
                                              int dpiStep = kDefaultDpiStep);

}  // namespace qvm
