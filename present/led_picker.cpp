#include "present/led_picker.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

namespace qvm {

PickerMode LedPickerMode(const LedColour& record) {
    if (IsLedOff(record)) return PickerMode::Off;
    if ((record.flags & kLedOwnColour) == 0) return PickerMode::ProfileColour;
    if ((record.flags & kLedBreathing) != 0) return PickerMode::Breathing;
    return PickerMode::On;
}

Result<LedPicker> LedPicker::Open(ConfigModel& model, std::vector<int> leds) {
    auto table = LoadedLedTable(model);
    if (!table) return table.error();
    return FromTable(*table, LedProfileColour(*model.Snapshot()), std::move(leds));
}

Result<LedPicker> LedPicker::FromTable(const LedTable& stored, Rgb profileColour,
                                       std::vector<int> leds) {
    if (leds.empty()) return MakeError(ErrorKind::BadInput, "no LED was chosen");
    std::vector<int> unique;
    for (int led : leds) {
        if (led < 0 || led >= kLedCount) {
            return MakeError(
                ErrorKind::BadInput,
                "LED " + std::to_string(led) + " is outside 0 to " + std::to_string(kLedCount - 1));
        }
        if (std::find(unique.begin(), unique.end(), led) == unique.end()) unique.push_back(led);
    }
    return LedPicker(std::move(unique), stored, profileColour);
}

LedPicker::LedPicker(std::vector<int> leds, const LedTable& stored, Rgb profileColour)
    : leds_(std::move(leds)), stored_(stored), profileColour_(profileColour) {}

ColourPickerSetup LedPicker::Setup() const {
    const LedColour& first = stored_[static_cast<std::size_t>(leds_.front())];
    ColourPickerSetup setup;
    setup.initialMode = LedPickerMode(first);
    // An LED that follows the profile shows the profile's colour, whatever its record holds.
    setup.initial = setup.initialMode == PickerMode::ProfileColour
                        ? profileColour_
                        : Rgb{first.red, first.green, first.blue};
    setup.profileColour = profileColour_;
    return setup;
}

std::vector<LedEdit> LedPicker::Stored() const {
    std::vector<LedEdit> edits;
    for (int led : leds_) edits.push_back({led, stored_[static_cast<std::size_t>(led)]});
    return edits;
}

namespace {

LedColour Apply(const LedColour& record, const PickerChoice& choice, Rgb profileColour) {
    switch (choice.mode) {
        case PickerMode::Colour:
            return WithLedColour(record, choice.colour);
        case PickerMode::Breathing:
            return WithLedColour(ApplyLedMode(record, LedMode::Breathing, profileColour),
                                 choice.colour);
        case PickerMode::On:
            return WithLedColour(ApplyLedMode(record, LedMode::On, profileColour), choice.colour);
        case PickerMode::Off:
            return ApplyLedMode(record, LedMode::Off, profileColour);
        case PickerMode::ProfileColour:
            return ApplyLedMode(record, LedMode::Profile, profileColour);
    }
    return record;
}

}  // namespace

std::vector<LedEdit> LedPicker::Edited(const PickerChoice& choice) const {
    std::vector<LedEdit> edits = Stored();
    for (LedEdit& edit : edits) edit.record = Apply(edit.record, choice, profileColour_);
    return edits;
}

namespace {

// Calls its function once, when the last copy of the task holding it goes: after the task
// ran, or when the hub refused or dropped it without running it.
class Completion {
  public:
    explicit Completion(std::function<void()> done) : done_(std::move(done)) {}
    ~Completion() {
        if (done_) done_();
    }
    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;

  private:
    std::function<void()> done_;
};

}  // namespace

DeviceHub::ModelTask LedPicker::PreviewTask(const PickerChoice& choice,
                                            std::function<void()> finished) const {
    auto completion = std::make_shared<Completion>(std::move(finished));
    return [edits = Edited(choice), completion](ConfigModel& model, const DeviceHub::ProgressFn&) {
        return PreviewLedColours(model, edits);
    };
}

DeviceHub::ModelTask LedPicker::RestoreTask() const {
    return [edits = Stored()](ConfigModel& model, const DeviceHub::ProgressFn&) {
        return PreviewLedColours(model, edits);
    };
}

DeviceHub::ModelTask LedPicker::StoreTask(const PickerChoice& choice) const {
    return [edits = Edited(choice)](ConfigModel& model, const DeviceHub::ProgressFn&) {
        return StoreLedColours(model, edits);
    };
}

}  // namespace qvm
