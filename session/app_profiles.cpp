#include "session/app_profiles.h"

#include <algorithm>

namespace qvm {

std::optional<int> MatchAppSlot(std::span<const AppSlot> slots, std::string_view programName) {
    if (programName.empty()) return std::nullopt;
    const std::size_t count = std::min(slots.size(), kStoredAppSlots);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view path = slots[i].path;
        // The last n characters of the path, n being the name's length (the whole path
        // when it is shorter, which then cannot equal the name).
        const std::string_view tail =
            path.size() > programName.size() ? path.substr(path.size() - programName.size()) : path;
        if (tail == programName) return static_cast<int>(i);
    }
    return std::nullopt;
}

bool ForegroundSwitch::NewWindow(unsigned long window) {
    if (window == 0 || window == remembered_) return false;
    remembered_ = window;
    return true;
}

std::optional<int> ForegroundSwitch::ProfileToSelect(std::optional<int> matched,
                                                     int currentProfile) {
    if (!matched || *matched == currentProfile) return std::nullopt;
    return matched;
}

AppProfiles::AppProfiles(DeviceHub& hub, std::unique_ptr<ForegroundWatcher> watcher,
                         std::string whyNone, ProgramNameFn programName)
    : hub_(hub),
      watcher_(std::move(watcher)),
      unavailable_(watcher_ ? std::string() : std::move(whyNone)),
      programName_(programName) {
    if (!watcher_ && unavailable_.empty()) unavailable_ = "the window in use cannot be told";
}

std::unique_ptr<AppProfiles> AppProfiles::OpenForDesktop(DeviceHub& hub) {
    auto watcher = OpenForegroundWatcher();
    if (!watcher) return std::make_unique<AppProfiles>(hub, nullptr, watcher.message());
    return std::make_unique<AppProfiles>(hub, std::move(watcher).value(), std::string());
}

void AppProfiles::SetSlots(std::span<const AppSlot> slots) {
    slots_ = {};
    std::copy_n(slots.begin(), std::min(slots.size(), slots_.size()), slots_.begin());
}

int AppProfiles::Fd() const {
    return watcher_ ? watcher_->Fd() : -1;
}

AppSwitchResult AppProfiles::HandleReadable() {
    if (!watcher_) return {};
    auto foreground = watcher_->Read();
    if (!foreground) {
        // The window shows why profiles stopped following programs.
        unavailable_ = foreground.message();
        return {};
    }
    unavailable_.clear();
    return OnForeground(*foreground);
}

AppSwitchResult AppProfiles::OnForeground(const Foreground& foreground) {
    AppSwitchResult result;
    if (!switch_.NewWindow(foreground.window) || foreground.pid <= 0) return result;
    auto name = programName_(foreground.pid);
    if (!name || name->empty()) return result;
    result.program = *name;
    const std::optional<int> matched = MatchAppSlot(slots_, *name);
    if (!matched) return result;
    const HubSnapshot view = hub_.Snapshot();
    if (!view.present || view.away || view.keyboard || view.uninitialised || !view.image ||
        !view.image->loaded) {
        // Decided once a mouse is loaded (the program in front when qvm-gaming starts).
        switch_.Forget();
        return result;
    }
    result.profile = ForegroundSwitch::ProfileToSelect(matched, view.image->currentProfile);
    if (!result.profile) return result;
    const int profile = *result.profile;
    // A change queued before this one may have selected the profile meanwhile: the
    // worker looks again so the device is not written for nothing.
    hub_.Change(HubOperation::ActiveProfile,
                [profile](ConfigModel& model, const DeviceHub::ProgressFn&) -> Status {
                    if (model.Snapshot()->currentProfile == profile) return {};
                    return model.SetActiveProfile(profile);
                });
    return result;
}

}  // namespace qvm
