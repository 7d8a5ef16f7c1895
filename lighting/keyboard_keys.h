// Which device key each key of the key picture is, and its kind. The keyboards address a
// key's colour by its HID keyboard usage (1 to 255; a key without one has no light), so
// the picture drawn from keyboard.ini and the device agree without a table of their own.
// The kind groups keys for RESET, which lights the game keys (kind 3) red.
#pragma once

#include <cstdint>
#include <vector>

#include "lang/keyboard_layout.h"
#include "lighting/keyboard_lighting.h"

namespace qvm {

enum class LightKeyKind : uint8_t {
    Ordinary = 0,
    Modifier = 1,  // Control, Shift, Alt, Win on either side
    Function = 2,  // F1 to F24
    Game = 3,      // W, A, S, D and the four arrows
};
static_assert(static_cast<uint8_t>(LightKeyKind::Game) == kResetRedKeyKind);

LightKeyKind LightKeyKindOf(int usage);

// The lit keys of `layout` with their kinds, in layout order, each usage once.
std::vector<KeyOfKind> LightingKeys(const KeyboardLayout& layout);

}  // namespace qvm
