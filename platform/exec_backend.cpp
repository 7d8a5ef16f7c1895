// The device bridge, host side: HidBackend and HidHandle over the line protocol.
#include "platform/exec_backend.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <stop_token>
#include <thread>

#include "base/event_fd.h"
#include "platform/bridge_backend.h"
#include "platform/bridge_protocol.h"

namespace qvm {
namespace {

// What a request's answer line must look like.
enum class Expect {
    Ok,           // "ok"
    OkHex,        // "ok HEX"
    OkHexOrNone,  // "ok HEX" or "none"
};

struct Reply {
    bool none = false;           // the answer was "none"
    std::vector<uint8_t> bytes;  // the HEX of "ok HEX"
};

std::string Request(std::string_view verb, std::string_view id, std::string_view argument) {
    std::string line(verb);
    line += ' ';
    line += id;
    line += ' ';
    line += argument;
    return line;
}

// Checks the shape of a one-line answer; an answer of the wrong shape breaks the channel.
Result<Reply> ParseAnswer(BridgeChannel& channel, const std::string& request,
                          const std::string& line, Expect expect) {
    Reply reply;
    if (expect == Expect::OkHexOrNone && line == bridge::kNone) {
        reply.none = true;
        return reply;
    }
    if (expect == Expect::Ok) {
        if (line == bridge::kOk) return reply;
        return channel.Break(request, line);
    }
    auto fields = SplitBridgeFields(line);
    std::optional<std::vector<uint8_t>> bytes;
    if (fields && fields->size() == 2 && (*fields)[0] == bridge::kOk)
        bytes = DecodeBridgeHex((*fields)[1]);
    if (!bytes) return channel.Break(request, line);
    reply.bytes = std::move(*bytes);
    return reply;
}

// True while the server's `list` still names `id`; a list that cannot be had (refused)
// gives the device the benefit of the doubt, a broken channel does not.
bool StillListed(BridgeChannel& channel, const std::string& id) {
    auto answer = channel.Ask(bridge::kList, BridgeChannel::Form::Block);
    if (!answer) return false;
    if (answer->refusal) return true;
    for (const std::string& line : answer->lines) {
        auto fields = SplitBridgeFields(line);
        if (fields && fields->size() >= 2 && (*fields)[0] == bridge::kDev &&
            BridgeToLower((*fields)[1]) == BridgeToLower(id)) {
            return true;
        }
    }
    return false;
}

class BridgeHandle final : public HidHandle {
  public:
    BridgeHandle(std::shared_ptr<BridgeChannel> channel, std::string id, HidCaps caps,
                 const BridgeOptions& options)
        : channel_(std::move(channel)),
          id_(std::move(id)),
          caps_(caps),
          clock_(options.clock ? *options.clock : SystemClock::Instance()),
          pollMs_(std::max(1, options.readPollMs)),
          watchClock_(options.clock),
          watchPollMs_(std::max(1, options.watchPollMs)),
          watchIdlePollMs_(std::max(watchPollMs_, options.watchIdlePollMs)) {}

    const HidCaps& Caps() const override { return caps_; }

    bool GetFeature(std::span<uint8_t> buffer) override {
        if (buffer.empty()) return false;
        std::string request = Request(bridge::kGetFeature, id_, EncodeBridgeHex(buffer));
        auto reply = Transact(request, Expect::OkHex);
        if (!reply) return false;
        if (reply->bytes.size() != buffer.size()) {
            Broken(channel_->Break(request, "ok " + EncodeBridgeHex(reply->bytes)));
            return false;
        }
        std::copy(reply->bytes.begin(), reply->bytes.end(), buffer.begin());
        return true;
    }

    bool SetFeature(std::span<const uint8_t> report) override {
        if (report.empty()) return false;
        return Transact(Request(bridge::kSetFeature, id_, EncodeBridgeHex(report)), Expect::Ok)
            .ok();
    }

    bool Write(std::span<const uint8_t> report) override {
        if (report.empty()) return false;
        return Transact(Request(bridge::kWrite, id_, EncodeBridgeHex(report)), Expect::Ok).ok();
    }

