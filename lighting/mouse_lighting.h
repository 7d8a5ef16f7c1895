// Mouse lighting on the device: the lighting effect number and the per-LED colours.
//
// Every call works on the loaded configuration of one mouse through its ConfigModel: it
// runs under the model's work lock (so it never overlaps a load, a reset or another
// write), refuses a model that has not been loaded, and keeps the model's stored bytes
// in step with what reached the device memory. They fit DeviceHub::Change as model tasks.
//
// Errors: ErrorKind::BadInput for a value outside its range or a mouse without the
// feature (nothing is sent then); the device's own failure kind (DeviceGone, DeviceBusy,
// DeviceSilent...) when an exchange failed, with what went out said in the message.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"
#include "config/config_image.h"
#include "lighting/led_colours.h"

namespace qvm {

// ---- Lighting effect (0 to 4, protocol generations 3 and above) ----
inline constexpr int kMaxMouseLightingEffect = 4;

// The effect stored in the loaded image (configuration byte 0x11). BadInput for a mouse
// without lighting effects or an image that does not reach that byte.
Result<int> MouseLightingEffect(const ConfigImage& image);

// Writes the effect byte to memory and tells the device (generations 3 to 10 inside the
// update bracket, reply after 10 ms): 0x11 <- e, then 0x01 0x04 0x03 0x01 e (generations
// 3 to 10) or 0x12 e (11 and above). An effect outside 0 to 4, or a mouse below
// generation 3, is refused with BadInput and nothing is sent: values are never clamped.
Status SetMouseLightingEffect(ConfigModel& model, int effect);

// ---- LED colours (up to 16 LEDs) ----
struct LedEdit {
    int led = 0;  // 0 to 15
    LedColour record;

    bool operator==(const LedEdit&) const = default;
};

// The extra byte of the generation 3 to 10 preview command; the devices take 0.
inline constexpr uint8_t kLedPreviewExtra = 0x00;

// Shows each record on its LED at once without storing it: generations 3 to 10 send
// 0x01 0x08 0x02 led 0x00 flags red green blue, generations 11 and above 0x13 led flags
// red green blue; no reply is read. The stored colours come back when the device reloads
// its settings (or a StoreLedColours). Nothing of the image changes.
Status PreviewLedColours(ConfigModel& model, std::span<const LedEdit> edits);

// Stores each record in the LED table. Generations 3 to 10: for each LED, inside the
// update bracket, the 4 bytes at 0x460 + 4 * led in one block, then the lighting refresh
// 0x01 0x04 0x03 0x00. Generations 11 and above: the 4 bytes at 0x500 + 4 * led. Stops at
// the first LED the device does not take; the image holds the LEDs stored before it.
Status StoreLedColours(ConfigModel& model, std::span<const LedEdit> edits);

// One LED: the same as a list of one.
Status PreviewLedColour(ConfigModel& model, int led, const LedColour& record);
Status StoreLedColour(ConfigModel& model, int led, const LedColour& record);

// The colour the profile mode copies in: the current profile's colour.
Rgb LedProfileColour(const ConfigImage& image);

// The LED table as the loaded image holds it (no device traffic).
Result<LedTable> LoadedLedTable(ConfigModel& model);
// The same from a snapshot of the image, without the model's lock: what the windows show.
Result<LedTable> LedTableOf(const ConfigImage& image);
// Reads the 64 bytes of the table from the device (not from the cache; generations 3 to
// 10 inside the update bracket) and keeps them in the image.
Result<LedTable> ReadLedTable(ConfigModel& model);

// Both LED calls refuse (BadInput, nothing sent) a mouse without an LED table, an LED
// outside 0 to 15, and an empty list.

}  // namespace qvm
