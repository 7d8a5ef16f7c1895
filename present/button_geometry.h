// Where the button page draws and hit-tests each button position of a layout: the label
// boxes beside the drawn mouse, in pixels of the 1024 x 600 main window. The device's model
// decides the layout (device/model_table); the boxes belong to the window's look.
#pragma once

#include <array>

#include "device/model_table.h"

namespace qvm {

// One label box, in window pixels.
struct Hotspot {
    float x = 0;
    float y = 0;
    float w = 0;
    float h = 0;

    bool operator==(const Hotspot&) const = default;
};

// The boxes of a layout (0..13) by button position; positions the layout does not show
// have empty boxes. Throws std::out_of_range for other indexes.
const std::array<Hotspot, kLayoutPositions>& ButtonHotspots(int layoutIndex);

}  // namespace qvm
