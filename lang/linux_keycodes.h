// Keys as Linux reports them -> keyboard scan codes (set 1, extended keys as 0xE000 plus
// the code), the form quick binding, the on-screen keyboard and the macro recorder work
// in. Qt's native scan code on X11 (xcb) and on Wayland is the X keycode, which is the
// evdev key code plus 8; XInput2 raw key events carry the same X keycode.
#pragma once

#include <optional>

namespace qvm {

// X keycodes are evdev key codes shifted by this much.
inline constexpr int kX11KeycodeOffset = 8;

// The evdev key code of an X keycode (code - 8). Codes below 9 give a value that
// EvdevToSet1ScanCode rejects.
int X11KeycodeToEvdev(int x11Keycode);

// The set-1 scan code of an evdev key code; nullopt for keys that have none (media keys,
// unknown or out-of-range codes).
//
// Pause and Num Lock follow this program's scan-code table rather than the hardware's
// prefix sequences: Pause is 0x45 (HID usage 0x48) and Num Lock is 0xE045 (HID usage
// 0x53). Print Screen (also SysRq, Alt+Print Screen) is 0xE037.
std::optional<int> EvdevToSet1ScanCode(int evdevCode);

}  // namespace qvm
