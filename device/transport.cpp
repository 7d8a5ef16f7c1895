#include "device/transport.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <mutex>

namespace qvm {
namespace {

// Report IDs and the one command whose last byte carries data instead of a check byte.
constexpr uint8_t kShortReportId = 0;
constexpr uint8_t kLongReportId = 1;
constexpr uint8_t kUncheckedCommand = 0x09;

uint8_t XorOf(const Frame& f, int first, int last) {
    uint8_t x = 0;
    for (int i = first; i <= last; ++i) x ^= f[static_cast<std::size_t>(i)];
    return x;
}

// Writes byte 0 and the check byte of a request of `length` bytes.
void FrameRequest(Frame& request, int length) {
    request[0] = kShortReportId;
    if (length == kShortFrame && request[1] != kUncheckedCommand) {
        request[kShortFrame - 1] = XorOf(request, 1, 7);
    } else if (length == kLongFrame) {
        request[kLongFrame - 1] = XorOf(request, 1, kLongFrame - 2);
        request[0] = kLongReportId;
    }
}

int PreWaitMs(int waitMs) {
    if (waitMs > Transport::kShortWaitMaxMs) return Transport::kPreWaitLongMs;
    return waitMs >= 1 ? Transport::kPreWaitShortMs : 0;
}

int PostWaitMs(int waitMs) {
    if (waitMs > Transport::kShortWaitMaxMs) return Transport::kPostWaitLongMs;
    return waitMs >= 1 ? Transport::kPostWaitShortMs : 0;
}

}  // namespace

DeviceFailure DescribeExchangeFailure(ExchangeOutcome outcome, int waitedMs,
                                      const std::string& reason) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", waitedMs / 1000.0);
    switch (outcome) {
        case ExchangeOutcome::Gone:
            return {ErrorKind::DeviceGone, "the device left", reason};
        case ExchangeOutcome::Busy:
            return {ErrorKind::DeviceBusy, std::string("the device stayed busy for ") + seconds,
                    reason};
        case ExchangeOutcome::Silent:
            return {ErrorKind::DeviceSilent,
                    std::string("the device did not answer for ") + seconds, reason};
        case ExchangeOutcome::Refused:
            return {ErrorKind::DeviceRefused, "the device did not take the request", reason};
        case ExchangeOutcome::NotOpened:
            return {ErrorKind::Other, "the device cannot be opened", reason};
        case ExchangeOutcome::Done:
            break;
    }
    return {};
}

Transport::Transport(HidBackend& backend, Clock& clock, NamedMutex& lock)
    : backend_(backend),
      clock_(clock),
      ownedLocks_(std::make_unique<SharedDeviceLock>(lock)),
      locks_(*ownedLocks_) {}

Transport::Transport(HidBackend& backend, Clock& clock, DeviceLocks& locks)
    : backend_(backend), clock_(clock), locks_(locks) {}

Transport::Polled Transport::Poll(HidHandle& handle, std::span<uint8_t> buffer, uint8_t reportId,
                                  int limit, bool clear) {
    Polled last{ExchangeOutcome::Silent, {}};
    for (int failures = 0;;) {
        if (clear) std::fill(buffer.begin(), buffer.end(), 0);
        buffer[0] = reportId;
        if (handle.GetFeature(buffer)) {
            if ((buffer[1] & kBusyBit) == 0) return {ExchangeOutcome::Done, {}};
            last = {ExchangeOutcome::Busy, {}};
        } else {
            HidFailure failure = handle.LastFailure();
            // A device that left will not come back to this handle: stop polling now.
            if (failure.kind == HidFailureKind::Gone) {
                return {ExchangeOutcome::Gone, std::move(failure.reason)};
            }
            last = {ExchangeOutcome::Silent, std::move(failure.reason)};
        }
        if (++failures >= limit) return last;
        clock_.SleepMs(kPollSleepMs);
    }
}

