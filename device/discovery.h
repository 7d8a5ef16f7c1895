// DeviceLink: finds the supported devices among the machine's HID interfaces,
// identifies each one (protocol generation, model and identity values, kept per path in
// the DeviceValueTable), keeps the ordered list of usable devices, chooses and activates
// the device the configuration works on, and follows arrivals and removals.
//
// One DeviceLink per process. It references the backend, the command set (and through
// it the transport, the value table and the memory cache), the clock and the
// process-wide device-list lock; it owns none of them.
//
// Locks, always taken in this order:
//   1. probeMutex_   (one probe of this process at a time)
//   2. listLock_     (the named "KTP_devlist MUTEX"), held only while the device list is
//                    read or changed, never across an exchange with a device, so a
//                    device that is slow to answer holds up nobody else's list;
//   3. a device's transport lock, taken by the transport around each single exchange
//      with that device (one lock per device: work on one device never waits for
//      another's time-outs).
// The list lock is never held while waiting for the probe lock. stateMutex_ guards the
// active and requested paths, the unusable list and the interface descriptions; it is
// a leaf: nothing else is taken while it is held.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "device/commands.h"
#include "device/keyboard_commands.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "platform/named_mutex.h"

namespace qvm {

// An interface of the vendor that was seen but cannot be used, with the reason the
// system gave (for example a permission problem), so the user can be told why.
struct UnusableDevice {
    std::string path;
    std::string reason;
    ErrorKind kind = ErrorKind::Other;  // a device failure (busy, silent) or the system's

    bool operator==(const UnusableDevice&) const = default;
};

enum class ProbeOutcome {
    Listed,         // identified; the path is in the device list
    Rejected,       // ours by its signature, but not a device this program configures
    NotRecognised,  // neither configuration interface nor keyboard
    NotOpened,      // the path could not be opened
    Failed,         // identification stopped at an exchange that failed (see kind)
};

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::NotRecognised;
    std::string reason;                 // why it was not listed; empty when listed
    ErrorKind kind = ErrorKind::Other;  // Failed, NotOpened: DeviceGone when it left
};

// The callers' part of a refresh: both come from the model and configuration layers.
struct RefreshHooks {
    // Decide the model layout of the device about to become active.
    std::function<void(const std::string& path)> decideLayout;
    // Load the configuration of the active device; the path is empty when there is none.
    std::function<void(const std::string& path)> loadConfiguration;
};

struct RefreshResult {
    bool ran = false;         // false: another refresh was already running
    bool enumerated = false;  // this was the first run, which scans the machine
    Status enumeration;       // the scan's error, if it failed
    std::string candidate;    // the device the run chose (empty: none listed)
    std::string active;       // the active device after the run
    Status activation;        // error when a device did not confirm its host mode
};

// What HandleEvents changed, so a window or a command-line tool can react.
struct DeviceEvents {
    bool activeRemoved = false;         // the active device left; the active path is now empty
    std::vector<std::string> removed;   // listed (or unusable) paths that left
    std::vector<std::string> listed;    // arrivals that were probed into the list
    std::vector<std::string> unusable;  // arrivals seen but not usable (see UnusableDevices)
    int refreshDelayMs = 0;             // > 0: run a refresh after this many milliseconds

    bool Changed() const {
        return activeRemoved || !removed.empty() || !listed.empty() || !unusable.empty();
    }
};

class DeviceLink {
  public:
    static constexpr const char* kListLockName = "KTP_devlist MUTEX";

    // Host modes: 9 tells a device it is the one being configured, 0 that it is not.
    static constexpr uint8_t kSelectedHostMode = 9;
    static constexpr uint8_t kIdleHostMode = 0;
    // A healthy device shows its new host mode on the first read-back; a second try
    // covers a mode sent while the firmware was still busy with an earlier command.
    // Five tries ride out a few such misses. An exchange that fails (the device left,
    // stayed busy past the poll limit, did not answer) ends the activation at once:
    // trying again would only repeat the time-out.
    static constexpr int kActivationAttempts = 5;

    // Pause after an arrival before the new interface is probed, so it can settle.
    static constexpr int kArrivalSettleMs = 200;
    // Delays the refresh timer is (re)started with.
    static constexpr int kFirstRefreshDelayMs = 100;
    static constexpr int kArrivalRefreshDelayMs = 1000;
    static constexpr int kRemovalRefreshDelayMs = 500;

