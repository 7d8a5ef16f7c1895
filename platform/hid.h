// The HID backend interface: everything the device link needs from a HID stack.
// Three implementations exist: the Linux hidraw backend, the in-process simulator
// and the device bridge (devices served by another program over a pipe).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace qvm {

// Capabilities of one HID interface, as its report descriptor declares them.
// Report lengths count the report-ID byte, as HID capability lengths do.
struct HidCaps {
    uint16_t usagePage = 0;
    uint16_t usage = 0;
    int featureLength = 0;
    int inputLength = 0;
    int outputLength = 0;

    bool operator==(const HidCaps&) const = default;
};

// One HID interface seen by enumeration or announced by an arrival event.
struct HidDeviceInfo {
    std::string path;  // lower case: "hid#vid_0c45&pid_7040&mi_01#hidraw3" and the like
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int interfaceNumber = 0;
    HidCaps caps;
    std::string serial;     // UTF-8; empty when absent
    std::string product;    // UTF-8; empty when absent
    std::string container;  // identity of the physical device the interface belongs to
    std::string openError;  // non-empty when the interface was seen but cannot be opened

    bool operator==(const HidDeviceInfo&) const = default;
};

// Why the last transfer of a handle failed: the device has left (it will not answer
// again until it is opened anew after its return), or the transfer failed while the
// device is still there. `reason` is the system's or the bridge's own text, when any.
enum class HidFailureKind { Failed, Gone };
struct HidFailure {
    HidFailureKind kind = HidFailureKind::Failed;
    std::string reason;

    bool operator==(const HidFailure&) const = default;
};

// An open interface. Handles are short-lived: the transport opens one per exchange.
class HidHandle {
  public:
    virtual ~HidHandle() = default;

    virtual const HidCaps& Caps() const = 0;

    // Reads a feature report. buffer[0] holds the report ID on entry; buffer.size() is
    // the length to read. Returns false when the read failed (the buffer is then
    // unspecified).
    virtual bool GetFeature(std::span<uint8_t> buffer) = 0;
    // Sends a feature report; report[0] is the report ID.
    virtual bool SetFeature(std::span<const uint8_t> report) = 0;
    // Sends an output report through the interrupt pipe; report[0] is the report ID.
    virtual bool Write(std::span<const uint8_t> report) = 0;
    // Waits up to timeoutMs for the next input report. Returns the number of bytes
    // stored, 0 when none arrived in time, -1 when the device failed or left.
    virtual int Read(std::span<uint8_t> buffer, int timeoutMs) = 0;
    // A descriptor that is readable while an input report waits for Read() (and once the
    // device has left, so that a waiting caller learns of it from Read()), for waiting on
    // many handles at once with poll or epoll; -1 when this handle offers none. It stays
    // owned by the handle and may be shared by other handles of the same interface: take
    // it out of an epoll set before the handle is destroyed.
    virtual int ReadyFd() const { return -1; }
    // The raw bytes of indexed string `index` without the descriptor header: byte n of
    // the result is byte n of the string. nullopt when the device has no such string.
    virtual std::optional<std::vector<uint8_t>> IndexedString(int index) = 0;
    // Abandons any transfer still in flight (a no-op where transfers are synchronous).
    virtual void CancelIo() {}
    // Why the most recent failed transfer of this handle failed. Meaningful only right
    // after a transfer returned failure; a backend that cannot tell says Failed.
    virtual HidFailure LastFailure() const { return {}; }
};

enum class HidEventKind { Added, Removed };

struct HidEvent {
    HidEventKind kind = HidEventKind::Added;
    HidDeviceInfo info;  // for a removal only info.path is meaningful

    bool operator==(const HidEvent&) const = default;
};

class HidBackend {
  public:
    virtual ~HidBackend() = default;

    // Every HID interface currently present (not only ours: callers filter).
    virtual Result<std::vector<HidDeviceInfo>> Enumerate() = 0;
    // The error's kind is ErrorKind::DeviceGone when no device is at `path` (any more).
    virtual Result<std::unique_ptr<HidHandle>> Open(const std::string& path) = 0;
    // Arrivals and removals since the previous call, oldest first. Never blocks.
    virtual std::vector<HidEvent> TakeEvents() = 0;
    // A descriptor that becomes readable when TakeEvents() may return something, so a
    // caller can wait for arrivals and removals instead of polling; -1 when the backend
    // has none (the caller then drains the events now and then).
    virtual int EventFd() const { return -1; }

    // Backends that keep the devices' memory themselves (the simulated devices keep it in
    // state files) report here what became of it; the kernel's devices keep their own.
    // What was found damaged and set aside when the backend started, one line each.
    virtual std::vector<std::string> LoadNotes() const { return {}; }
    // The first write since the previous call that the device took but its memory could
    // not keep (kind Io, naming the file and the reason); success when every one was kept.
    virtual Status TakeLostWrite() { return {}; }
};

}  // namespace qvm
