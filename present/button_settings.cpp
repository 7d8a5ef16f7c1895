#include "present/button_settings.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "config/catalogue.h"

namespace qvm {
namespace {

// The function types the game-pad variant adds; left out of every list without it.
constexpr uint8_t kTypeKeyCycleForward = 29;
constexpr uint8_t kTypeKeyCycleCurrent = 31;
constexpr std::array<uint8_t, 3> kGamepadTypes = {kTypeGamepad, kTypeStickToggle, kTypeJoystick};

// Game-pad buttons (type 34), stick toggles (36), joystick axes (39 with op1 1..13) and
// joystick buttons (39 with op1 0 and a one-bit mask over op2, op3).
constexpr int kGamepadButtons = 14;
constexpr int kStickCount = 2;
constexpr int kJoystickAxes = 13;
constexpr int kJoystickButtons = 12;
constexpr int kBitsPerByte = 8;
constexpr int kMaxDpiOperand = 0xFF;

// The extra function of the model's special button: "Volume scroll", the scroll hotkey
// that turns the volume up and down with the consumer keys Volume + and Volume -.
constexpr ButtonSlot kVolumeScroll{kTypeScrollConsumer, 0xE9, 0xEA, 0x00};

constexpr int kMinMacroMode = kMacroModeOnce;
constexpr int kMaxMacroMode = kMacroModeFireKey;
constexpr int kMaxConsumerUsage = 0xFFFF;
constexpr int kMaxKeyUsage = 0xFF;
constexpr int kMaxRepeatCount = 0xFF;
// The DPI pairs that lock one axis instead of giving X and Y values.
constexpr std::array<std::pair<uint8_t, uint8_t>, 2> kAxisLocks = {{{0x00, 0xFF}, {0xFF, 0x00}}};

bool IsGamepadType(uint8_t type) {
    return std::find(kGamepadTypes.begin(), kGamepadTypes.end(), type) != kGamepadTypes.end();
}
bool IsMacroType(uint8_t type) {
    return type >= kTypeMacro && type <= kTypeMacroHold;
}
bool IsKeyCycleType(uint8_t type) {
    return type >= kTypeKeyCycleForward && type <= kTypeKeyCycleCurrent;
}

// The class a function of `type` belongs to when no list entry names it.
FunctionClass ClassOfType(uint8_t type) {
    if (type == kTypeMouse || type == kTypeSmartRepeat) return FunctionClass::Mouse;
    if (type == kTypeKeyboard || type == kTypeConsumer || type == kTypeScrollKeys ||
        type == kTypeScrollConsumer) {
        return FunctionClass::Keyboard;
    }
    if (IsMacroType(type)) return FunctionClass::Macro;
    if (IsKeyCycleType(type)) return FunctionClass::KeyCycle;
    if (IsGamepadType(type)) return FunctionClass::Gamepad;
    return FunctionClass::Advanced;
}

FunctionClass ClassOfGroup(int32_t group) {
    switch (group) {
        case kGroupMouse:
            return FunctionClass::Mouse;
        case kGroupKeyboard:
        case kGroupConsumer:
            return FunctionClass::Keyboard;
        default:
            return FunctionClass::Advanced;
    }
}

Error OutOfRange(const std::string& what, int value, int low, int high) {
    return MakeError(ErrorKind::BadInput, what + " " + std::to_string(value) + " is outside " +
                                              std::to_string(low) + " to " + std::to_string(high));
}

std::vector<ButtonSlot> GamepadSlots() {
    std::vector<ButtonSlot> slots;
    for (int bit = 0; bit < kGamepadButtons; ++bit) {
        const int mask = 1 << bit;
        slots.push_back({kTypeGamepad, static_cast<uint8_t>(mask & 0xFF),
                         static_cast<uint8_t>(mask >> kBitsPerByte), 0});
    }
    for (int stick = 0; stick < kStickCount; ++stick) {
        slots.push_back({kTypeStickToggle, static_cast<uint8_t>(stick), 0, 0});
    }
    for (int axis = 1; axis <= kJoystickAxes; ++axis) {
        slots.push_back({kTypeJoystick, static_cast<uint8_t>(axis), 0, 0});
    }
    for (int bit = 0; bit < kJoystickButtons; ++bit) {
        const int mask = 1 << bit;
        slots.push_back({kTypeJoystick, 0, static_cast<uint8_t>(mask & 0xFF),
                         static_cast<uint8_t>(mask >> kBitsPerByte)});
    }
    return slots;
}

}  // namespace

Result<ButtonSettingsModel> ButtonSettingsModel::Create(const ConfigImage& image,
                                                        const ModelLayout& layout,
                                                        const FunctionLibrary& library, int profile,
                                                        int position, const UiStrings& ui) {
    if (!image.loaded) return MakeError("no configuration has been loaded from the device");
    if (profile < 0 || profile >= kProfileCount) {
        return OutOfRange("profile", profile, 0, kProfileCount - 1);
    }
    if (position < 0 || position >= layout.ButtonCount) {
        return MakeError(ErrorKind::BadInput, "button position " + std::to_string(position) +
                                                  " is not one of the model's " +
                                                  std::to_string(layout.ButtonCount) + " buttons");
    }
    const int button = layout.ButtonOrder[static_cast<std::size_t>(position)];
    if (button < 0 || button >= image.ButtonCount()) {
        return MakeError(ErrorKind::BadInput,
                         "button " + std::to_string(button) + " does not exist on this device");
    }

    ButtonSettingsModel m;
    m.profile_ = profile;
    m.button_ = button;
    m.dpiStep_ = image.dpiStep;
    // A DPI operand is one byte, whatever the device's step count.
    m.dpiStepCount_ = std::min(image.dpiStepCount, kMaxDpiOperand);
    m.macros_ = image.macros;
    for (std::size_t i = 0; i < m.classNames_.size(); ++i) m.classNames_[i] = ui.class_str[i];
    m.classes_ = {FunctionClass::Mouse, FunctionClass::Keyboard, FunctionClass::Advanced,
                  FunctionClass::Macro, FunctionClass::KeyCycle};
    if (layout.GamepadVariantFlag) m.classes_.push_back(FunctionClass::Gamepad);

    const auto format = [&](const ButtonSlot& s) {
        return FormatButtonSlotWith(ui, s, m.dpiStep_);
    };
    for (const FunctionLibraryItem& item : library.items) {
        if (item.entry.IsFolder()) continue;
        const ButtonSlot slot = item.Slot();
        if (item.entry.type < 0 || item.entry.type >= kTypeEnd || IsKeyCycleType(slot.type)) {
            continue;
        }
        const FunctionClass cls = IsGamepadType(slot.type) ? FunctionClass::Gamepad
                                  : IsMacroType(slot.type) ? FunctionClass::Macro
                                                           : ClassOfGroup(item.entry.parent);
        m.Add(cls, {item.entry.name.empty() ? item.text : item.entry.name, slot, std::nullopt});
    }
    if (position == layout.SpecialButtonIndex) {
        m.Add(FunctionClass::Advanced, {ui.extra_function_str[0], kVolumeScroll, std::nullopt});
    }
    for (int s = 0; s < kMacroSlotCount; ++s) {
        const MacroSlot& macro = image.macros[static_cast<std::size_t>(s)];
        if (macro.Empty()) continue;
        m.Add(FunctionClass::Macro, {macro.name, MacroSlotFunction(macro), s});
    }
    for (uint8_t type = kTypeKeyCycleForward; type <= kTypeKeyCycleCurrent; ++type) {
        const ButtonSlot slot{type, 0, 0, 0};
        m.Add(FunctionClass::KeyCycle, {format(slot), slot, std::nullopt});
    }
    for (const ButtonSlot& slot : GamepadSlots()) {
        m.Add(FunctionClass::Gamepad, {format(slot), slot, std::nullopt});
    }

    const KeyCycleList& list = image.keyCycles[static_cast<std::size_t>(profile)];
    for (int k = 0; k < std::min(list.Count(), kKeyCycleMaxCount); ++k) {
        m.loadedKeyCycle_.push_back(list.Entry(k));
    }
    m.keyCycle_ = m.loadedKeyCycle_;
    m.Preselect(
        image.buttons[static_cast<std::size_t>(profile)][static_cast<std::size_t>(button)].slot);
    return m;
}

std::vector<FunctionEntry>& ButtonSettingsModel::ListOf(FunctionClass cls) {
    return lists_[static_cast<std::size_t>(cls)];
}

void ButtonSettingsModel::Add(FunctionClass cls, FunctionEntry entry) {
    if (std::find(classes_.begin(), classes_.end(), cls) == classes_.end()) return;
    ListOf(cls).push_back(std::move(entry));
}

void ButtonSettingsModel::Preselect(const ButtonSlot& assigned) {
    current_ = assigned;
    for (FunctionClass cls : classes_) {
        const auto& list = lists_[static_cast<std::size_t>(cls)];
        const auto hit = std::find_if(list.begin(), list.end(),
                                      [&](const FunctionEntry& e) { return e.slot == assigned; });
        if (hit != list.end()) {
            selectedClass_ = cls;
            selectedEntry_ = static_cast<int>(hit - list.begin());
            return;
        }
    }
    // A function with operands no entry lists (a key combination, a fire interval).
    const FunctionClass byType = ClassOfType(assigned.type);
    const bool offered = std::find(classes_.begin(), classes_.end(), byType) != classes_.end();
    selectedClass_ = offered ? byType : FunctionClass::Advanced;
    selectedEntry_.reset();
}

std::string ButtonSettingsModel::ClassName(FunctionClass cls) const {
    return classNames_[static_cast<std::size_t>(cls)];
}

std::span<const FunctionEntry> ButtonSettingsModel::Entries(FunctionClass cls) const {
    return lists_[static_cast<std::size_t>(cls)];
}

Status ButtonSettingsModel::Select(FunctionClass cls, int entry) {
    if (std::find(classes_.begin(), classes_.end(), cls) == classes_.end()) {
        return MakeError(ErrorKind::BadInput,
                         "the class " + ClassName(cls) + " is not offered for this device");
    }
    const auto list = Entries(cls);
    if (entry < 0 || entry >= static_cast<int>(list.size())) {
        return MakeError(ErrorKind::BadInput,
                         "the class " + ClassName(cls) + " has no entry " + std::to_string(entry));
    }
    selectedClass_ = cls;
    selectedEntry_ = entry;
    current_ = list[static_cast<std::size_t>(entry)].slot;
    return {};
}

Status ButtonSettingsModel::RequireType(std::initializer_list<uint8_t> types,
                                        const char* what) const {
    if (std::find(types.begin(), types.end(), current_.type) != types.end()) return {};
    return MakeError(ErrorKind::BadInput, std::string("the chosen function takes no ") + what);
}

Status ButtonSettingsModel::SetKeyCombination(uint8_t modifiers, int usage) {
    if (Status ok = RequireType({kTypeKeyboard}, "key combination"); !ok) return ok;
    if (usage < 0 || usage > kMaxKeyUsage) return OutOfRange("key usage", usage, 0, kMaxKeyUsage);
    const ButtonSlot next{kTypeKeyboard, modifiers, static_cast<uint8_t>(usage), 0};
    if (Status ok = Validate(next); !ok) return ok;
    current_ = next;
    return {};
}

Status ButtonSettingsModel::SetConsumerUsage(int usage) {
    if (Status ok = RequireType({kTypeConsumer}, "consumer key"); !ok) return ok;
    if (usage < 1 || usage > kMaxConsumerUsage) {
        return OutOfRange("consumer usage", usage, 1, kMaxConsumerUsage);
    }
    current_.op1 = static_cast<uint8_t>(usage & 0xFF);
    current_.op2 = static_cast<uint8_t>(usage >> kBitsPerByte);
    current_.op3 = 0;
    return {};
}

Status ButtonSettingsModel::SetDpiValues(int xSteps, int ySteps) {
    if (Status ok = RequireType({kTypeDpiFirekey, kTypeDpiHotkey}, "DPI values"); !ok) return ok;
    for (int v : {xSteps, ySteps}) {
        if (v < 1 || v > dpiStepCount_) {
            return OutOfRange("DPI value (in steps of " + std::to_string(dpiStep_) + ")", v, 1,
                              dpiStepCount_);
        }
    }
    current_.op1 = static_cast<uint8_t>(xSteps);
    current_.op2 = static_cast<uint8_t>(ySteps);
    return {};
}

Status ButtonSettingsModel::SetFireButton(int intervalUnits, int count) {
    if (Status ok = RequireType({kTypeFireButton}, "fire interval"); !ok) return ok;
    if (intervalUnits < 0 || intervalUnits > kMaxFireIntervalUnits) {
        return OutOfRange("fire interval (10 ms units)", intervalUnits, 0, kMaxFireIntervalUnits);
    }
    if (count < 0 || count > kMaxRepeatCount) {
        return OutOfRange("repeat count", count, 0, kMaxRepeatCount);
    }
    current_.op2 = static_cast<uint8_t>(intervalUnits);
    current_.op3 = static_cast<uint8_t>(count);
    return {};
}

Status ButtonSettingsModel::SetRapidFireInterval(int ms) {
    if (Status ok = RequireType({kTypeRapidFire}, "rapid fire interval"); !ok) return ok;
    if (ms < kMinRapidFireMs || ms > kMaxRapidFireMs) {
        return OutOfRange("rapid fire interval (ms)", ms, kMinRapidFireMs, kMaxRapidFireMs);
    }
    current_.op2 = static_cast<uint8_t>(ms);
    return {};
}

Status ButtonSettingsModel::SetMacro(int slot, int mode) {
    if (slot < 0 || slot >= kMacroSlotCount)
        return OutOfRange("macro slot", slot, 0, kMacroSlotCount - 1);
    if (mode < kMinMacroMode || mode > kMaxMacroMode) {
        return OutOfRange("macro mode", mode, kMinMacroMode, kMaxMacroMode);
    }
    const MacroSlot& macro = macros_[static_cast<std::size_t>(slot)];
    if (macro.Empty())
        return MakeError(ErrorKind::BadInput, "macro slot " + std::to_string(slot) + " is empty");
    current_ =
        MacroButtonFunction(static_cast<uint8_t>(mode), static_cast<uint32_t>(macro.codeAddress));
    selectedClass_ = FunctionClass::Macro;
    const auto list = Entries(FunctionClass::Macro);
    const auto hit = std::find_if(list.begin(), list.end(),
                                  [&](const FunctionEntry& e) { return e.macroSlot == slot; });
    if (hit != list.end()) {
        selectedEntry_ = static_cast<int>(hit - list.begin());
    } else {
        selectedEntry_.reset();
    }
    return {};
}

Status ButtonSettingsModel::AppendKeyCycle(KeyCycleEntry entry) {
    if (static_cast<int>(keyCycle_.size()) >= kKeyCycleAppendLimit) {
        return MakeError(ErrorKind::BadInput,
                         "the key-cycle list is full: keys are added only while it holds fewer "
                         "than " +
                             std::to_string(kKeyCycleAppendLimit));
    }
    if (entry.usage == 0 && entry.modifiers == 0) {
        return MakeError(ErrorKind::BadInput, "a key-cycle entry needs a key or a modifier");
    }
    if (entry.usage != 0 && KeyName(entry.usage).empty()) {
        return MakeError(ErrorKind::BadInput,
                         "usage " + std::to_string(entry.usage) + " is not a known key");
    }
    keyCycle_.push_back(entry);
    return {};
}

Status ButtonSettingsModel::RemoveLastKeyCycle() {
    if (keyCycle_.empty())
        return MakeError(ErrorKind::BadInput, "the key-cycle list is already empty");
    keyCycle_.pop_back();
    return {};
}

Status ButtonSettingsModel::Validate(const ButtonSlot& s) const {
    switch (s.type) {
        case kTypeKeyboard:
            if (s.op1 == 0 && s.op2 == 0)
                return MakeError(ErrorKind::BadInput, "choose a key or a modifier");
            if (s.op2 != 0 && KeyName(s.op2).empty()) {
                return MakeError(ErrorKind::BadInput,
                                 "usage " + std::to_string(s.op2) + " is not a known key");
            }
            return {};
        case kTypeConsumer:
            if (s.op1 == 0 && s.op2 == 0)
                return MakeError(ErrorKind::BadInput, "choose a consumer key");
            return {};
        case kTypeDpiFirekey:
        case kTypeDpiHotkey: {
            const std::pair<uint8_t, uint8_t> xy{s.op1, s.op2};
            if (std::find(kAxisLocks.begin(), kAxisLocks.end(), xy) != kAxisLocks.end()) return {};
            for (int v : {int{s.op1}, int{s.op2}}) {
                if (v < 1 || v > dpiStepCount_) {
                    return OutOfRange("DPI value (in steps of " + std::to_string(dpiStep_) + ")", v,
                                      1, dpiStepCount_);
                }
            }
            return {};
        }
        case kTypeFireButton:
            if (s.op2 > kMaxFireIntervalUnits) {
                return OutOfRange("fire interval (10 ms units)", s.op2, 0, kMaxFireIntervalUnits);
            }
            return {};
        case kTypeRapidFire:
            if (s.op2 < kMinRapidFireMs) {
                return OutOfRange("rapid fire interval (ms)", s.op2, kMinRapidFireMs,
                                  kMaxRapidFireMs);
            }
            return {};
        default:
            break;
    }
    if (IsMacroType(s.type) && s.op3 != kBuiltinMacroMarker && s.op1 == 0 && s.op2 == 0) {
        return MakeError(ErrorKind::BadInput, "choose a macro");
    }
    if (s.type >= kTypeEnd)
        return MakeError(ErrorKind::BadInput,
                         "function type " + std::to_string(s.type) + " is unknown");
    return {};
}

Result<ButtonSlot> ButtonSettingsModel::Chosen() const {
    if (Status ok = Validate(current_); !ok) return ok.error();
    return current_;
}

}  // namespace qvm
