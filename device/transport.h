// Transport: every configuration command is one feature-report exchange with the
// device's configuration interface. The transport frames the request (report ID and
// check byte), serialises the exchanges with each device behind that device's lock,
// waits until the device is idle, sends, waits for the device to finish and reads the
// reply. A second, simpler path exchanges output and input reports through the report
// pipe (the keyboard models).
//
// The transport also says why an exchange did not complete: the device left (the
// backend says so at the first failed transfer, and polling stops there), it stayed
// busy past a poll limit, or it did not answer at all. A device known to have left
// fails every later exchange at once, without polling, until Forget() (a new probe).
//
// Locks: each device's lock (a DeviceLocks entry) is held around one exchange with that
// device; stateMutex_ guards the per-device failure records and is a leaf, never held
// while a device lock is taken or a transfer runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "base/result.h"
#include "device/frame.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "platform/named_mutex.h"

namespace qvm {

// How an exchange ended, for callers that must not trust a reply that never came.
enum class ExchangeOutcome {
    NotOpened,  // the path could not be opened or has no feature report
    Gone,       // the device left: a transfer said so, or it had left before
    Busy,       // the device stayed busy past a poll limit
    Silent,     // reads of the device failed until a poll limit
    Refused,    // the request could not be sent to the device, which is still there
    Done,       // the exchange completed (or was a send-only request)
};

// Why a device did not do what it was asked, in words for the user: `what` says what
// happened ("the device left", "the device stayed busy for 0.4 s"), `detail` the
// backend's own reason when it gave one ("bridge: gone: ..."), shown in parentheses.
struct DeviceFailure {
    ErrorKind kind = ErrorKind::Other;
    std::string what;
    std::string detail;
    // The host refused the request before sending anything (Transport::NoteRefusal): the
    // device holds what it held, and `what` says why.
    bool refused = false;

    std::string Message() const { return detail.empty() ? what : what + " (" + detail + ")"; }
    Error ToError() const { return MakeError(kind, Message()); }

    bool operator==(const DeviceFailure&) const = default;
};

class Transport {
  public:
    // Name of the lock every feature exchange holds; each device's lock is this name
    // followed by the device path (DeviceLockName).
    static constexpr const char* kLockName = "KTP_G LOAD SETTING MUTEX";

    // Pacing of a feature exchange. These are part of the device contract.
    static constexpr int kIdlePollLimit = 421;   // reads before an exchange gives up
    static constexpr int kReplyPollLimit = 301;  // reads of the reply before giving up
    static constexpr int kPollSleepMs = 1;       // between two polls
    static constexpr int kShortWaitMaxMs = 4;    // waits of 1..4 ms count as short
    static constexpr int kPreWaitLongMs = 2;     // after the write, waitMs > 4
    static constexpr int kPreWaitShortMs = 1;    // after the write, waitMs 1..4
    static constexpr int kPostWaitLongMs = 3;    // after the reply, waitMs > 4
    static constexpr int kPostWaitShortMs = 1;   // after the reply, waitMs 1..4
    static constexpr int kIdleScratchSize = 200;

    // Status byte (byte 1 of every report read back).
    static constexpr uint8_t kBusyBit = 0x80;
    static constexpr uint8_t kStatusMask = 0x3F;

    // Report pipe: the device gets 8 ms to take a write and 20 ms for the first look
    // at a reply, then up to 200 further 1 ms steps.
    static constexpr int kPipeWriteWaitMs = 8;
    static constexpr int kPipeReadWaitMs = 20;
    static constexpr int kPipeCompletionSteps = 200;

    // Every device's exchanges share `lock` (tests, single-device rigs).
    Transport(HidBackend& backend, Clock& clock, NamedMutex& lock);
    // Each device's exchanges hold that device's lock of `locks`.
    Transport(HidBackend& backend, Clock& clock, DeviceLocks& locks);
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // One framed feature exchange on an open handle, under the lock of exchanges that
    // name no device. waitMs < 0 sends without reading a reply; 0 or more reads the
    // reply after the pacing waits. Returns false when the exchange did not complete.
    bool ExchangeFeature(HidHandle& handle, Frame& request, Frame& reply, int length, int waitMs);

    // Opens `path`, exchanges with its feature report length under the device's lock and
    // closes it again. Returns false only when the path cannot be opened, has no feature
    // report or is known to have left; the exchange's own result goes to *outcome.
    bool SendCommand(Frame& request, Frame& reply, const std::string& path, int waitMs,
                     ExchangeOutcome* outcome = nullptr);

