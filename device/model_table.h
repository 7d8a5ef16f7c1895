// Per-model facts of an identified device: which button layout is drawn, how many
// buttons it has, which configuration slot each displayed button position edits, the
// model's display name and a few model switches.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/device_values.h"

namespace qvm {

inline constexpr int kLayoutCount = 14;
inline constexpr int kLayoutPositions = 32;

struct ModelLayout {
    int LayoutIndex = 0;       // 0..13: button order and the window's label geometry
    int ButtonCount = 10;      // physical buttons: the first ButtonCount positions
    int ButtonListCount = 13;  // reported with ButtonOrder by the network service
    std::array<int, kLayoutPositions> ButtonOrder{};  // position -> configuration slot
    int SpecialButtonIndex = -1;              // position offered one extra function; -1: none
    bool GamepadVariantFlag = false;          // the game-pad functions are offered
    std::array<bool, 2> KeyboardModeFlags{};  // keyboard models
    int32_t IdentByte4 = 0;                   // kept for the main window's drawing

    bool operator==(const ModelLayout&) const = default;
};

// The layout of a device from its probed values. Pure: the caller keeps the result.
ModelLayout DecideModelLayout(const DeviceValues& device);

// The name shown for a device: the product name of a keyboard, otherwise the model
// table's entry for its model code.
std::string GetModelName(const DeviceValues& device);

// The button order row of a layout (0..13), as stored.
const std::array<int, kLayoutPositions>& LayoutOrderRow(int row);

}  // namespace qvm
