#include "platform/pointer_acceleration.h"

#include <algorithm>
#include <utility>

namespace qvm {
namespace {

// Notices that keep coming while the devices are changed (a device that is plugged in and
// out again and again) are followed this many rounds per call; the rest wait for the next.
constexpr int kMaxFollowRounds = 4;

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += "; ";
        text += part;
    }
    return text;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> SelectAccelProfile(std::span<const std::uint8_t> enabled,
                                                            std::span<const std::uint8_t> available,
                                                            AccelProfile profile) {
    const auto index = static_cast<std::size_t>(profile);
    if (enabled.size() <= index) return std::nullopt;
    if (!available.empty() && (available.size() <= index || available[index] == 0)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> value(enabled.size(), 0);
    value[index] = 1;
    return value;
}

bool IsQvmPointer(const PointerDevice& device) {
    return device.vendor == kQvmUsbVendor;
}

PointerAcceleration::PointerAcceleration(std::unique_ptr<PointerDevices> devices)
    : devices_(std::move(devices)) {}

PointerAcceleration::PointerAcceleration(std::string reason) : reason_(std::move(reason)) {}

PointerAcceleration::~PointerAcceleration() {
    if (holding_ || !known_.empty()) (void)Release();
}

Status PointerAcceleration::Hold() {
    if (!devices_) return MakeError(reason_);
    holding_ = true;
    (void)TakeNotices();  // the list below sees whatever they announced
    Status flattened = Flatten();
    if (Status followed = FollowChanges(); flattened && !followed) flattened = std::move(followed);
    return flattened;
}

Status PointerAcceleration::Release() {
    if (!devices_) return MakeError(reason_);
    holding_ = false;
    (void)TakeNotices();
    if (known_.empty()) return {};
    const Result<std::vector<PointerDevice>> present = devices_->List();
    if (!present) {
        // Kept, so that a later release (at the latest when the program quits) tries again.
        return MakeError("the mouse acceleration could not be put back: " + present.message());
    }
    std::vector<std::string> failures;
    for (const PointerDevice& device : *present) {
        const Known* known = Find(device);
        // Devices that left took their settings with them; one whose profile someone else
        // changed meanwhile keeps that change.
        if (known == nullptr || known->before.empty() || device.profile != known->set) continue;
        if (known->before == known->set) continue;
        if (Status put = devices_->SetProfile(device.id, known->before); !put) {
            failures.push_back(Quoted(device.name) + ": " + put.message());
        }
    }
    known_.clear();
    (void)TakeNotices();
    if (!failures.empty()) {
        return MakeError("the mouse acceleration could not be put back for " + Joined(failures));
    }
    return {};
}

Status PointerAcceleration::FollowChanges() {
    if (!devices_) return {};
    Status result;
    for (int round = 0; round < kMaxFollowRounds && TakeNotices(); ++round) {
        if (!holding_) continue;
        // Only the latest round's failures are still true.
        result = Flatten();
    }
    return result;
}

Status PointerAcceleration::Flatten() {
    const Result<std::vector<PointerDevice>> present = devices_->List();
    if (!present) {
        return MakeError("the mouse acceleration was left unchanged: " + present.message());
    }
    Forget(*present);
    std::vector<std::string> failures;
    for (const PointerDevice& device : *present) {
        if (!device.enabled || !IsQvmPointer(device) || Find(device) != nullptr) continue;
        // Remembered even when it cannot be changed, so that its failure is told once.
        Known& known = known_.emplace_back(Known{device.id, device.node, device.name, {}, {}});
        if (device.profile.empty()) {
            failures.push_back(Quoted(device.name) + " is not driven by libinput");
            continue;
        }
        const auto flat = SelectAccelProfile(device.profile, device.available, AccelProfile::kFlat);
        if (!flat) {
            failures.push_back(Quoted(device.name) + " has no flat acceleration profile");
            continue;
        }
        if (*flat != device.profile) {
            if (Status set = devices_->SetProfile(device.id, *flat); !set) {
                failures.push_back(Quoted(device.name) + ": " + set.message());
                continue;
            }
        }
        known.before = device.profile;
        known.set = *flat;
    }
    if (!failures.empty()) {
        return MakeError("the mouse acceleration stays on for " + Joined(failures));
    }
    return {};
}

bool PointerAcceleration::TakeNotices() {
    const PointerNotices notices = devices_->TakeChanges();
    std::erase_if(known_, [&](const Known& known) {
        return std::find(notices.removed.begin(), notices.removed.end(), known.id) !=
               notices.removed.end();
    });
    return notices.changed;
}

void PointerAcceleration::Forget(const std::vector<PointerDevice>& present) {
    std::erase_if(known_, [&](const Known& known) {
        return std::none_of(present.begin(), present.end(), [&](const PointerDevice& device) {
            return device.id == known.id && device.node == known.node && device.name == known.name;
        });
    });
}

const PointerAcceleration::Known* PointerAcceleration::Find(const PointerDevice& device) const {
    const auto it = std::find_if(known_.begin(), known_.end(), [&](const Known& known) {
        return known.id == device.id && known.node == device.node && known.name == device.name;
    });
    return it == known_.end() ? nullptr : &*it;
}

}  // namespace qvm