    // Report pipe: writes `request` as one output report (skipped when handle is null),
    // sleeps waitMs when positive, then reads one input report into `reply`. Always
    // returns true; callers judge the reply bytes.
    bool ExchangeReports(HidHandle* handle, std::span<const uint8_t> request,
                         std::span<uint8_t> reply, int waitMs);
    // Opens `path` and runs ExchangeReports; false when the path cannot be opened or the
    // device left.
    bool SendReports(const std::string& path, std::span<const uint8_t> request,
                     std::span<uint8_t> reply, int waitMs);

    // Why the latest exchange with `path` did not complete; nullopt when it completed
    // (or there was none).
    std::optional<DeviceFailure> LastFailure(const std::string& path) const;
    // A point in the history of failures of every device. An operation takes one before
    // its first exchange; FailureSince then tells why it failed even when a later
    // exchange (a closing update notice) completed and cleared LastFailure.
    uint64_t FailureMark() const;
    // The latest failure of `path` recorded after `mark`; nullopt when there was none.
    std::optional<DeviceFailure> FailureSince(const std::string& path, uint64_t mark) const;
    // Replies in a row, ending with the latest, whose check byte did not match their
    // bytes (64-byte frames only: a 9-byte reply may carry data in its last byte).
    int GarbledReplies(const std::string& path) const;
    // The device at `path` has left (its removal was announced): every exchange fails at
    // once until Forget(path).
    void MarkGone(const std::string& path, const std::string& reason = {});
    bool IsGone(const std::string& path) const;
    // Drops everything known about `path`'s failures, before the path is probed again.
    void Forget(const std::string& path);
    // A request the host refused before sending anything to the device (see
    // DeviceCommands::SetWriteGate): recorded as the device's latest failure (marked
    // `refused`), so the operation that made it reports why.
    void NoteRefusal(const std::string& path, DeviceFailure failure);

    // Exchanges started since construction (feature and report pipe together).
    uint64_t ExchangeCount() const { return exchanges_.load(std::memory_order_relaxed); }

    Clock& GetClock() { return clock_; }

  private:
    struct Polled {
        ExchangeOutcome outcome = ExchangeOutcome::Done;
        std::string reason;  // the backend's, for Gone and Silent
    };
    struct Exchanged {
        ExchangeOutcome outcome = ExchangeOutcome::Done;
        std::string reason;
        int waitedMs = 0;                 // from the lock to the end, through the clock
        std::optional<bool> checkByteOk;  // judged for 64-byte replies only
    };
    struct PathState {
        std::optional<DeviceFailure> failure;
        std::optional<DeviceFailure> recent;    // the latest failure, kept after successes
        uint64_t recentSerial = 0;              // when `recent` happened
        std::optional<std::string> goneReason;  // set once the device is known gone
        int garbledInARow = 0;
    };

    Exchanged Exchange(HidHandle& handle, NamedMutex& lock, Frame& request, Frame& reply,
                       int length, int waitMs);
    // Reads feature reports into `buffer` until one is not busy, the device leaves or
    // `limit` reads failed. `clear` zero-fills the buffer before each read.
    // The report pipe's exchange; returns the departure the write or the read saw.
    std::optional<HidFailure> Pipe(HidHandle* handle, std::span<const uint8_t> request,
                                   std::span<uint8_t> reply, int waitMs);
    Polled Poll(HidHandle& handle, std::span<uint8_t> buffer, uint8_t reportId, int limit,
                bool clear);
    void Record(const std::string& path, const Exchanged& result);
    void RecordFailure(const std::string& path, DeviceFailure failure);
    // With stateMutex_ held: `failure` is the latest failure of `state`.
    void NoteLocked(PathState& state, DeviceFailure failure);
    // The failure of a path known to have left; records it as the latest.
    std::optional<DeviceFailure> RefuseIfGone(const std::string& path);

    HidBackend& backend_;
    Clock& clock_;
    std::unique_ptr<DeviceLocks> ownedLocks_;  // with a single shared lock
    DeviceLocks& locks_;
    std::atomic<uint64_t> exchanges_{0};

    mutable std::mutex stateMutex_;  // leaf
    std::map<std::string, PathState> states_;
    uint64_t failureSerial_ = 0;  // guarded by stateMutex_; counts recorded failures
};

// "the device left", "the device stayed busy for 0.4 s", "the device did not answer
// for 0.3 s": the failure an exchange outcome stands for (not for Done).
DeviceFailure DescribeExchangeFailure(ExchangeOutcome outcome, int waitedMs,
                                      const std::string& reason);

}  // namespace qvm
