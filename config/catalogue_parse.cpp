// From a function text back to the slots that show it. The candidates are generated
// from the same tables the formatter reads and every answer is checked by formatting it
// again, so a text parses exactly when some assignable slot shows it.
#include <algorithm>
#include <charconv>
#include <optional>
#include <unordered_set>
#include <utility>

#include "config/catalogue.h"

namespace qvm {
namespace {

struct Candidate {
    std::string key;  // the text, blanks trimmed and ASCII lower-cased
    ButtonSlot slot;
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

std::string Key(std::string_view text) {
    std::string out(Trim(text));
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Types whose slots carry no operand the text shows.
constexpr uint8_t kPlainTypes[] = {
    kTypeDefault, kTypeNoFunction, 12, 13, 14, 17, 18, 19, 20, 21, 22, 23, 26, 29, 30, 31, 32};
constexpr uint8_t kMouseMasks[] = {0x01, 0x02, 0x04, 0x08, 0x10};
constexpr int kBuiltinMacroAddresses[] = {0, 10, 20, 26};
// Modifier masks tried for key combinations: the left-hand bits; the text does not
// tell the two sides apart.
constexpr int kModifierMasks = 16;
constexpr int kMaxFireInterval = 250;  // in 10 ms units
// The fire button text with an interval does not show the buttons: the left button fires.
constexpr uint8_t kFireButtonMask = 0x01;
constexpr int kGamepadBits = 14;
constexpr int kJoystickAxes = 13;
constexpr int kJoystickButtons = 12;

class Catalogue {
  public:
    Catalogue(const UiStrings& ui, int dpiStep) : ui_(ui), dpiStep_(dpiStep) { Build(); }

    const std::vector<Candidate>& All() const { return all_; }

    std::vector<ButtonSlot> Parse(std::string_view text) const {
        const std::string key = Key(text);
        std::vector<ButtonSlot> out;
        if (key.empty()) return out;
        auto add = [&](const ButtonSlot& s) {
            if (Key(FormatButtonSlotWith(ui_, s, dpiStep_)) == key &&
                std::find(out.begin(), out.end(), s) == out.end()) {
                out.push_back(s);
            }
        };
        for (const Candidate& c : all_) {
            if (c.key == key) add(c.slot);
        }
        for (const ButtonSlot& s : ParseDpi(key)) add(s);
        for (const ButtonSlot& s : ParsePairs(key)) add(s);
        return out;
    }

    // Candidates whose text equals `text` once blanks are taken out of both and case is
    // ignored: "Ctrl+C" for "Ctrl + C", "Fire button (50 ms)" for "Fire button (50ms)".
    std::vector<ButtonSlot> ParseIgnoringBlanks(std::string_view text) const {
        const std::string key = WithoutBlanks(Key(text));
        std::vector<ButtonSlot> out;
        if (key.empty()) return out;
        for (const Candidate& c : all_) {
            if (WithoutBlanks(c.key) == key &&
                std::find(out.begin(), out.end(), c.slot) == out.end()) {
                out.push_back(c.slot);
            }
        }
        return out;
    }

  private:
    static std::string WithoutBlanks(std::string text) {
        std::erase(text, ' ');
        return text;
    }

    void Add(ButtonSlot s) {
        std::string key = Key(FormatButtonSlotWith(ui_, s, dpiStep_));
        if (!key.empty()) all_.push_back({std::move(key), s});
    }

    void Build() {
        for (uint8_t t : kPlainTypes) Add({t, 0, 0, 0});
        Add({kTypeHidKey1, 1, 0, 1});
        Add({kTypeHidKey2, 1, 0, 0});
        Add({kTypeHidKey2, 2, 0, 0});
        for (uint8_t m : kMouseMasks) Add({kTypeMouse, m, 0, 0});
        Add({kTypeMouse, 0, 1, 0});
        Add({kTypeMouse, 0, 0xFF, 0});
        for (int mods = 0; mods < kModifierMasks; ++mods) {
            const auto m = static_cast<uint8_t>(mods);
            if (m != 0) Add({kTypeKeyboard, m, 0, 0});
            for (const KeyNameEntry& k : KeyNameTable()) {
                if (k.usage == kKeyNameEnd) break;
                Add({kTypeKeyboard, m, static_cast<uint8_t>(k.usage), 0});
            }
        }
        for (const ConsumerKey& k : ui_.consumer_keys) {
            if (k.usage == kConsumerKeyTerminator) break;
            Add({kTypeConsumer, static_cast<uint8_t>(k.usage & 0xFF),
                 static_cast<uint8_t>(k.usage >> 8), 0});
        }
        for (uint8_t t : {kTypeMacro, kTypeMacroRepeat, kTypeMacroHold}) {
            for (int a : kBuiltinMacroAddresses) {
                Add({t, static_cast<uint8_t>(a), 0, kBuiltinMacroMarker});
            }
        }
        for (uint8_t t : {kTypeDpiFirekey, kTypeDpiHotkey}) {
            Add({t, 0, 0xFF, 0});
            Add({t, 0xFF, 0, 0});
        }
        for (int i = 0; i <= kMaxFireInterval; ++i) {
            Add({kTypeFireButton, kFireButtonMask, static_cast<uint8_t>(i), 0});
        }
        for (int i = 1; i <= 0xFF; ++i) Add({kTypeRapidFire, 0, static_cast<uint8_t>(i), 0});
        Add({kTypeGamepad, 0, 0, 0});
        for (int bit = 0; bit < kGamepadBits; ++bit) {
            const unsigned mask = 1u << bit;
            Add({kTypeGamepad, static_cast<uint8_t>(mask & 0xFF), static_cast<uint8_t>(mask >> 8),
                 0});
        }
        for (uint8_t m : kMouseMasks) Add({kTypeSmartRepeat, m, 0, 0});
        Add({kTypeStickToggle, 0, 0, 0});
        Add({kTypeStickToggle, 1, 0, 0});
        for (uint8_t t : {kTypeDpiAdjust, kTypeRapidFireAdjust}) {
            Add({t, 1, 0, 0});
            Add({t, 0, 0, 0});
        }
        for (int axis = 1; axis <= kJoystickAxes; ++axis) {
            Add({kTypeJoystick, static_cast<uint8_t>(axis), 0, 0});
        }
        for (int bit = 0; bit < kJoystickButtons; ++bit) {
            const unsigned mask = 1u << bit;
            Add({kTypeJoystick, 0, static_cast<uint8_t>(mask & 0xFF),
                 static_cast<uint8_t>(mask >> 8)});
        }
        Add({kTypeJoystick, 0, 0, 0});
    }

    // "<DPI type name> [X:<x> , Y:<y>]" with an optional blank and button names after it.
    std::vector<ButtonSlot> ParseDpi(const std::string& key) const {
        std::vector<ButtonSlot> out;
        for (uint8_t t : {kTypeDpiFirekey, kTypeDpiHotkey}) {
            std::string_view rest = key;
            const std::string name = Key(ui_.type_str[t]) + " [x:";
            if (!rest.starts_with(name)) continue;
            rest.remove_prefix(name.size());
            const auto x = TakeNumber(rest);
            if (!x || !rest.starts_with(" , y:")) continue;
            rest.remove_prefix(5);
            const auto y = TakeNumber(rest);
            if (!y || !rest.starts_with("]")) continue;
            rest.remove_prefix(1);
            const auto ox = ToSteps(*x);
            const auto oy = ToSteps(*y);
            if (!ox || !oy) continue;
            std::optional<uint8_t> mask = 0;
            if (!rest.empty()) {
                if (!rest.starts_with(" ")) continue;
                mask = ParseButtonNames(Trim(rest));
            }
            if (mask) out.push_back({t, *ox, *oy, *mask});
        }
        return out;
    }

    // "<first> / <second>": two key combinations with the same modifiers, or two
    // consumer keys. Every " / " is tried, since "/" is itself a key name.
    std::vector<ButtonSlot> ParsePairs(const std::string& key) const {
        std::vector<ButtonSlot> out;
        const std::string sep = " / ";
        for (auto at = key.find(sep); at != std::string::npos; at = key.find(sep, at + 1)) {
            const std::string left = Key(key.substr(0, at));
            const std::string right = Key(key.substr(at + sep.size()));
            for (const Candidate& a : all_) {
                if (a.key != left) continue;
                for (const Candidate& b : all_) {
                    if (b.key != right || b.slot.type != a.slot.type) continue;
                    if (a.slot.type == kTypeKeyboard && a.slot.op1 == b.slot.op1) {
                        out.push_back({kTypeScrollKeys, a.slot.op1, a.slot.op2, b.slot.op2});
                    } else if (a.slot.type == kTypeConsumer) {
                        out.push_back({kTypeScrollConsumer, a.slot.op1, b.slot.op1,
                                       static_cast<uint8_t>(a.slot.op2 | (b.slot.op2 << 4))});
                    }
                }
            }
        }
        return out;
    }

    static std::optional<int> TakeNumber(std::string_view& rest) {
        int value = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
        if (ec != std::errc() || end == rest.data()) return std::nullopt;
        rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
        return value;
    }

    std::optional<uint8_t> ToSteps(int dpi) const {
        if (dpiStep_ <= 0 || dpi < 0 || dpi % dpiStep_ != 0 || dpi / dpiStep_ > 0xFF) {
            return std::nullopt;
        }
        return static_cast<uint8_t>(dpi / dpiStep_);
    }

    // Button names run together in bit order.
    std::optional<uint8_t> ParseButtonNames(std::string_view rest) const {
        uint8_t mask = 0;
        for (int bit = 0; bit < 5 && !rest.empty(); ++bit) {
            const std::string name = Key(ui_.mouse_str[bit]);
            if (!name.empty() && rest.starts_with(name)) {
                mask = static_cast<uint8_t>(mask | (1u << bit));
                rest.remove_prefix(name.size());
            }
        }
        if (!rest.empty() || mask == 0) return std::nullopt;
        return mask;
    }

    const UiStrings& ui_;
    int dpiStep_;
    std::vector<Candidate> all_;
};

std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

}  // namespace

std::vector<ButtonSlot> ParseFunctionTextWith(const UiStrings& ui, std::string_view text,
                                              int dpiStep) {
    return Catalogue(ui, dpiStep).Parse(text);
}

std::vector<ButtonSlot> ParseFunctionText(std::string_view text, int dpiStep) {
    return ParseFunctionTextWith(Ui(), text, dpiStep);
}

std::vector<ButtonSlot> ParseFunctionTextIgnoringBlanks(std::string_view text, int dpiStep) {
    return Catalogue(Ui(), dpiStep).ParseIgnoringBlanks(text);
}

std::vector<std::string> SuggestFunctionTexts(std::string_view text, std::size_t n, int dpiStep) {
    const UiStrings& ui = Ui();
    const Catalogue catalogue(ui, dpiStep);
    const std::string key = Key(text);
    std::vector<std::pair<std::size_t, std::string>> scored;
    std::unordered_set<std::string> seen;
    for (const Candidate& c : catalogue.All()) {
        std::string shown(Trim(FormatButtonSlotWith(ui, c.slot, dpiStep)));
        if (!seen.insert(shown).second) continue;
        scored.emplace_back(EditDistance(key, c.key), std::move(shown));
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (std::size_t i = 0; i < scored.size() && i < n; ++i) out.push_back(scored[i].second);
    return out;
}

}  // namespace qvm
