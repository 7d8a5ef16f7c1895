#include "present/quick_binding.h"

#include <array>
#include <string>
#include <vector>

#include "config/catalogue.h"
#include "lang/scancodes.h"
#include "macro/macro_describe.h"

namespace qvm {
namespace {

struct ModifierKey {
    int scanCode;
    uint8_t bit;
};

// 0xE02A is the shift code some keyboards send around extended keys; it counts as the
// right Shift, like 0x36.
constexpr std::array<ModifierKey, 9> kModifierKeys = {{
    {0x1D, kModLeftCtrl},
    {0x2A, kModLeftShift},
    {0x38, kModLeftAlt},
    {0xE05B, kModLeftWin},
    {0xE01D, kModRightCtrl},
    {0x36, kModRightShift},
    {0xE02A, kModRightShift},
    {0xE038, kModRightAlt},
    {0xE05C, kModRightWin},
}};

// The binding prompt of the msg_str table.
constexpr std::size_t kBindingPromptMessage = 38;

}  // namespace

uint8_t ModifierBitOf(int set1ScanCode) {
    for (const ModifierKey& key : kModifierKeys) {
        if (key.scanCode == set1ScanCode) return key.bit;
    }
    return 0;
}

Status QuickBinding::Start(int button) {
    if (button < 0 || button >= kMaxButtons) {
        return MakeError("quick binding: button " + std::to_string(button) + " is outside 0.." +
                         std::to_string(kMaxButtons - 1));
    }
    button_ = button;
    ticks_ = kCountdownTicks;
    held_ = 0;
    remembered_ = 0;
    return {};
}

QuickBindingResult QuickBinding::KeyDown(int set1ScanCode) {
    const uint8_t bit = ModifierBitOf(set1ScanCode);
    held_ |= bit;
    remembered_ = held_;
    if (!Active() || bit != 0) return {};
    return BindKey(set1ScanCode);
}

QuickBindingResult QuickBinding::KeyUp(int set1ScanCode) {
    const uint8_t bit = ModifierBitOf(set1ScanCode);
    held_ &= static_cast<uint8_t>(~bit);
    if (!Active()) return {};
    if (bit == 0) return BindKey(set1ScanCode);
    // The last modifier let go completes a modifiers-only combination. A release of a
    // modifier that was already down before the binding started has nothing to bind.
    if (held_ == 0 && remembered_ != 0) return Bind({kTypeKeyboard, remembered_, 0, 0});
    return {};
}

QuickBindingResult QuickBinding::MouseButtons(uint32_t pressedMask) {
    const uint32_t mask = pressedMask & kBindableMouseButtons;
    if (!Active() || mask == 0) return {};
    return Bind({kTypeMouse, static_cast<uint8_t>(mask), 0, 0});
}

QuickBindingResult QuickBinding::Tick() {
    if (!Active()) return {};
    if (--ticks_ > 0) return {};
    return Cancel();
}

QuickBindingResult QuickBinding::Cancel() {
    if (!Active()) return {};
    button_ = -1;
    ticks_ = 0;
    return {QuickBindingResult::Kind::kCancelled, -1, {}};
}

QuickBindingResult QuickBinding::BindKey(int set1ScanCode) {
    const int usage = ScanCodeToUsage(set1ScanCode);
    if (usage <= 0) return {};  // a key the device cannot send: keep waiting
    return Bind({kTypeKeyboard, remembered_, static_cast<uint8_t>(usage), 0});
}

QuickBindingResult QuickBinding::Bind(ButtonSlot slot) {
    const int button = button_;
    button_ = -1;
    ticks_ = 0;
    return {QuickBindingResult::Kind::kBound, button, slot};
}

std::string QuickBindingPrompt(const UiStrings& ui, int secondsLeft) {
    const std::vector<std::string> args = {std::to_string(secondsLeft)};
    return FillTextTemplate(ui.msg_str[kBindingPromptMessage], args);
}

}  // namespace qvm
