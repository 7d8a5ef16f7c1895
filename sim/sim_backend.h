// The in-process simulator backend: simulated devices behind the HID backend interface.
//
// Paths read "sim#vid_0c45&pid_PPPP&mi_NN#dXiN" (X the device's place in the list, N the
// interface number). With a state folder, each device's memory (a keyboard's lighting
// state) is kept in "<place>-<kind>.mem" there, e.g. "0-g12.mem": loaded at start,
// written atomically by Save() and when the backend is destroyed. A missing file starts
// the device from its factory image; a file of the wrong size is set aside as
// "<name>.rejected" and the device starts from its factory image too.
//
// Thread safety: every member function may be called from any thread. Each device has
// its own lock; the event queue has another. The only nesting is device lock, then event
// queue lock (a device announcing that it left or returned).
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/hid.h"
#include "platform/unique_fd.h"
#include "sim/sim_config.h"
#include "sim/sim_device.h"

namespace qvm {

// `devices` is the simulator's device list in the grammar of sim_grammar.h (empty: the
// default set). `stateFolder`, when not empty, is where each simulated device's memory is
// loaded from at start and saved to, so changes survive a restart.
Result<std::unique_ptr<HidBackend>> MakeSimBackend(const std::string& devices,
                                                   const std::string& stateFolder);

class SimBackend final : public HidBackend {
  public:
    static Result<std::unique_ptr<SimBackend>> Create(const std::string& devices,
                                                      const std::string& stateFolder,
                                                      Clock& clock = SystemClock::Instance());

    SimBackend(const std::vector<SimDeviceConfig>& configs, std::string stateFolder, Clock& clock);
    ~SimBackend() override;
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    Result<std::vector<HidDeviceInfo>> Enumerate() override;
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override;
    std::vector<HidEvent> TakeEvents() override;
    // An eventfd signalled when a device leaves or returns, drained by TakeEvents().
    int EventFd() const override { return eventFd_.get(); }

    size_t DeviceCount() const { return devices_.size(); }
    SimDevice& Device(size_t index) { return *devices_.at(index); }
    // The device owning an interface path; nullptr when none does.
    SimDevice* FindDevice(const std::string& path);
    // Transfer statistics summed over every device.
    SimTransferStats TotalStats() const;

    // Writes every device's state file. The first failure is returned; the others are
    // still attempted.
    Status Save();
    std::string StateFile(size_t index) const;
    // What happened to each state file at start, one line per device that did not load
    // its saved state (missing, unreadable, wrong size).
    const std::vector<std::string>& LoadNotes() const { return loadNotes_; }

  private:
    void LoadStates();
    void OnPresence(const SimDevice& device, bool present);

    std::string stateFolder_;
    std::vector<std::shared_ptr<SimDevice>> devices_;
    std::vector<std::string> loadNotes_;
    std::mutex eventsMutex_;
    std::deque<HidEvent> events_;  // guarded by eventsMutex_
    UniqueFd eventFd_;             // readable while events_ is not empty
};

}  // namespace qvm
