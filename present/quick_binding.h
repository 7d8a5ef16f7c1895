// Quick binding: the main window's shortcut for giving a button a key combination or a
// mouse button. A click on a button's binding area starts a 10-second countdown; the
// next key combination or mouse button pressed becomes that button's function. The
// window forwards keys (as set-1 scan codes), mouse presses and its 100-ms timer ticks,
// and acts on what each call returns: on kCancelled or kBound it stops the countdown
// timer and releases the keyboard and mouse; on kBound it also assigns the slot to the
// button in the current profile.
#pragma once

#include <cstdint>
#include <string>

#include "base/result.h"
#include "config/button_slot.h"
#include "lang/ui_strings.h"

namespace qvm {

// Modifier bits of a keyboard function (operand 1 of a keyboard slot).
enum ModifierBit : uint8_t {
    kModLeftCtrl = 0x01,
    kModLeftShift = 0x02,
    kModLeftAlt = 0x04,
    kModLeftWin = 0x08,
    kModRightCtrl = 0x10,
    kModRightShift = 0x20,
    kModRightAlt = 0x40,
    kModRightWin = 0x80,
};

// The modifier bit of a set-1 scan code; 0 when the key is no modifier.
uint8_t ModifierBitOf(int set1ScanCode);

// Mouse buttons as a mask: left 1, right 2, middle 4, button 4 8, button 5 16.
inline constexpr uint32_t kBindableMouseButtons = 0x1F;

struct QuickBindingResult {
    enum class Kind { kNothing, kCancelled, kBound };

    Kind kind = Kind::kNothing;
    int button = -1;  // the button bound (kBound only)
    ButtonSlot slot;  // its new function (kBound only)

    bool Ended() const { return kind != Kind::kNothing; }
    bool operator==(const QuickBindingResult&) const = default;
};

class QuickBinding {
  public:
    static constexpr int kTickMs = 100;
    static constexpr int kCountdownTicks = 100;  // 10 seconds
    static constexpr int kTicksPerSecond = 1000 / kTickMs;
    static constexpr int kMaxButtons = 32;  // buttons per profile in the largest layout

    // Starts binding `button` (0..31), replacing a binding in progress; clears the
    // modifiers collected so far.
    Status Start(int button);

    // A key went down / up. Keys with no HID usage leave a binding waiting.
    QuickBindingResult KeyDown(int set1ScanCode);
    QuickBindingResult KeyUp(int set1ScanCode);
    // Mouse buttons pressed in one input event (bits beyond the five bindable ones are
    // ignored).
    QuickBindingResult MouseButtons(uint32_t pressedMask);
    // One 100-ms tick of the countdown; the last one cancels the binding.
    QuickBindingResult Tick();
    QuickBindingResult Cancel();

    bool Active() const { return button_ >= 0; }
    int Button() const { return button_; }
    int TicksLeft() const { return ticks_; }
    // Whole seconds left, rounded up, for the countdown prompt.
    int SecondsLeft() const { return (ticks_ + kTicksPerSecond - 1) / kTicksPerSecond; }
    uint8_t HeldModifiers() const { return held_; }

  private:
    QuickBindingResult Bind(ButtonSlot slot);
    QuickBindingResult BindKey(int set1ScanCode);

    int button_ = -1;
    int ticks_ = 0;
    uint8_t held_ = 0;        // modifiers down now
    uint8_t remembered_ = 0;  // modifiers down at the last key press
};

// "%d sec, Press keyboard or click mouse button for binding" in the language in force.
std::string QuickBindingPrompt(const UiStrings& ui, int secondsLeft);

}  // namespace qvm
