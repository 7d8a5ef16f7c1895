// Arrival and removal through the kernel's device events, seen by the desktop program's
// device hub, where no udev daemon runs (as in the test VM, containers and minimal
// systems).
#include <filesystem>

#include "session/device_hub.h"
#include "vm_rig.h"

namespace qvm::vm {
namespace {

class HubRig {
  public:
    HubRig() {
        folder_ = std::filesystem::temp_directory_path() / "qvm-vm-hub";
        std::filesystem::create_directories(folder_);
        DeviceHubOptions options;
        options.hidBackend = "linux";
        options.userDataFolder = folder_.string();
        auto hub = DeviceHub::Open(options);
        EXPECT_TRUE(hub) << hub.message();
        if (!hub) return;
        hub_ = std::move(*hub);
        HubListener listener;
        // The window refreshes after the delay the hub asks for; the test at once.
        listener.refreshWanted = [this](int) { refreshWanted_ = true; };
        hub_->SetListener(std::move(listener));
    }

    DeviceHub& Hub() { return *hub_; }

    // True once the monitor's descriptor says that arrivals or removals wait.
    bool EventArrives() {
        pollfd fd{hub_->EventFd(), POLLIN, 0};
        const int limitMs = static_cast<int>(std::chrono::milliseconds(kPublishLimit).count());
        return ::poll(&fd, 1, limitMs) == 1;
    }

    // Handles what the monitor reports, as the window does, until `check` holds.
    bool HandleUntil(const std::function<bool(const HubSnapshot&)>& check) {
        return WaitFor([&] {
            hub_->HandleEvents();
            hub_->WaitIdle();
            if (refreshWanted_.exchange(false)) {
                hub_->Refresh();
                hub_->WaitIdle();
            }
            return check(hub_->Snapshot());
        });
    }

  private:
    std::filesystem::path folder_;
    std::unique_ptr<DeviceHub> hub_;
    std::atomic<bool> refreshWanted_{false};
};

bool ListsKeyboard(const HubSnapshot& snapshot) {
    for (const HubDevice& device : snapshot.devices) {
        if (device.keyboard) return true;
    }
    return false;
}

TEST(KernelHotplug, HubSeesDeviceArriveAndLeaveThroughTheMonitor) {
    KernelDevices devices("mx28");
    ASSERT_TRUE(devices.WaitPublished());
    HubRig rig;
    rig.Hub().Refresh();
    rig.Hub().WaitIdle();
    ASSERT_TRUE(ListsKeyboard(rig.Hub().Snapshot()));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        devices.Unplug(0);
        ASSERT_TRUE(rig.EventArrives()) << "no removal event";
        EXPECT_TRUE(rig.HandleUntil([](const HubSnapshot& s) { return !ListsKeyboard(s); }));

        devices.Plug(0);
        ASSERT_TRUE(rig.EventArrives()) << "no arrival event";
        EXPECT_TRUE(rig.HandleUntil(ListsKeyboard));
    }
}

}  // namespace
}  // namespace qvm::vm
