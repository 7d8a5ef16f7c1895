// The "Disable mouse acceleration" option: while it is held, the pointer devices of the
// attached QVM mice (USB vendor 0c45) run with libinput's flat profile, and every other
// pointer of the desktop keeps its own settings. Releasing the option, or destroying the
// holder when the program quits, puts back the profile each device had before.
//
// The desktop's pointer devices are reached through PointerDevices (X11 in the program, a
// double in the tests); PointerAcceleration holds the logic: which devices, what is
// remembered, what is put back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace qvm {

inline constexpr std::uint16_t kQvmUsbVendor = 0x0C45;

// libinput's profile value: one 8-bit flag per profile in this order (newer versions
// append more profiles). Exactly one flag is set.
enum class AccelProfile : std::size_t { kAdaptive = 0, kFlat = 1 };

// One pointer device of the desktop.
struct PointerDevice {
    int id = 0;                           // the desktop's device number
    std::string name;                     // as the desktop shows it
    std::string node;                     // "/dev/input/event7"; empty when unknown
    std::optional<std::uint16_t> vendor;  // USB vendor; unset when unknown
    bool enabled = true;
    std::vector<std::uint8_t> profile;    // current profile flags; empty: not libinput's
    std::vector<std::uint8_t> available;  // profiles it offers; empty: not reported
};

// What the desktop announced since it was last asked.
struct PointerNotices {
    bool changed = false;      // pointers came, went, were enabled or disabled
    std::vector<int> removed;  // devices that left; a later device may take the number
};

class PointerDevices {
  public:
    virtual ~PointerDevices() = default;

    // Every pointer device (not the desktop's virtual core pointer).
    virtual Result<std::vector<PointerDevice>> List() = 0;
    virtual Status SetProfile(int id, std::span<const std::uint8_t> value) = 0;
    // A descriptor that becomes readable when pointer devices may have come, gone, been
    // enabled or disabled; -1 when the desktop offers no such notice.
    virtual int ChangeFd() { return -1; }
    // Consumes the pending notices.
    virtual PointerNotices TakeChanges() { return {}; }
};

// The value that enables `profile`, as long as the current value; std::nullopt when the
// value is too short or `available` (empty when the device does not report it) says the
// device lacks the profile.
std::optional<std::vector<std::uint8_t>> SelectAccelProfile(std::span<const std::uint8_t> enabled,
                                                            std::span<const std::uint8_t> available,
                                                            AccelProfile profile);

// Whether `device` belongs to a QVM mouse, keyboard or pad.
bool IsQvmPointer(const PointerDevice& device);

// Not thread-safe: call it from one thread (the window thread).
class PointerAcceleration {
  public:
    explicit PointerAcceleration(std::unique_ptr<PointerDevices> devices);
    // A desktop whose pointers cannot be reached: every change fails with `reason`.
    explicit PointerAcceleration(std::string reason);
    // Puts back what is still held.
    ~PointerAcceleration();
    PointerAcceleration(const PointerAcceleration&) = delete;
    PointerAcceleration& operator=(const PointerAcceleration&) = delete;

    // False where the desktop's pointers cannot be reached; UnavailableReason() says why.
    bool Available() const { return devices_ != nullptr; }
    const std::string& UnavailableReason() const { return reason_; }

    // Flattens every enabled QVM pointer and keeps following new ones until Release().
    // Devices that cannot be flattened are named in the error; the others are held.
    Status Hold();
    // Puts back the profile each held device had before. A device whose profile was
    // changed by someone else meanwhile keeps that change.
    Status Release();
    bool Holding() const { return holding_; }

    // ChangeFd() became readable: flattens QVM pointers that arrived while holding and
    // forgets devices that left.
    Status FollowChanges();
    int ChangeFd() const { return devices_ ? devices_->ChangeFd() : -1; }

  private:
    // A device this holder changed or could not change, told apart from a later device
    // that takes over its number.
    struct Known {
        int id = 0;
        std::string node;
        std::string name;
        std::vector<std::uint8_t> before;  // empty when it was left alone
        std::vector<std::uint8_t> set;
    };

    Status Flatten();
    // Drops what it knew of devices that left; true when any notice came.
    bool TakeNotices();
    void Forget(const std::vector<PointerDevice>& present);
    const Known* Find(const PointerDevice& device) const;

    std::unique_ptr<PointerDevices> devices_;
    std::string reason_;
    bool holding_ = false;
    std::vector<Known> known_;
};

}  // namespace qvm