Transport::Exchanged Transport::Exchange(HidHandle& handle, NamedMutex& lock, Frame& request,
                                         Frame& reply, int length, int waitMs) {
    exchanges_.fetch_add(1, std::memory_order_relaxed);
    // A report needs at least the report ID and the status byte and fits in a Frame.
    if (length < 2 || length > kLongFrame) return {ExchangeOutcome::NotOpened, {}, 0, {}};
    FrameRequest(request, length);
    const uint8_t reportId = request[0];

    Exchanged result;
    {
        // Held from before the first poll until after the last sleep, so no other
        // exchange with this device (of this process or, through the lock file, of
        // another one) can fall between our poll, write and reply.
        std::lock_guard guard(lock);
        const Clock::TimePoint start = clock_.Now();
        auto polled = [&]() -> Polled {
            std::array<uint8_t, kIdleScratchSize> scratch{};
            Polled idle = Poll(handle, std::span(scratch).first(static_cast<std::size_t>(length)),
                               reportId, kIdlePollLimit, true);
            if (idle.outcome != ExchangeOutcome::Done) return idle;
            // A request that never reached the device has no reply to wait for, and must
            // not pass for one the device carried out.
            if (!handle.SetFeature(request.Span(length))) {
                HidFailure failure = handle.LastFailure();
                const bool gone = failure.kind == HidFailureKind::Gone;
                return {gone ? ExchangeOutcome::Gone : ExchangeOutcome::Refused,
                        std::move(failure.reason)};
            }
            if (const int pre = PreWaitMs(waitMs)) clock_.SleepMs(pre);
            if (waitMs < 0) return {};
            if (waitMs > 0) clock_.SleepMs(waitMs);
            Polled answered = Poll(handle, reply.Span(length), reportId, kReplyPollLimit, false);
            if (answered.outcome != ExchangeOutcome::Done) return answered;
            if (length == kLongFrame) {
                result.checkByteOk = reply[kLongFrame - 1] == XorOf(reply, 1, kLongFrame - 2);
            }
            reply[1] &= kStatusMask;
            if (const int post = PostWaitMs(waitMs)) clock_.SleepMs(post);
            return {};
        }();
        result.outcome = polled.outcome;
        result.reason = std::move(polled.reason);
        result.waitedMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - start).count());
    }
    handle.CancelIo();
    return result;
}

bool Transport::ExchangeFeature(HidHandle& handle, Frame& request, Frame& reply, int length,
                                int waitMs) {
    auto lock = locks_.For({});
    if (!lock) return false;
    return Exchange(handle, **lock, request, reply, length, waitMs).outcome ==
           ExchangeOutcome::Done;
}

bool Transport::SendCommand(Frame& request, Frame& reply, const std::string& path, int waitMs,
                            ExchangeOutcome* outcome) {
    auto setOutcome = [outcome](ExchangeOutcome o) {
        if (outcome) *outcome = o;
    };
    if (RefuseIfGone(path)) {
        setOutcome(ExchangeOutcome::Gone);
        return false;
    }
    auto handle = backend_.Open(path);
    if (!handle.ok() || !*handle) {
        // An open that finds the device gone says nothing the departure does not.
        if (!handle.ok() && handle.kind() == ErrorKind::DeviceGone) {
            MarkGone(path);
            RefuseIfGone(path);
            setOutcome(ExchangeOutcome::Gone);
            return false;
        }
        RecordFailure(path, DescribeExchangeFailure(ExchangeOutcome::NotOpened, 0,
                                                    handle.ok() ? "" : handle.message()));
        setOutcome(ExchangeOutcome::NotOpened);
        return false;
    }
    const int length = (*handle)->Caps().featureLength;
    if (length < 2 || length > kLongFrame) {
        RecordFailure(path, DescribeExchangeFailure(ExchangeOutcome::NotOpened, 0,
                                                    "it has no configuration report"));
        setOutcome(ExchangeOutcome::NotOpened);
        return false;
    }
    auto lock = locks_.For(path);
    if (!lock) {
        RecordFailure(path, DescribeExchangeFailure(ExchangeOutcome::NotOpened, 0, lock.message()));
        setOutcome(ExchangeOutcome::NotOpened);
        return false;
    }
    const Exchanged result = Exchange(**handle, **lock, request, reply, length, waitMs);
    Record(path, result);
    setOutcome(result.outcome);
    return true;
}

// ---- What is known of each device's failures ----

void Transport::Record(const std::string& path, const Exchanged& result) {
    if (result.outcome == ExchangeOutcome::Gone) MarkGone(path, result.reason);
    std::lock_guard guard(stateMutex_);
    PathState& state = states_[path];
    if (result.outcome == ExchangeOutcome::Done) {
        state.failure.reset();
    } else {
        NoteLocked(state, DescribeExchangeFailure(result.outcome, result.waitedMs, result.reason));
    }
    if (result.checkByteOk) state.garbledInARow = *result.checkByteOk ? 0 : state.garbledInARow + 1;
}

void Transport::NoteRefusal(const std::string& path, DeviceFailure failure) {
    failure.refused = true;
    RecordFailure(path, std::move(failure));
}