    // The server never blocks on `read`, so waiting is done here: poll, then sleep a
    // little, until a report arrives, the time is up, or CancelIo is called. A
    // negative timeout waits without limit (until a report, a failure or CancelIo).
    int Read(std::span<uint8_t> buffer, int timeoutMs) override {
        if (buffer.empty() || buffer.size() > static_cast<std::size_t>(kBridgeMaxReportLength))
            return -1;
        if (watch_) return ReadWatched(buffer, timeoutMs);
        const unsigned generation = cancelGeneration_.load();
        const auto start = clock_.Now();
        const auto limit = std::chrono::milliseconds(timeoutMs);
        std::string request = Request(bridge::kRead, id_, std::to_string(buffer.size()));
        while (true) {
            auto reply = Transact(request, Expect::OkHexOrNone);
            if (!reply) return -1;
            if (!reply->none) {
                if (reply->bytes.empty()) {
                    Broken(channel_->Break(request, "ok -"));
                    return -1;
                }
                // A longer report is cut to the caller's buffer, as a device read would.
                std::size_t n = std::min(reply->bytes.size(), buffer.size());
                std::copy_n(reply->bytes.begin(), n, buffer.begin());
                return static_cast<int>(n);
            }
            if (cancelGeneration_.load() != generation) return 0;
            int sleepMs = pollMs_;
            if (timeoutMs >= 0) {
                auto elapsed = clock_.Now() - start;
                if (elapsed >= limit) return 0;
                auto left = std::chrono::ceil<std::chrono::milliseconds>(limit - elapsed);
                sleepMs = static_cast<int>(std::min<long long>(sleepMs, left.count()));
            }
            clock_.SleepMs(sleepMs);
        }
    }

    std::optional<std::vector<uint8_t>> IndexedString(int index) override {
        if (index < 0) return std::nullopt;
        // A missing string is an answer, not a transfer that failed: no failure is noted.
        const std::string request = Request(bridge::kString, id_, std::to_string(index));
        auto answer = channel_->Ask(request, BridgeChannel::Form::Line);
        if (!answer || answer->refusal) return std::nullopt;
        auto reply = ParseAnswer(*channel_, request, answer->lines.front(), Expect::OkHex);
        if (!reply) return std::nullopt;
        return std::move(reply->bytes);
    }

    void CancelIo() override { ++cancelGeneration_; }

    HidFailure LastFailure() const override { return failure_; }

    // The protocol answers `read` at once and never announces a report, so a handle
    // asked for a descriptor to wait on starts a watcher: it asks `read` at once again
    // after a report, and after empty answers at pauses that grow from watchPollMs to
    // watchIdlePollMs (BridgeWatchPacing); it keeps what arrives for Read() and raises an
    // eventfd while anything is kept or the device failed. Only then is the server asked
    // without a caller waiting.
    int ReadyFd() const override {
        std::call_once(watchOnce_, [this] { const_cast<BridgeHandle*>(this)->StartWatch(); });
        return watch_ ? watch_->ready.get() : -1;
    }

  private:
    struct Watch {
        UniqueFd ready;  // eventfd: readable while `kept` holds a report or `failure` is set
        std::mutex mutex;
        std::condition_variable_any changed;
        std::deque<std::vector<uint8_t>> kept;  // guarded by mutex
        std::optional<HidFailure> failure;      // guarded by mutex: the watcher stopped
        std::jthread thread;                    // last: stops before the rest goes
    };
    // The most reports kept for a reader that does not come; the oldest go first.
    static constexpr std::size_t kMaxKept = 64;

    void StartWatch() {
        auto watch = std::make_unique<Watch>();
        watch->ready.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
        if (!watch->ready) return;
        watch_ = std::move(watch);
        watch_->thread = std::jthread([this](std::stop_token stop) { Watching(stop); });
    }

    void Watching(std::stop_token stop) {
        Watch& watch = *watch_;
        const std::string request =
            Request(bridge::kRead, id_, std::to_string(kBridgeMaxReportLength));
        BridgeWatchPacing pacing(watchPollMs_, watchIdlePollMs_);
        while (!stop.stop_requested()) {
            HidFailure failure;
            auto reply = Transact(request, Expect::OkHexOrNone, failure);
            if (reply && !reply->none && reply->bytes.empty()) {
                failure = {HidFailureKind::Gone, channel_->Break(request, "ok -").message};
                reply = MakeError(ErrorKind::DeviceGone, failure.reason);
            }
            std::unique_lock lock(watch.mutex);
            if (!reply) {
                watch.failure = failure;
                Raise(watch);
                return;
            }
            if (!reply->none) {
                if (watch.kept.size() >= kMaxKept) watch.kept.pop_front();
                watch.kept.push_back(std::move(reply->bytes));
                Raise(watch);
            }
            const int pauseMs = pacing.Next(!reply->none);
            if (pauseMs == 0) continue;
            if (watchClock_) {
                lock.unlock();
                watchClock_->SleepMs(pauseMs);
            } else {
                watch.changed.wait_for(lock, stop, std::chrono::milliseconds(pauseMs),
                                       [] { return false; });
            }
        }
    }

    // With the watch's lock held.
    static void Raise(Watch& watch) {
        SignalEventFd(watch.ready.get());
        watch.changed.notify_all();
    }

