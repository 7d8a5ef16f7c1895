#include "lang/linux_keycodes.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <array>

namespace qvm {
namespace {

constexpr int kExtended = 0xE000;

// The main block of the keyboard (Esc .. keypad '.', the 102nd key, F11 and F12): evdev
// numbers these keys with their set-1 scan codes, so the code passes through unchanged.
struct PassThroughRange {
    int first;
    int last;
};
constexpr std::array<PassThroughRange, 2> kPassThrough = {{
    {KEY_ESC, KEY_KPDOT},
    {KEY_102ND, KEY_F12},
}};

struct KeyRow {
    int evdev;
    int set1;
};

// Keys whose scan code differs from the evdev number. Looked up before the pass-through
// ranges, so Num Lock (inside the main block) takes its entry from here.
constexpr std::array<KeyRow, 22> kSpecialKeys = {{
    {KEY_NUMLOCK, kExtended | 0x45},
    {KEY_KPENTER, kExtended | 0x1C},
    {KEY_RIGHTCTRL, kExtended | 0x1D},
    {KEY_KPSLASH, kExtended | 0x35},
    {KEY_SYSRQ, kExtended | 0x37},
    {KEY_RIGHTALT, kExtended | 0x38},
    {KEY_HOME, kExtended | 0x47},
    {KEY_UP, kExtended | 0x48},
    {KEY_PAGEUP, kExtended | 0x49},
    {KEY_LEFT, kExtended | 0x4B},
    {KEY_RIGHT, kExtended | 0x4D},
    {KEY_END, kExtended | 0x4F},
    {KEY_DOWN, kExtended | 0x50},
    {KEY_PAGEDOWN, kExtended | 0x51},
    {KEY_INSERT, kExtended | 0x52},
    {KEY_DELETE, kExtended | 0x53},
    {KEY_PAUSE, 0x45},
    {KEY_HANGEUL, 0x72},
    {KEY_HANJA, 0x71},
    {KEY_LEFTMETA, kExtended | 0x5B},
    {KEY_RIGHTMETA, kExtended | 0x5C},
    {KEY_COMPOSE, kExtended | 0x5D},  // the context-menu key
}};

}  // namespace

int X11KeycodeToEvdev(int x11Keycode) {
    return x11Keycode - kX11KeycodeOffset;
}

std::optional<int> EvdevToSet1ScanCode(int evdevCode) {
    const auto special = std::find_if(kSpecialKeys.begin(), kSpecialKeys.end(),
                                      [&](const KeyRow& row) { return row.evdev == evdevCode; });
    if (special != kSpecialKeys.end()) return special->set1;
    for (const PassThroughRange& range : kPassThrough) {
        if (evdevCode >= range.first && evdevCode <= range.last) return evdevCode;
    }
    return std::nullopt;
}

}  // namespace qvm