void Transport::RecordFailure(const std::string& path, DeviceFailure failure) {
    std::lock_guard guard(stateMutex_);
    NoteLocked(states_[path], std::move(failure));
}

void Transport::NoteLocked(PathState& state, DeviceFailure failure) {
    state.recent = failure;
    state.recentSerial = ++failureSerial_;
    state.failure = std::move(failure);
}

uint64_t Transport::FailureMark() const {
    std::lock_guard guard(stateMutex_);
    return failureSerial_;
}

std::optional<DeviceFailure> Transport::FailureSince(const std::string& path, uint64_t mark) const {
    std::lock_guard guard(stateMutex_);
    auto it = states_.find(path);
    if (it == states_.end() || it->second.recentSerial <= mark) return std::nullopt;
    return it->second.recent;
}

std::optional<DeviceFailure> Transport::RefuseIfGone(const std::string& path) {
    std::lock_guard guard(stateMutex_);
    auto it = states_.find(path);
    if (it == states_.end() || !it->second.goneReason) return std::nullopt;
    NoteLocked(it->second,
               DescribeExchangeFailure(ExchangeOutcome::Gone, 0, *it->second.goneReason));
    return it->second.failure;
}

std::optional<DeviceFailure> Transport::LastFailure(const std::string& path) const {
    std::lock_guard guard(stateMutex_);
    auto it = states_.find(path);
    if (it == states_.end()) return std::nullopt;
    return it->second.failure;
}

int Transport::GarbledReplies(const std::string& path) const {
    std::lock_guard guard(stateMutex_);
    auto it = states_.find(path);
    return it == states_.end() ? 0 : it->second.garbledInARow;
}

void Transport::MarkGone(const std::string& path, const std::string& reason) {
    std::lock_guard guard(stateMutex_);
    PathState& state = states_[path];
    if (!state.goneReason) state.goneReason = reason;
}

bool Transport::IsGone(const std::string& path) const {
    std::lock_guard guard(stateMutex_);
    auto it = states_.find(path);
    return it != states_.end() && it->second.goneReason.has_value();
}

void Transport::Forget(const std::string& path) {
    std::lock_guard guard(stateMutex_);
    states_.erase(path);
}

// The report pipe. Our HID backends complete a write before Write() returns (hidraw
// blocks at most for one interrupt transfer), so the 8 ms write wait and its 200 x 1 ms
// completion loop reduce to the call itself. The read gets the whole budget of the
// overlapped read as one bounded wait: 20 ms for the first look plus 200 steps of
// 1 ms, i.e. Read() with a 220 ms time-out; the backend returns as soon as a report
// arrives. Pending I/O is cancelled after each phase.
std::optional<HidFailure> Transport::Pipe(HidHandle* handle, std::span<const uint8_t> request,
                                          std::span<uint8_t> reply, int waitMs) {
    exchanges_.fetch_add(1, std::memory_order_relaxed);
    std::optional<HidFailure> gone;
    auto note = [&](bool ok) {
        if (ok) return;
        HidFailure failure = handle->LastFailure();
        if (failure.kind == HidFailureKind::Gone) gone = std::move(failure);
    };
    if (handle) {
        note(handle->Write(request));
        handle->CancelIo();
    }
    if (gone) return gone;
    if (waitMs > 0) clock_.SleepMs(waitMs);
    if (handle) {
        note(handle->Read(reply, kPipeReadWaitMs + kPipeCompletionSteps * kPollSleepMs) >= 0);
        handle->CancelIo();
    }
    return gone;
}

bool Transport::ExchangeReports(HidHandle* handle, std::span<const uint8_t> request,
                                std::span<uint8_t> reply, int waitMs) {
    Pipe(handle, request, reply, waitMs);
    return true;
}

bool Transport::SendReports(const std::string& path, std::span<const uint8_t> request,
                            std::span<uint8_t> reply, int waitMs) {
    if (RefuseIfGone(path)) return false;
    auto handle = backend_.Open(path);
    std::optional<std::string> gone;
    if (!handle.ok()) {
        if (handle.kind() == ErrorKind::DeviceGone) gone = std::string();
    } else if (*handle) {
        if (auto failure = Pipe(handle->get(), request, reply, waitMs)) gone = failure->reason;
    }
    if (gone) {
        MarkGone(path, *gone);
        RefuseIfGone(path);
        return false;
    }
    if (!handle.ok() || !*handle) return false;
    Record(path, {});
    return true;
}

}  // namespace qvm