    int ReadWatched(std::span<uint8_t> buffer, int timeoutMs) {
        Watch& watch = *watch_;
        std::unique_lock lock(watch.mutex);
        auto waiting = [&] { return !watch.kept.empty() || watch.failure; };
        if (!waiting() && timeoutMs != 0) {
            if (timeoutMs < 0) {
                watch.changed.wait(lock, waiting);
            } else {
                watch.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), waiting);
            }
        }
        if (!watch.kept.empty()) {
            const std::vector<uint8_t> report = std::move(watch.kept.front());
            watch.kept.pop_front();
            if (watch.kept.empty()) DrainEventFd(watch.ready.get());
            // A longer report is cut to the caller's buffer, as a device read would.
            const std::size_t n = std::min(report.size(), buffer.size());
            std::copy_n(report.begin(), n, buffer.begin());
            return static_cast<int>(n);
        }
        if (watch.failure) {
            failure_ = *watch.failure;
            return -1;
        }
        return 0;
    }

    Result<Reply> Transact(const std::string& request, Expect expect) {
        return Transact(request, expect, failure_);
    }

    // One request about this handle's device with a one-line answer. A failure is noted
    // with its reason: a broken channel takes every device with it; `err gone...`, or an
    // `err` for a device the server no longer lists, is a departure; any other `err` is
    // a transfer the device refused.
    Result<Reply> Transact(const std::string& request, Expect expect, HidFailure& failure) {
        auto answer = channel_->Ask(request, BridgeChannel::Form::Line);
        if (!answer) return Broken(answer.error(), failure);
        if (answer->refusal) {
            const std::string& text = *answer->refusal;
            const bool gone = IsBridgeGoneText(text) || !Listed();
            failure = {gone ? HidFailureKind::Gone : HidFailureKind::Failed, "bridge: " + text};
            return MakeError(gone ? ErrorKind::DeviceGone : ErrorKind::Other,
                             channel_->Refused(request, text));
        }
        auto reply = ParseAnswer(*channel_, request, answer->lines.front(), expect);
        if (!reply) return Broken(reply.error(), failure);
        return reply;
    }

    Error Broken(Error error) { return Broken(std::move(error), failure_); }
    Error Broken(Error error, HidFailure& failure) {
        failure = {HidFailureKind::Gone, error.message};
        error.kind = ErrorKind::DeviceGone;
        return error;
    }

    // Whether the server still lists this device; asked once per handle, on its first
    // refusal, so a device that refuses every poll costs one `list`, not one per poll.
    bool Listed() {
        std::lock_guard lock(listedMutex_);  // then the channel's lock
        if (!listed_) listed_ = StillListed(*channel_, id_);
        return *listed_;
    }

    std::shared_ptr<BridgeChannel> channel_;
    const std::string id_;  // the server's own spelling of the ID
    const HidCaps caps_;
    Clock& clock_;
    const int pollMs_;
    std::atomic<unsigned> cancelGeneration_{0};
    Clock* const watchClock_;  // null: the watcher's pauses end when it is stopped
    const int watchPollMs_;
    const int watchIdlePollMs_;
    HidFailure failure_;
    std::mutex listedMutex_;
    std::optional<bool> listed_;  // guarded by listedMutex_
    mutable std::once_flag watchOnce_;
    // Last: its thread stops before the members it uses go.
    std::unique_ptr<Watch> watch_;
};

class BridgeBackend final : public HidBackend {
  public:
    BridgeBackend(std::shared_ptr<BridgeChannel> channel, const BridgeOptions& options)
        : channel_(std::move(channel)), options_(options) {}

