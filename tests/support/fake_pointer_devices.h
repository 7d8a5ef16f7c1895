// A desktop's pointer devices held by the test. Connect() gives the view a
// PointerAcceleration works through; every profile change is recorded as
// "set ID FLAGS" ("set 12 0,1") and lands in `devices`, as a desktop would keep it.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/pointer_acceleration.h"

namespace qvm::test {

struct FakePointerDesktop {
    std::vector<PointerDevice> devices;
    std::vector<std::string> calls;
    bool failList = false;
    std::set<int> refuse;    // devices whose profile change the desktop refuses
    PointerNotices pending;  // announced by the next TakeChanges()
    int changeFd = -1;       // offered as the notice descriptor; drained by TakeChanges()

    std::unique_ptr<PointerDevices> Connect();

    PointerDevice& Device(int id) {
        return *std::find_if(devices.begin(), devices.end(),
                             [id](const PointerDevice& device) { return device.id == id; });
    }
    void Remove(int id) {
        std::erase_if(devices, [id](const PointerDevice& device) { return device.id == id; });
        pending.changed = true;
        pending.removed.push_back(id);
    }
    void Add(PointerDevice device) {
        devices.push_back(std::move(device));
        pending.changed = true;
    }
};

inline std::string ProfileText(const std::vector<std::uint8_t>& flags) {
    std::string text;
    for (std::uint8_t flag : flags) text += (text.empty() ? "" : ",") + std::to_string(flag);
    return text;
}

class FakePointerDevices final : public PointerDevices {
  public:
    explicit FakePointerDevices(FakePointerDesktop& desktop) : desktop_(desktop) {}

    Result<std::vector<PointerDevice>> List() override {
        if (desktop_.failList) return MakeError("the desktop does not answer");
        return desktop_.devices;
    }
    Status SetProfile(int id, std::span<const std::uint8_t> value) override {
        std::vector<std::uint8_t> flags(value.begin(), value.end());
        desktop_.calls.push_back("set " + std::to_string(id) + " " + ProfileText(flags));
        if (desktop_.refuse.contains(id)) return MakeError("BadMatch");
        desktop_.Device(id).profile = std::move(flags);
        return {};
    }
    int ChangeFd() override { return desktop_.changeFd; }
    PointerNotices TakeChanges() override {
        char bytes[16];
        while (desktop_.changeFd >= 0 && ::read(desktop_.changeFd, bytes, sizeof bytes) > 0) {
        }
        return std::exchange(desktop_.pending, {});
    }

  private:
    FakePointerDesktop& desktop_;
};

inline std::unique_ptr<PointerDevices> FakePointerDesktop::Connect() {
    return std::make_unique<FakePointerDevices>(*this);
}

// A libinput pointer offering the adaptive and flat profiles, with `profile` enabled.
inline PointerDevice LibinputPointer(int id, std::string name, std::optional<std::uint16_t> vendor,
                                     std::vector<std::uint8_t> profile = {1, 0}) {
    PointerDevice device;
    device.id = id;
    device.name = std::move(name);
    device.node = "/dev/input/event" + std::to_string(id);
    device.vendor = vendor;
    device.profile = std::move(profile);
    device.available = std::vector<std::uint8_t>(device.profile.size(), 1);
    return device;
}

}  // namespace qvm::test
