#include "lang/keyboard_layout.h"

#include <array>
#include <climits>
#include <optional>

#include "base/ini_file.h"
#include "base/text.h"
#include "lang/scancodes.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

constexpr std::string_view kOriginSection = "SET";
constexpr std::size_t kMaxKeyNameUnits = 199;
// Consumer keys sit in one row of equal keys, whatever the file says about their boxes.
constexpr int kConsumerKeyWidth = 63;
constexpr int kConsumerKeyHeight = 31;
constexpr int kConsumerKeyStep = 75;
// The drawn rectangle is inset from the key's box: 2 pixels top-left, 3 bottom-right.
constexpr int kInsetLeadingEdge = 2;
constexpr int kInsetTrailingEdge = 3;
// Consumer usages are looked up among the table rows before the terminator.
constexpr std::size_t kConsumerLookupRows = 14;

// What a keyboard.ini number may be. Positions and sizes stay far inside what a panel
// shows, so a key's rectangle can be computed without overflow.
constexpr int kMaxPosition = 10000;
constexpr int kMaxKeySize = 10000;
constexpr int kMaxScanCode = 0xFFFF;       // extended keys are 0xE000 + code
constexpr int kMaxKeyUsage = 0xFF;         // HID keyboard page
constexpr int kMaxConsumerUsage = 0xFFFF;  // HID consumer page

// One number of a key section and where it goes.
struct KeyNumber {
    std::string_view key;
    int min;
    int max;
    int KeyboardKey::*field;
};
constexpr std::array<KeyNumber, 8> kKeyNumbers = {{
    {"modify", INT_MIN, INT_MAX, &KeyboardKey::keepName},
    {"code", 0, kMaxScanCode, &KeyboardKey::scanCode},
    {"x", -kMaxPosition, kMaxPosition, &KeyboardKey::x},
    {"y", -kMaxPosition, kMaxPosition, &KeyboardKey::y},
    {"width", 0, kMaxKeySize, &KeyboardKey::width},
    {"height", 0, kMaxKeySize, &KeyboardKey::height},
    {"small_font", INT_MIN, INT_MAX, &KeyboardKey::smallFont},
    {"hwcode", 0, kMaxKeyUsage, &KeyboardKey::usage},
}};

std::string KeySection(int number) {
    return "KEY " + std::to_string(number);
}

int FindConsumerRow(int usage) {
    const auto& rows = Ui().consumer_keys;
    for (std::size_t i = 0; i < kConsumerLookupRows && i < rows.size(); ++i) {
        if (rows[i].usage == usage) return static_cast<int>(i);
    }
    return -1;
}

std::string CallOrEmpty(const std::function<std::string(int)>& fn, int value) {
    return fn ? fn(value) : std::string();
}

// Adds "PATH [SECTION] KEY VALUE is out of range (...); WHAT" to the layout's warning.
void ReportNumber(KeyboardLayout& layout, const std::string& path, const Error& error,
                  std::string_view what) {
    if (!layout.warning.empty()) layout.warning += "; ";
    layout.warning += path + " " + error.message + "; " + std::string(what);
}

// The numbers of a key section; false, with the problem reported, when one is out of
// range and the key must be left out.
bool ReadKeyNumbers(const IniFile& file, const std::string& path, const std::string& section,
                    KeyboardKey& key, KeyboardLayout& layout) {
    for (const KeyNumber& n : kKeyNumbers) {
        const Result<int> value = file.GetIntInRange(section, n.key, 0, n.min, n.max);
        if (!value) {
            ReportNumber(layout, path, value.error(), "the key is left out");
            return false;
        }
        key.*n.field = *value;
    }
    return true;
}

// The origin's coordinate; out of range it is reported and 0.
int ReadOrigin(const IniFile& file, const std::string& path, std::string_view key,
               KeyboardLayout& layout) {
    const Result<int> value =
        file.GetIntInRange(kOriginSection, key, 0, -kMaxPosition, kMaxPosition);
    if (value) return *value;
    ReportNumber(layout, path, value.error(), "0 is used");
    return 0;
}

}  // namespace

KeyboardLayout LoadKeyboardLayout(const std::string& path, const KeyNaming& naming) {
    const IniFile file = IniFile::Load(path);
    KeyboardLayout layout;
    layout.warning = file.Warning();
    layout.originX = ReadOrigin(file, path, "x", layout);
    layout.originY = ReadOrigin(file, path, "y", layout);

    int consumerX = 0;
    std::optional<int> consumerRowY;
    for (int k = kFirstKeySection; k <= kLastKeySection; ++k) {
        if (layout.keys.size() >= kMaxKeyboardKeys) break;
        const std::string section = KeySection(k);
        const std::string name = file.GetString(section, "name", kNoString);
        const Result<int> consumerUsage =
            file.GetIntInRange(section, "chwcode", 0, 0, kMaxConsumerUsage);
        if (!consumerUsage) {
            ReportNumber(layout, path, consumerUsage.error(), "the key is left out");
            continue;
        }
        if (name == kNoString && *consumerUsage == 0) continue;

        KeyboardKey key;
        key.name = name == kNoString ? std::string() : TruncateUtf16Units(name, kMaxKeyNameUnits);
        key.consumerUsage = *consumerUsage;
        if (!ReadKeyNumbers(file, path, section, key, layout)) continue;
        key.state = 0;

        if (key.consumerUsage != 0) {
            key.consumerIndex = FindConsumerRow(key.consumerUsage);
            if (!consumerRowY) consumerRowY = key.y;
            key.width = kConsumerKeyWidth;
            key.height = kConsumerKeyHeight;
            key.name = CallOrEmpty(naming.consumerName, key.consumerUsage);
            key.x = consumerX;
            consumerX += kConsumerKeyStep;
            key.y = *consumerRowY;
        } else {
            if (key.usage == 0) key.usage = ScanCodeToUsage(key.scanCode);
            if (key.keepName == 0) {
                // A standard name replaces the file's only where it fits the same space.
                std::string standard = CallOrEmpty(naming.standardName, key.usage);
                if (!standard.empty() && CountUtf16Units(standard) <= CountUtf16Units(key.name)) {
                    key.name = std::move(standard);
                }
            }
        }
        key.rect = {key.x + layout.originX + kInsetLeadingEdge,
                    key.y + layout.originY + kInsetLeadingEdge,
                    key.x + key.width + layout.originX - kInsetTrailingEdge,
                    key.y + key.height + layout.originY - kInsetTrailingEdge};
        layout.keys.push_back(std::move(key));
    }
    return layout;
}

}  // namespace qvm
