// DeviceCommands: the device command set. Every command takes the device path first,
// looks up the device's protocol generation, picks the matching encoding from the
// command tables (command_table.h) and sends it through the transport. Callers never
// build frames. A command that does not exist for a device's generation sends nothing
// and returns false.
//
// Return values: raw commands leave reply bytes for the caller to judge; the bool they
// return says whether every exchange of the command completed (false: nothing sent,
// the device could not be opened, it left, or it stayed busy or silent past a poll
// limit). A command stops at its first exchange that fails; Failure() then says why.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/command_table.h"
#include "device/device_values.h"
#include "device/frame.h"
#include "device/memory_cache.h"
#include "device/transport.h"

namespace qvm {

// Byte-addressed access to a device's configuration memory. DeviceCommands is the real
// one; higher layers may substitute their own in tests.
class MemoryAccess {
  public:
    virtual ~MemoryAccess() = default;
    // Reads dest.size() bytes at `address`, from the cache where allowed.
    virtual bool ReadMemory(const std::string& path, uint32_t address, std::span<uint8_t> dest,
                            bool useCache) = 0;
    // Writes 1 to 32 bytes in one block; other lengths are ignored (false).
    virtual bool WriteMemoryBlock(const std::string& path, uint32_t address,
                                  std::span<const uint8_t> data) = 0;
    // Writes any length in blocks of at most 32 bytes; false for an empty span.
    virtual bool WriteMemory(const std::string& path, uint32_t address,
                             std::span<const uint8_t> data) = 0;
    virtual bool WriteMemoryByte(const std::string& path, uint32_t address, uint8_t value) = 0;
};

// Reply of ReadDeviceInfo.
struct DeviceInfo {
    uint8_t featureFlags = 0;
    std::array<uint8_t, 3> further{};  // three further information bytes
    uint8_t deviceClass = 0;
    uint8_t identByte3 = 0;

    bool operator==(const DeviceInfo&) const = default;
};

// Reply of ReadInfoRecord: record 1 has two values, record 2 four.
struct InfoValues {
    std::array<uint8_t, 4> values{};
    int count = 0;

    bool operator==(const InfoValues&) const = default;
};

// ReadLiveState: six values; an empty one is not reported by the device's generation
// and the caller keeps what it had.
using LiveState = std::array<std::optional<uint8_t>, 6>;

// One LED colour record as the colour picker edits it.
struct LedColour {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t flags = 0;  // bit 7: own colour; bit 6: breathing

    bool operator==(const LedColour&) const = default;
};

// A memory write that stopped at a failed block, in words for the user: "<what> after
// 0x0AA0 of 0x2000 bytes (<detail>): its memory is partly <state>; <redo>", with " when
// it is back" after `redo` when the device left. The error has the failure's kind.
Error StoppedWriteError(const DeviceFailure& failure, uint32_t written, uint32_t total,
                        std::string_view state, std::string_view redo);

class DeviceCommands final : public MemoryAccess {
  public:
    DeviceCommands(Transport& transport, DeviceValueTable& values, MemoryCache& cache);

    // ---- Memory ----
    bool ReadMemory(const std::string& path, uint32_t address, std::span<uint8_t> dest,
                    bool useCache) override;
    bool WriteMemoryBlock(const std::string& path, uint32_t address,
                          std::span<const uint8_t> data) override;
    bool WriteMemory(const std::string& path, uint32_t address,
                     std::span<const uint8_t> data) override;
    bool WriteMemoryByte(const std::string& path, uint32_t address, uint8_t value) override;

    // ---- Identity and state ----
    Frame QueryStatus(const std::string& path, int waitMs);
    bool SetHostMode(const std::string& path, uint8_t mode);
    bool NotifyUpdate(const std::string& path);
    DeviceInfo ReadDeviceInfo(const std::string& path);
    InfoValues ReadInfoRecord(const std::string& path, int which);      // which: 1 or 2
    std::array<uint8_t, 4> ReadRecord(const std::string& path, int r);  // r: 0..31
    LiveState ReadLiveState(const std::string& path);

    // ---- Probe ----
    Frame ProbeRecord(const std::string& path, int r);            // record query
    Frame ReadInfoPage(const std::string& path, int wordOffset);  // data: reply 2..61
    bool SetPageMode(const std::string& path);
    bool CompleteProbe(const std::string& path);

