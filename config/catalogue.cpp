// Function texts: the key-name table and the formatter of button slots.
#include "config/catalogue.h"

#include <array>
#include <cstdio>

namespace qvm {
namespace {

constexpr std::array<KeyNameEntry, kKeyNameCount + 1> kKeyNames = {{
    {0x04, "A"},
    {0x05, "B"},
    {0x06, "C"},
    {0x07, "D"},
    {0x08, "E"},
    {0x09, "F"},
    {0x0A, "G"},
    {0x0B, "H"},
    {0x0C, "I"},
    {0x0D, "J"},
    {0x0E, "K"},
    {0x0F, "L"},
    {0x10, "M"},
    {0x11, "N"},
    {0x12, "O"},
    {0x13, "P"},
    {0x14, "Q"},
    {0x15, "R"},
    {0x16, "S"},
    {0x17, "T"},
    {0x18, "U"},
    {0x19, "V"},
    {0x1A, "W"},
    {0x1B, "X"},
    {0x1C, "Y"},
    {0x1D, "Z"},
    {0x1E, "1"},
    {0x1F, "2"},
    {0x20, "3"},
    {0x21, "4"},
    {0x22, "5"},
    {0x23, "6"},
    {0x24, "7"},
    {0x25, "8"},
    {0x26, "9"},
    {0x27, "0"},
    {0x28, "Enter"},
    {0x29, "Esc"},
    {0x2A, "Backspace"},
    {0x2B, "Tab"},
    {0x2C, "Space"},
    {0x2D, "-"},
    {0x2E, "="},
    {0x2F, "["},
    {0x30, "]"},
    {0x31, "\\"},
    {0x32, "#"},
    {0x33, ";"},
    {0x34, "'"},
    {0x35, "`"},
    {0x36, ","},
    {0x37, "."},
    {0x38, "/"},
    {0x39, "Caps Lock"},
    {0x3A, "F1"},
    {0x3B, "F2"},
    {0x3C, "F3"},
    {0x3D, "F4"},
    {0x3E, "F5"},
    {0x3F, "F6"},
    {0x40, "F7"},
    {0x41, "F8"},
    {0x42, "F9"},
    {0x43, "F10"},
    {0x44, "F11"},
    {0x45, "F12"},
    {0x46, "PrintScreen"},
    {0x47, "Scroll Lock"},
    {0x48, "Pause"},
    {0x49, "Insert"},
    {0x4A, "Home"},
    {0x4B, "PageUp"},
    {0x4C, "Delete"},
    {0x4D, "End"},
    {0x4E, "PageDown"},
    {0x4F, "\u2192"},
    {0x50, "\u2190"},
    {0x51, "\u2193"},
    {0x52, "\u2191"},
    {0x53, "Num Lock"},
    {0x54, "Keypad /"},
    {0x55, "Keypad *"},
    {0x56, "Keypad -"},
    {0x57, "Keypad +"},
    {0x58, "Keypad Enter"},
    {0x59, "Keypad 1"},
    {0x5A, "Keypad 2"},
    {0x5B, "Keypad 3"},
    {0x5C, "Keypad 4"},
    {0x5D, "Keypad 5"},
    {0x5E, "Keypad 6"},
    {0x5F, "Keypad 7"},
    {0x60, "Keypad 8"},
    {0x61, "Keypad 9"},
    {0x62, "Keypad 0"},
    {0x63, "Keypad ."},
    {0x65, "Application"},
    {0x66, "Power"},
    {0x67, "Keypad ="},
    {0x87, "\u2216"},
    {0x88, "\u30AB\u30BF\u30AB\u30CA\n\u3072\u3089\u304C\u306A"},
    {0x89, "\\"},
    {0x8A, "\u5909\u63DB"},
    {0x8B, "\u7121\u5909\u63DB"},
    {0x90, "\uD55C/\uC789"},
    {0x91, "\uD55C\uC790"},
    {0xE0, "Left Control"},
    {0xE1, "Left Shift"},
    {0xE2, "Left Alt"},
    {0xE3, "Left Win"},
    {0xE4, "Right Control"},
    {0xE5, "Right Shift"},
    {0xE6, "Right Alt"},
    {0xE7, "Right Win"},
    {kKeyNameEnd, ""},
}};

// Modifier bits (either side) and their prefixes, in the order they are written.
struct ModifierText {
    uint8_t bits;
    std::string_view text;
};
constexpr std::array<ModifierText, 4> kModifierTexts = {{
    {0x11, "Ctrl + "},
    {0x22, "Shift + "},
    {0x44, "Alt + "},
    {0x88, "Win + "},
}};
constexpr std::size_t kJoinerLength = 3;  // the trailing " + " of a prefix without a key

// Entries of mouse_str.
constexpr int kMouseButtonNames = 5;  // entries 0..4: bits 0..4 of a button mask
constexpr int kMouseTiltLeft = 5;
constexpr int kMouseTiltRight = 6;
constexpr int kMouseScrollUp = 7;
constexpr int kMouseScrollDown = 8;
constexpr int kMouseDoubleClick = 9;
constexpr int kMouseTripleClick = 10;

// Entries of msg_str.
constexpr int kMsgLockX = 46;
constexpr int kMsgLockY = 47;
constexpr int kMsgSlowDown = 67;
constexpr int kMsgSpeedUp = 68;

// Built-in macros: their start address in macro space and the mouse text naming them.
struct BuiltinMacro {
    int address;
    int mouseText;
};
constexpr std::array<BuiltinMacro, 4> kBuiltinMacros = {{
    {0, kMouseTiltLeft},
    {10, kMouseTiltRight},
    {20, kMouseTripleClick},
    {26, kMouseDoubleClick},
}};

constexpr std::array<std::string_view, 14> kGamepadNames = {
    "XBOX A",  "XBOX B",    "XBOX X",     "XBOX Y",  "XBOX LB",   "XBOX LT",    "XBOX RB",
    "XBOX RT", "XBOX Left", "XBOX Right", "XBOX Up", "XBOX Down", "XBOX Start", "XBOX Back"};
constexpr std::string_view kGamepadNone = "XBOX";

// Axis texts of the joystick type, indexed by operand 1 (entry 0 unused).
constexpr std::array<std::string_view, 14> kJoystickAxes = {
    "",          " axis X-",  " axis X+",  " axis Y-",  " axis Y+",  " axis Z-",  " axis Z+",
    " axis Rx-", " axis Rx+", " axis Ry-", " axis Ry+", " axis Rz-", " axis Rz+", " Hat"};
constexpr int kJoystickButtonBits = 12;

constexpr std::string_view kVirtualTouch = "Virtual Touch (Windows 8)";
constexpr std::string_view kRecordScreen = "Record screen";
constexpr std::string_view kSmartRepeat = " (Smart repeat)";
constexpr std::string_view kStick1Toggle = "XBOX Anlog1 toggle";
constexpr std::string_view kStick2Toggle = "XBOX Anlog2 toggle";
constexpr std::string_view kPairSeparator = " / ";

const std::string& TypeName(const UiStrings& ui, int type) {
    if (type < static_cast<int>(ui.type_str.size())) return ui.type_str[type];
    return ui.end_str;  // type 41, the only one past the table
}

// Names of the set bits of a mouse-button mask, bit 0 first, run together.
std::string ButtonNames(const UiStrings& ui, uint8_t mask) {
    std::string out;
    for (int bit = 0; bit < kMouseButtonNames; ++bit) {
        if (mask & (1u << bit)) out += ui.mouse_str[bit];
    }
    return out;
}

std::string Printf(const char* format, const std::string& name, int value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return name + buffer;
}

std::string MacroText(const UiStrings& ui, const ButtonSlot& s) {
    if (s.op3 != kBuiltinMacroMarker) return TypeName(ui, s.type);
    const int address = s.op1 + 256 * s.op2;
    for (const BuiltinMacro& m : kBuiltinMacros) {
        if (m.address == address) return ui.mouse_str[m.mouseText];
    }
    return TypeName(ui, s.type);
}

// DPI firekey and hotkey. The operands count in the device's DPI step, the unit the
// button settings dialog edits them in, so the text shows the DPI the dialog shows
// (50 per unit on most devices, 100 on those whose DPI step is 100).
std::string DpiText(const UiStrings& ui, const ButtonSlot& s, int dpiStep) {
    if (s.op1 == 0 && s.op2 == 0xFF) return ui.msg_str[kMsgLockX];
    if (s.op1 == 0xFF && s.op2 == 0) return ui.msg_str[kMsgLockY];
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, " [X:%d , Y:%d]", s.op1 * dpiStep, s.op2 * dpiStep);
    std::string out = TypeName(ui, s.type) + buffer;
    if (s.op3 != 0) out += " " + ButtonNames(ui, s.op3);
    return out;
}

std::string FireText(const UiStrings& ui, const ButtonSlot& s) {
    if (s.op3 == 0) return Printf(" (%dms)", TypeName(ui, s.type), 10 * s.op2);
    std::string out;
    if (s.op1 & 1u) out += ui.mouse_str[0];
    for (int bit = 1; bit < 8; ++bit) {
        if (!(s.op1 & (1u << bit))) continue;
        out += ' ';
        if (bit < kMouseButtonNames) out += ui.mouse_str[bit];
    }
    return Printf(" x%d", out, s.op3);
}

std::string GamepadText(const ButtonSlot& s) {
    const unsigned mask = s.op1 + 256u * s.op2;
    for (std::size_t bit = 0; bit < kGamepadNames.size(); ++bit) {
        if (mask & (1u << bit)) return std::string(kGamepadNames[bit]);
    }
    return std::string(kGamepadNone);
}

std::string JoystickText(const UiStrings& ui, const ButtonSlot& s) {
    const std::string& name = TypeName(ui, s.type);
    if (s.op1 != 0) {
        if (s.op1 < kJoystickAxes.size()) return name + std::string(kJoystickAxes[s.op1]);
        return name;
    }
    const unsigned mask = s.op2 + 256u * s.op3;
    int number = kJoystickButtonBits + 1;
    for (int bit = 0; bit < kJoystickButtonBits; ++bit) {
        if (mask & (1u << bit)) {
            number = bit + 1;
            break;
        }
    }
    return Printf(" button %d", name, number);
}

std::string ConsumerPairText(const UiStrings& ui, const ButtonSlot& s) {
    const int first = s.op1 + 256 * (s.op3 & 0x0F);
    const int second = s.op2 + 256 * (s.op3 >> 4);
    return ConsumerNameWith(ui, first) + std::string(kPairSeparator) + ConsumerNameWith(ui, second);
}

}  // namespace

