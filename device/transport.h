// Transport: every configuration command is one feature-report exchange with the
// device's configuration interface. The transport frames the request (report ID and
// check byte), serialises all exchanges behind the transport lock, waits until the
// device is idle, sends, waits for the device to finish and reads the reply.
// A second, simpler path exchanges output and input reports through the report pipe
// (the keyboard models).
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "device/frame.h"
#include "platform/clock.h"
#include "platform/hid.h"
#include "platform/named_mutex.h"

namespace qvm {

// How a SendCommand ended, for callers that must not trust a reply that never came.
enum class ExchangeOutcome {
    NotOpened,  // the path could not be opened or has no feature report
    TimedOut,   // the device stayed busy or silent past a poll limit
    Done,       // the exchange completed (or was a send-only request)
};

class Transport {
  public:
    // Name of the process-wide lock every feature exchange holds. Callers open it with
    // OpenNamedMutex(kLockName) and pass it in.
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

    Transport(HidBackend& backend, Clock& clock, NamedMutex& lock);
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // One framed feature exchange on an open handle. waitMs < 0 sends without reading
    // a reply; 0 or more reads the reply after the pacing waits. Returns false when the
    // device stayed busy for the whole idle poll or the reply poll.
    bool ExchangeFeature(HidHandle& handle, Frame& request, Frame& reply, int length, int waitMs);

    // Opens `path`, exchanges with its feature report length and closes it again.
    // Returns false only when the path cannot be opened or has no feature report; the
    // exchange's own result goes to *outcome when given.
    bool SendCommand(Frame& request, Frame& reply, const std::string& path, int waitMs,
                     ExchangeOutcome* outcome = nullptr);

    // Report pipe: writes `request` as one output report (skipped when handle is null),
    // sleeps waitMs when positive, then reads one input report into `reply`. Always
    // returns true; callers judge the reply bytes.
    bool ExchangeReports(HidHandle* handle, std::span<const uint8_t> request,
                         std::span<uint8_t> reply, int waitMs);
    // Opens `path` and runs ExchangeReports; false when the path cannot be opened.
    bool SendReports(const std::string& path, std::span<const uint8_t> request,
                     std::span<uint8_t> reply, int waitMs);

    // Exchanges started since construction (feature and report pipe together).
    uint64_t ExchangeCount() const { return exchanges_.load(std::memory_order_relaxed); }

    Clock& GetClock() { return clock_; }

  private:
    bool PollUntilIdle(HidHandle& handle, int length, uint8_t reportId);
    bool PollReply(HidHandle& handle, Frame& reply, int length, uint8_t reportId);

    HidBackend& backend_;
    Clock& clock_;
    NamedMutex& lock_;
    std::atomic<uint64_t> exchanges_{0};
};

}  // namespace qvm