    // ---- Immediate settings ----
    bool SetActiveProfile(const std::string& path, int profile);  // 0..4
    bool SetSettingByte2(const std::string& path, uint8_t value);
    // a: X value, b: DPI stage, c: Y value of the current stage.
    bool SetSettingTriple(const std::string& path, uint8_t a, uint8_t b, uint8_t c);
    bool ReloadSettings(const std::string& path);
    bool ReloadSettingsAlt(const std::string& path);
    bool SetLightingEffect(const std::string& path, int effect);  // 0..4
    bool SetLiveBytes(const std::string& path, uint32_t value);
    bool SetLiveWord(const std::string& path, uint16_t value);
    bool SetLiveProfileColour(const std::string& path, uint8_t red, uint8_t green, uint8_t blue);
    // Shows a colour on one LED at once without storing it (the colour picker).
    bool PreviewLedColour(const std::string& path, uint8_t led, uint8_t extra,
                          const LedColour& colour);
    bool RefreshLighting(const std::string& path);
    // Reads the LED colour block at 0x460 inside the update bracket (generation 3+).
    bool ReadLightingBlock(const std::string& path, std::span<uint8_t> dest);

    // ---- Update bracket (generations 1 to 10; a no-op elsewhere) ----
    // Asks the status (reply after 10 ms); when bit 6 of reply byte 10 is clear, sends
    // NotifyUpdate and returns true: EndUpdate must then send it again.
    bool BeginUpdate(const std::string& path);
    void EndUpdate(const std::string& path, bool notified);
    void Bracketed(const std::string& path, const std::function<void()>& body);

    // Writes operands 1..3 of a button into planes 1..3 of the profile's button
    // records (the function type in plane 0 stays). False for a profile or button the
    // device's layout does not have.
    bool WriteButtonFunctionArgs(const std::string& path, int profile, int button,
                                 std::array<uint8_t, 3> args);

    // ---- Failures ----
    // Why the latest command on `path` failed: its last exchange's failure (the device
    // left, stayed busy, did not answer), or, when the exchanges completed, replies whose
    // check bytes say they cannot be right. nullopt when nothing is wrong that we know of.
    std::optional<DeviceFailure> Failure(const std::string& path) const;
    // Failure(path), else a failure of kind Other that says `fallback`.
    DeviceFailure FailureOr(const std::string& path, std::string fallback) const;
    // For an operation of several commands: take a mark before the first, and after a
    // failure ask FailureSince, which still knows the failure when a later command (a
    // closing update notice) went through; else as FailureOr.
    uint64_t FailureMark() const { return transport_.FailureMark(); }
    DeviceFailure FailureSince(const std::string& path, uint64_t mark, std::string fallback) const;
    // FailureSince as an error, with "the device did not take the <what>" as the fallback.
    Error NotTakenSince(const std::string& path, uint64_t mark, const std::string& what) const;

    // ---- First memory write ----
    // `gate` is asked before the first memory write to each device. A refusal stops that
    // write (it returns false, nothing is sent), is recorded as the device's latest
    // failure, so the operation reports the refusal's message and kind, and the next write
    // asks again. Once the gate allows a device, its writes go on without asking until
    // the device is probed anew (ForgetWriteGate). Null: every write goes ahead.
    using WriteGate = std::function<Status(const std::string& path)>;
    void SetWriteGate(WriteGate gate);
    // The device at `path` may be another one now: its next write asks the gate again.
    void ForgetWriteGate(const std::string& path);

    Transport& GetTransport() { return transport_; }
    DeviceValueTable& Values() { return values_; }
    MemoryCache& Cache() { return cache_; }

  private:
    struct Sent {
        bool ok = false;
        Frame reply;
    };
    // Sends every frame of a command of the tables for the device's generation;
    // `waitMs` replaces the table's reply wait. The reply is the last frame's.
    Sent Run(const std::string& path, CommandId id, std::span<const uint8_t> params = {},
             std::span<const uint8_t> payload = {}, std::optional<int> waitMs = {});
    Sent RunFrame(const std::string& path, const FrameTemplate& tpl, GenerationClass cls,
                  std::span<const uint8_t> params, std::span<const uint8_t> payload, int waitMs);
    // A setting command: `before` (a memory write the command needs first) and the
    // command's frames, inside the update bracket when the table asks for it.
    bool RunSetting(const std::string& path, CommandId id, std::span<const uint8_t> params,
                    const std::function<bool()>& before = {});
    // BeginUpdate, but nullopt when the device did not answer the status query or
    // did not take the notice.
    std::optional<bool> OpenBracket(const std::string& path);
    bool WriteBlockShort(const std::string& path, uint32_t address, std::span<const uint8_t> data);
    // False when the write gate refuses the device's first write.
    bool PassWriteGate(const std::string& path);

    Transport& transport_;
    DeviceValueTable& values_;
    MemoryCache& cache_;

    // Held while the gate runs, which reads the device (each read takes the device's lock
    // in the transport): taken before any device lock, never while one is held.
    std::mutex gateMutex_;
    WriteGate gate_;
    std::set<std::string> gatePassed_;
};

}  // namespace qvm