std::span<const KeyNameEntry> KeyNameTable() {
    return kKeyNames;
}

std::string_view KeyName(int usage) {
    for (const KeyNameEntry& e : kKeyNames) {
        if (e.usage == kKeyNameEnd) break;
        if (e.usage == usage) return e.name;
    }
    return {};
}

std::string KeyCombinationText(uint8_t modifiers, int usage) {
    std::string prefix;
    for (const ModifierText& m : kModifierTexts) {
        if (modifiers & m.bits) prefix += m.text;
    }
    const std::string_view name = KeyName(usage);
    if (!name.empty()) return prefix + std::string(name);
    if (!prefix.empty()) prefix.resize(prefix.size() - kJoinerLength);
    return prefix;
}

std::string ConsumerNameWith(const UiStrings& ui, int usage) {
    for (const ConsumerKey& k : ui.consumer_keys) {
        if (k.usage == kConsumerKeyTerminator) break;
        if (k.usage == usage) return k.name;
    }
    return {};
}

std::string ConsumerName(int usage) {
    return ConsumerNameWith(Ui(), usage);
}

std::string FormatButtonSlotWith(const UiStrings& ui, const ButtonSlot& s, int dpiStep) {
    if (s.type > kTypeEnd) return {};
    const std::string& name = TypeName(ui, s.type);
    switch (s.type) {
        case kTypeHidKey1:
            if (s.op1 == 1 && s.op2 == 0 && s.op3 == 1) return std::string(kVirtualTouch);
            return name;
        case kTypeHidKey2:
            if (s.op2 == 0 && s.op3 == 0 && s.op1 == 1) return ui.launch_str;
            if (s.op2 == 0 && s.op3 == 0 && s.op1 == 2) return std::string(kRecordScreen);
            return name;
        case kTypeMouse: {
            const auto wheel = static_cast<int8_t>(s.op2);
            if (wheel > 0) return ui.mouse_str[kMouseScrollUp];
            if (wheel < 0) return ui.mouse_str[kMouseScrollDown];
            return ButtonNames(ui, s.op1);
        }
        case kTypeKeyboard:
            return KeyCombinationText(s.op1, s.op2);
        case kTypeConsumer:
            return ConsumerNameWith(ui, s.op1 + 256 * s.op2);
        case kTypeMacro:
        case kTypeMacroRepeat:
        case kTypeMacroHold:
            return MacroText(ui, s);
        case kTypeDpiFirekey:
        case kTypeDpiHotkey:
            return DpiText(ui, s, dpiStep);
        case kTypeScrollKeys:
            return KeyCombinationText(s.op1, s.op2) + std::string(kPairSeparator) +
                   KeyCombinationText(s.op1, s.op3);
        case kTypeScrollConsumer:
            return ConsumerPairText(ui, s);
        case kTypeFireButton:
            return FireText(ui, s);
        case kTypeEmpty28:
        case kTypeEmpty40:
            return {};
        case kTypeRapidFire:
            return Printf(" (%dms)", name, s.op2);
        case kTypeGamepad:
            return GamepadText(s);
        case kTypeSmartRepeat:
            return ButtonNames(ui, s.op1) + std::string(kSmartRepeat);
        case kTypeStickToggle:
            return std::string(s.op1 == 0 ? kStick1Toggle : kStick2Toggle);
        case kTypeDpiAdjust:
        case kTypeRapidFireAdjust:
            return name + " (" + ui.msg_str[s.op1 == 1 ? kMsgSpeedUp : kMsgSlowDown] + ")";
        case kTypeJoystick:
            return JoystickText(ui, s);
        default:
            return name;
    }
}

std::string FormatButtonSlot(const ButtonSlot& slot, int dpiStep) {
    return FormatButtonSlotWith(Ui(), slot, dpiStep);
}

}  // namespace qvm
