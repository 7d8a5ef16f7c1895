// The colour picker at work on a mouse's LEDs: which LEDs are edited (one, or a selection
// that every edit applies to), the records they start from, the records a choice of the
// picker gives them, and the three kinds of device work as hub model tasks:
//
//   - preview: shows the edited records at once, stores nothing;
//   - restore (Cancel): shows the stored records again, so the LEDs are what the memory
//     holds, which stays untouched;
//   - store (OK): stores the edited records, all LEDs in one call.
//
// The records come from the lighting layer's own rules (ApplyLedMode, WithLedColour and
// the current profile's colour); nothing here decides what a mode does to a record.
#pragma once

#include <functional>
#include <vector>

#include "base/result.h"
#include "lighting/mouse_lighting.h"
#include "present/colour_picker_model.h"
#include "session/device_hub.h"

namespace qvm {

// How an LED's record reads in the picker's terms.
PickerMode LedPickerMode(const LedColour& record);

class LedPicker {
  public:
    // The LEDs `leds` (listed once each, in the order given) of the mouse `model` holds,
    // starting from its loaded LED table. BadInput for no LED, an LED outside 0 to 15, or
    // a mouse without LED colours.
    static Result<LedPicker> Open(ConfigModel& model, std::vector<int> leds);
    // The same from a table already read; `profileColour` is the current profile's.
    static Result<LedPicker> FromTable(const LedTable& stored, Rgb profileColour,
                                       std::vector<int> leds);

    const std::vector<int>& Leds() const { return leds_; }
    // The picker starts from the first LED: its colour and mode.
    ColourPickerSetup Setup() const;

    // The records as stored, and as `choice` makes them: a colour becomes each LED's own
    // colour (breathing as each LED had it); "Breathing" and "ON" give each the chosen
    // colour, breathing or steady; "OFF" darkens each; the profile swatch makes each
    // follow the profile's colour.
    std::vector<LedEdit> Stored() const;
    std::vector<LedEdit> Edited(const PickerChoice& choice) const;

    // `finished` (may be empty) completes the preview in flight: it is called once, when
    // the hub is done with the task (it ran, or it was refused or dropped unrun), on the
    // thread that lets the task go (the hub's worker, or the one destroying the hub).
    DeviceHub::ModelTask PreviewTask(const PickerChoice& choice,
                                     std::function<void()> finished = {}) const;
    DeviceHub::ModelTask RestoreTask() const;
    DeviceHub::ModelTask StoreTask(const PickerChoice& choice) const;

  private:
    LedPicker(std::vector<int> leds, const LedTable& stored, Rgb profileColour);

    std::vector<int> leds_;
    LedTable stored_{};
    Rgb profileColour_;
};

}  // namespace qvm
