// The in-process simulator backend: simulated devices behind the HID backend interface.
//
// Paths read "sim#vid_0c45&pid_PPPP&mi_NN#dXiN" (X the device's place in the list, N the
// interface number). With a state folder, each device's memory (a keyboard's lighting
// state) is kept in "<place>-<kind>.mem" there, e.g. "0-g12.mem", shared with every other
// process that runs the same device from the same folder (sim_state_store.h): another
// process's writes are loaded at the next exchange, and every write is written through at
// once, so nothing is saved at exit. A missing file starts the device from its factory
// image; a damaged one is set aside as "<name>.rejected" and reported, and the device
// starts from its factory image too. A write that cannot be kept fails its transfer.
//
// Thread safety: every member function may be called from any thread. Each device has
// its own lock; the event queue and the state notes have one each. The nestings are
// device lock, then state file lock, then notes lock (a write that could not be kept),
// and device lock, then event queue lock (a device announcing that it left or returned).
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "sim/sim_config.h"
#include "sim/sim_device.h"
#include "sim/sim_state_store.h"

namespace qvm {

// `devices` is the simulator's device list in the grammar of sim_grammar.h (empty: the
// default set). `stateFolder`, when not empty, is where each simulated device's memory is
// kept, so changes survive a restart and reach the other processes using the folder.
// `reporter` is told what becomes of the state files (see SimBackend::Create).
Result<std::unique_ptr<HidBackend>> MakeSimBackend(const std::string& devices,
                                                   const std::string& stateFolder,
                                                   SimStateReporter reporter = {});

class SimBackend final : public HidBackend {
  public:
    // `reporter` is told of each damaged state file set aside (from the constructor on)
    // and of each write that could not be kept, on the thread of the exchange, with that
    // device's lock held. Without one, the notes of the start are left to LoadNotes() and
    // the later ones go to standard error.
    static Result<std::unique_ptr<SimBackend>> Create(const std::string& devices,
                                                      const std::string& stateFolder,
                                                      Clock& clock = SystemClock::Instance(),
                                                      SimStateReporter reporter = {});

    SimBackend(const std::vector<SimDeviceConfig>& configs, std::string stateFolder, Clock& clock,
               SimStateReporter reporter = {});
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

    std::string StateFile(size_t index) const;
    // The damaged state files set aside at start, one line each, naming the file and
    // where it went. A missing file is no problem and not listed.
    std::vector<std::string> LoadNotes() const override;
    // The first write that could not be kept since the previous call (kind Io, naming
    // the state file and the reason); success when every write was kept.
    Status TakeLostWrite() override;

  private:
    void OnPresence(const SimDevice& device, bool present);
    void OnStateNote(const SimStateNote& note);

    std::string stateFolder_;
    SimStateReporter reporter_;
    std::vector<std::shared_ptr<SimDevice>> devices_;
    mutable std::mutex notesMutex_;         // leaf
    bool starting_ = true;                  // guarded by notesMutex_
    std::vector<std::string> loadNotes_;    // guarded by notesMutex_
    std::optional<std::string> lostWrite_;  // guarded by notesMutex_
    std::mutex eventsMutex_;
    std::deque<HidEvent> events_;  // guarded by eventsMutex_
    UniqueFd eventFd_;             // readable while events_ is not empty
};

}  // namespace qvm