    Result<std::vector<HidDeviceInfo>> Enumerate() override {
        auto answer = channel_->Ask(bridge::kList, BridgeChannel::Form::Block);
        if (!answer) return answer.error();
        if (answer->refusal) return MakeError(channel_->Refused(bridge::kList, *answer->refusal));
        std::map<std::string, BridgeDevice> devices;
        std::vector<HidDeviceInfo> infos;
        for (const std::string& line : answer->lines) {
            auto device = ParseLine(bridge::kList, line, bridge::kDev);
            if (!device) return device.error();
            infos.push_back(device->info);
            devices[BridgeToLower(device->id)] = std::move(*device);
        }
        std::lock_guard lock(knownMutex_);
        known_ = std::move(devices);
        return infos;
    }

    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        auto id = BridgeIdFromPath(path);
        if (!id) return MakeError("'" + path + "' is not a device bridge path");
        if (auto broken = channel_->Broken()) return MakeError(ErrorKind::DeviceGone, *broken);
        auto device = Find(path, *id);
        if (!device) {
            // The path may come from an earlier session: look again before giving up.
            auto listed = Enumerate();
            if (!listed) return listed.error();
            device = Find(path, *id);
        }
        if (!device) {
            return MakeError(ErrorKind::DeviceGone,
                             "no device at '" + path + "' on " + channel_->Name());
        }
        return std::unique_ptr<HidHandle>(
            std::make_unique<BridgeHandle>(channel_, device->id, device->info.caps, options_));
    }

    std::vector<HidEvent> TakeEvents() override {
        std::vector<HidEvent> events;
        if (!channel_->Broken()) {
            auto answer = channel_->Ask(bridge::kEvents, BridgeChannel::Form::Block);
            if (answer && !answer->refusal) {
                for (const std::string& line : answer->lines) {
                    if (!TakeEvent(line, events)) break;
                }
            }
        }
        // A bridge that is gone takes its devices with it: report each removal once.
        if (channel_->Broken()) {
            std::lock_guard lock(knownMutex_);
            for (const auto& [key, device] : known_)
                events.push_back({HidEventKind::Removed, {.path = device.info.path}});
            known_.clear();
        }
        return events;
    }

  private:
    // Parses "WORD ID fields..." where WORD must be `word`; breaks the channel otherwise.
    Result<BridgeDevice> ParseLine(std::string_view request, const std::string& line,
                                   std::string_view word) {
        auto fields = SplitBridgeFields(line);
        if (!fields || fields->front() != word) return channel_->Break(request, line);
        auto device = ParseBridgeDevice(std::span(*fields).subspan(1));
        if (!device) return channel_->Break(request, line);
        return device;
    }

    // Applies one line of an `events` answer; false when it broke the channel.
    bool TakeEvent(const std::string& line, std::vector<HidEvent>& events) {
        auto fields = SplitBridgeFields(line);
        if (fields && fields->size() == 2 && (*fields)[0] == bridge::kRemove &&
            IsValidBridgeId((*fields)[1])) {
            std::lock_guard lock(knownMutex_);
            auto it = known_.find(BridgeToLower((*fields)[1]));
            // A device never listed cannot be named by anyone: nothing to report.
            if (it != known_.end()) {
                events.push_back({HidEventKind::Removed, {.path = it->second.info.path}});
                known_.erase(it);
            }
            return true;
        }
        auto device = ParseLine(bridge::kEvents, line, bridge::kAdd);
        if (!device) return false;
        events.push_back({HidEventKind::Added, device->info});
        std::lock_guard lock(knownMutex_);
        known_[BridgeToLower(device->id)] = std::move(*device);
        return true;
    }

    std::optional<BridgeDevice> Find(const std::string& path, const std::string& id) {
        std::lock_guard lock(knownMutex_);
        auto it = known_.find(BridgeToLower(id));
        if (it == known_.end() || it->second.info.path != BridgeToLower(path)) return std::nullopt;
        return it->second;
    }

    std::shared_ptr<BridgeChannel> channel_;
    const BridgeOptions options_;
    // Devices by lower-case ID, from the last `list` and the events since. Never held
    // while a request is in flight, so it does not nest with the channel's lock.
    std::mutex knownMutex_;
    std::map<std::string, BridgeDevice> known_;
};

Result<std::unique_ptr<HidBackend>> SayHello(std::shared_ptr<BridgeChannel> channel,
                                             const BridgeOptions& options) {
    const std::string hello =
        std::string(bridge::kHello) + " " + std::to_string(kBridgeProtocolVersion);
    auto answer = channel->Ask(hello, BridgeChannel::Form::Line);
    if (!answer) return answer.error();
    if (answer->refusal) return MakeError(channel->Refused(hello, *answer->refusal));
    const std::string expected =
        std::string(bridge::kOk) + " " + std::to_string(kBridgeProtocolVersion);
    if (answer->lines.front() != expected) {
        channel->Break(hello, answer->lines.front());
        return MakeError(channel->Name() + " does not speak protocol version " +
                         std::to_string(kBridgeProtocolVersion) + " (it answered '" +
                         answer->lines.front().substr(0, 60) + "')");
    }
    return std::unique_ptr<HidBackend>(
        std::make_unique<BridgeBackend>(std::move(channel), options));
}

}  // namespace

Result<std::unique_ptr<HidBackend>> MakeExecBackend(const std::string& command,
                                                    const BridgeOptions& options) {
    auto channel = BridgeChannel::Start(command, options);
    if (!channel) return channel.error();
    return SayHello(std::move(*channel), options);
}

Result<std::unique_ptr<HidBackend>> MakeExecBackend(const std::string& command) {
    return MakeExecBackend(command, BridgeOptions{});
}

Result<std::unique_ptr<HidBackend>> ConnectBridgeBackend(UniqueFd requests, UniqueFd answers,
                                                         const BridgeOptions& options) {
    return SayHello(
        std::make_shared<BridgeChannel>(std::move(requests), std::move(answers), options), options);
}

}  // namespace qvm