    DeviceLink(HidBackend& backend, DeviceCommands& commands, NamedMutex& listLock, Clock& clock);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Full scan: every interface the backend lists is identified; usable devices are
    // appended to the list; vendor interfaces that cannot be opened go to the unusable
    // list. Fails only when the backend cannot enumerate.
    Status EnumerateDevices();
    // True when the path names one of the three configuration interfaces and its
    // capabilities match (opens the path to read them).
    bool IsConfigInterface(const std::string& path);
    // Identifies one interface and lists it when usable. A path that is not a
    // configuration interface is tried as a keyboard. Identification stops at the first
    // exchange that fails; such a device is not listed.
    ProbeResult ProbeDevice(const std::string& path);
    // Identifies only the interface at `path`, as a full scan would (the other devices
    // are neither asked nor listed). Fails, with the device failure's kind where there
    // is one, when the path is not a usable device.
    Status IdentifyDevice(const std::string& path);
    // The keyboard identification result (reply byte 6), or 0 when the path is not one
    // of the keyboards. Lists the keyboard.
    int ProbeKeyboard(const std::string& path);
    // The keyboard identity test without any query to the device.
    bool IsKeyboard(const std::string& path);

    // The list entry at index; empty outside the list.
    std::string GetDevicePath(int index) const;
    std::vector<std::string> DeviceList() const;
    void RemoveDevice(const std::string& path);
    std::vector<UnusableDevice> UnusableDevices() const;
    // Devices that left while the last scan identified them: not listed, not unusable,
    // but worth a word when nothing else was found.
    std::vector<UnusableDevice> DepartedDevices() const;

    // Makes path the cached device (cache enabled when useCache) and tells every listed
    // mouse its host mode: 9 for path, 0 for the others, each read back. Fails when path
    // is not listed or did not confirm, with the device's failure (its kind: gone, busy,
    // silent, garbled) when it failed; a device that left is taken off the list. The
    // others are told what they can be told: their failures do not fail the activation.
    Status ActivateDevice(const std::string& path, bool useCache);

    // True when both paths have a container identity and the two are equal.
    bool SameContainer(const std::string& a, const std::string& b) const;
    // The interface's description (serial, product, container) as the backend reported
    // it; nullopt for a path the backend does not list.
    std::optional<HidDeviceInfo> Describe(const std::string& path);

    std::string ActiveDevice() const;
    // A device asked for by the network service; the next refresh makes it active.
    void RequestDevice(const std::string& path);
    std::string RequestedDevice() const;

    // The refresh run: the first run scans the machine; a candidate is chosen (the
    // requested device when one is pending and listed, else entry 0); mice are activated;
    // the hooks decide the layout and load the configuration. Runs one at a time; a call
    // while another runs returns at once with ran == false.
    RefreshResult Refresh(const RefreshHooks& hooks);
    bool Refreshing() const { return refreshing_.load(); }

    // Drains the backend's arrival and removal events. Arrivals of configuration
    // interfaces and keyboards are probed after the settle delay (through the clock), so
    // this call may take a while: a window runs it off its UI thread.
    DeviceEvents HandleEvents();

  private:
    struct KeyboardProbe {
        bool listed = false;
        int result = 0;
    };
    ProbeResult ProbeShort(const std::string& path, HidHandle& handle);
    ProbeResult ProbeLong(const std::string& path, HidHandle& handle);
    KeyboardProbe ProbeKeyboardImpl(const std::string& path);
    Status ConfirmHostMode(const std::string& path, uint8_t mode);
    // Why the latest exchange with `path` failed, if it did.
    std::optional<DeviceFailure> ExchangeFailed(const std::string& path) const;
    // Notes a device that was seen but failed identification: as unusable, or as
    // departed when it left.
    void NoteFailedProbe(const std::string& path, const ProbeResult& result);

    // Appends under the list lock (Append takes it; AppendLocked needs it held).
    void Append(const std::string& path);
    void AppendLocked(const std::string& path);
    bool ListedLocked(const std::string& path) const;
    bool Listed(const std::string& path) const;

    void Remember(const HidDeviceInfo& info);
    void NoteUnusable(const HidDeviceInfo& info);

    HidBackend& backend_;
    DeviceCommands& commands_;
    KeyboardCommands keyboards_;  // the probe identifies keyboards on the report pipe
    NamedMutex& listLock_;
    Clock& clock_;

    std::mutex probeMutex_;
    std::vector<std::string> list_;  // guarded by listLock_

    mutable std::mutex stateMutex_;  // leaf
    std::string active_;
    std::string requested_;
    std::vector<UnusableDevice> unusable_;
    std::vector<UnusableDevice> departed_;
    std::map<std::string, HidDeviceInfo> described_;

    std::atomic<bool> refreshing_{false};
    std::atomic<bool> enumerated_{false};
};

}  // namespace qvm
