#include "app/keyboard_layout.h"

#include <optional>

#include "app/ini_file.h"
#include "app/scancodes.h"
#include "app/text.h"
#include "app/ui_strings.h"

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

}  // namespace

KeyboardLayout LoadKeyboardLayout(const std::string& path, const KeyNaming& naming) {
    const IniFile file = IniFile::Load(path);
    KeyboardLayout layout;
    layout.warning = file.Warning();
    layout.originX = file.GetInt(kOriginSection, "x", 0);
    layout.originY = file.GetInt(kOriginSection, "y", 0);

    int consumerX = 0;
    std::optional<int> consumerRowY;
    for (int k = kFirstKeySection; k <= kLastKeySection; ++k) {
        if (layout.keys.size() >= kMaxKeyboardKeys) break;
        const std::string section = KeySection(k);
        const std::string name = file.GetString(section, "name", kNoString);
        const int consumerUsage = file.GetInt(section, "chwcode", 0);
        if (name == kNoString && consumerUsage == 0) continue;

        KeyboardKey key;
        key.name = name == kNoString ? std::string() : TruncateUtf16Units(name, kMaxKeyNameUnits);
        key.consumerUsage = consumerUsage;
        key.keepName = file.GetInt(section, "modify", 0);
        key.scanCode = file.GetInt(section, "code", 0);
        key.x = file.GetInt(section, "x", 0);
        key.y = file.GetInt(section, "y", 0);
        key.width = file.GetInt(section, "width", 0);
        key.height = file.GetInt(section, "height", 0);
        key.smallFont = file.GetInt(section, "small_font", 0);
        key.usage = file.GetInt(section, "hwcode", 0);
        key.state = 0;

        if (consumerUsage != 0) {
            key.consumerIndex = FindConsumerRow(consumerUsage);
            if (!consumerRowY) consumerRowY = key.y;
            key.width = kConsumerKeyWidth;
            key.height = kConsumerKeyHeight;
            key.name = CallOrEmpty(naming.consumerName, consumerUsage);
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
