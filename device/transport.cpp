#include "device/transport.h"

#include <array>
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

Transport::Transport(HidBackend& backend, Clock& clock, NamedMutex& lock)
    : backend_(backend), clock_(clock), lock_(lock) {}

bool Transport::PollUntilIdle(HidHandle& handle, int length, uint8_t reportId) {
    std::array<uint8_t, kIdleScratchSize> scratch{};
    std::span<uint8_t> buffer(scratch.data(), static_cast<std::size_t>(length));
    for (int failures = 0;;) {
        scratch.fill(0);
        scratch[0] = reportId;
        if (handle.GetFeature(buffer) && (scratch[1] & kBusyBit) == 0) return true;
        if (++failures >= kIdlePollLimit) return false;
        clock_.SleepMs(kPollSleepMs);
    }
}

bool Transport::PollReply(HidHandle& handle, Frame& reply, int length, uint8_t reportId) {
    for (int failures = 0;;) {
        reply[0] = reportId;
        if (handle.GetFeature(reply.Span(length)) && (reply[1] & kBusyBit) == 0) return true;
        if (++failures >= kReplyPollLimit) return false;
        clock_.SleepMs(kPollSleepMs);
    }
}

bool Transport::ExchangeFeature(HidHandle& handle, Frame& request, Frame& reply, int length,
                                int waitMs) {
    exchanges_.fetch_add(1, std::memory_order_relaxed);
    // A report needs at least the report ID and the status byte and fits in a Frame.
    if (length < 2 || length > kLongFrame) return false;
    FrameRequest(request, length);
    const uint8_t reportId = request[0];

    bool ok = false;
    {
        // Held from before the first poll until after the last sleep, so no other
        // exchange of this process (or, through the lock file, of another one) can
        // fall between our poll, write and reply.
        std::lock_guard lock(lock_);
        ok = [&] {
            if (!PollUntilIdle(handle, length, reportId)) return false;
            handle.SetFeature(request.Span(length));  // the device's answer is the reply
            if (const int pre = PreWaitMs(waitMs)) clock_.SleepMs(pre);
            if (waitMs < 0) return true;
            if (waitMs > 0) clock_.SleepMs(waitMs);
            if (!PollReply(handle, reply, length, reportId)) return false;
            reply[1] &= kStatusMask;
            if (const int post = PostWaitMs(waitMs)) clock_.SleepMs(post);
            return true;
        }();
    }
    handle.CancelIo();
    return ok;
}

bool Transport::SendCommand(Frame& request, Frame& reply, const std::string& path, int waitMs,
                            ExchangeOutcome* outcome) {
    auto setOutcome = [outcome](ExchangeOutcome o) {
        if (outcome) *outcome = o;
    };
    auto handle = backend_.Open(path);
    if (!handle.ok() || !*handle) {
        setOutcome(ExchangeOutcome::NotOpened);
        return false;
    }
    const int length = (*handle)->Caps().featureLength;
    if (length < 2 || length > kLongFrame) {
        setOutcome(ExchangeOutcome::NotOpened);
        return false;
    }
    const bool done = ExchangeFeature(**handle, request, reply, length, waitMs);
    setOutcome(done ? ExchangeOutcome::Done : ExchangeOutcome::TimedOut);
    return true;
}

// The report pipe. Our HID backends complete a write before Write() returns (hidraw
// blocks at most for one interrupt transfer), so the 8 ms write wait and its 200 x 1 ms
// completion loop reduce to the call itself. The read gets the whole budget of the
// overlapped read as one bounded wait: 20 ms for the first look plus 200 steps of
// 1 ms, i.e. Read() with a 220 ms time-out; the backend returns as soon as a report
// arrives. Pending I/O is cancelled after each phase.
bool Transport::ExchangeReports(HidHandle* handle, std::span<const uint8_t> request,
                                std::span<uint8_t> reply, int waitMs) {
    exchanges_.fetch_add(1, std::memory_order_relaxed);
    if (handle) {
        handle->Write(request);
        handle->CancelIo();
    }
    if (waitMs > 0) clock_.SleepMs(waitMs);
    if (handle) {
        handle->Read(reply, kPipeReadWaitMs + kPipeCompletionSteps * kPollSleepMs);
        handle->CancelIo();
    }
    return true;
}

bool Transport::SendReports(const std::string& path, std::span<const uint8_t> request,
                            std::span<uint8_t> reply, int waitMs) {
    auto handle = backend_.Open(path);
    if (!handle.ok() || !*handle) return false;
    return ExchangeReports(handle->get(), request, reply, waitMs);
}

}  // namespace qvm
