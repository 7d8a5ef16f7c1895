#include "host/host_actions.h"

#include <condition_variable>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>

namespace qvm {

// One thread that sleeps until `pending` says there is work, then runs `work`. The
// predicate reads state the handing-in thread changes without the worker's lock; Wake
// takes the lock once before notifying, so a change made just before Wake is seen either
// by the predicate or by the wait it ends, never lost between the two.
class HostActions::Worker {
  public:
    Worker(std::function<bool()> pending, std::function<void(std::stop_token)> work)
        : pending_(std::move(pending)),
          work_(std::move(work)),
          thread_([this](std::stop_token stop) { Loop(stop); }) {}

    void Wake() {
        { std::lock_guard lock(mutex_); }
        wake_.notify_one();
    }
    void Stop() {
        thread_.request_stop();
        if (thread_.joinable()) thread_.join();
    }
    std::uint64_t WakeUps() const { return wakeUps_.load(std::memory_order_relaxed); }

  private:
    void Loop(std::stop_token stop) {
        while (!stop.stop_requested()) {
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait(lock, stop, pending_)) return;
            }
            wakeUps_.fetch_add(1, std::memory_order_relaxed);
            if (stop.stop_requested()) return;
            work_(stop);
        }
    }

    const std::function<bool()> pending_;
    const std::function<void(std::stop_token)> work_;
    std::mutex mutex_;  // leaf
    std::condition_variable_any wake_;
    std::atomic<std::uint64_t> wakeUps_{0};
    std::jthread thread_;  // last: starts once the rest is built
};

HostActions::HostActions(InputInjector& injector, Clock& clock, HostStatus& status,
                         HostCallbacks callbacks)
    : injector_(injector), clock_(clock), status_(status), callbacks_(std::move(callbacks)) {
    moveWorker_ = std::make_unique<Worker>(
        [this] { return pendingDx_.load() != 0 || pendingDy_.load() != 0; },
        [this](std::stop_token) { MoveWork(); });
    tiltWorker_ = std::make_unique<Worker>([this] { return pendingTilt_.load() != 0; },
                                           [this](std::stop_token) { TiltWork(); });
    if (injector_.CanTouch()) {
        touchWorker_ =
            std::make_unique<Worker>([this] { return downs_.load() > gesturesStarted_; },
                                     [this](std::stop_token stop) { TouchGesture(stop); });
    }
}

HostActions::~HostActions() {
    Stop();
}

void HostActions::Stop() {
    for (auto* worker : {moveWorker_.get(), tiltWorker_.get(), touchWorker_.get()}) {
        if (worker) worker->Stop();
    }
}

std::uint64_t HostActions::WakeUps() const {
    std::uint64_t total = 0;
    for (const Worker* worker : {moveWorker_.get(), tiltWorker_.get(), touchWorker_.get()}) {
        if (worker) total += worker->WakeUps();
    }
    return total;
}

void HostActions::HandleReport(std::span<const std::uint8_t> bytes) {
    Handle(DecodeVendorReport(bytes));
}

void HostActions::Handle(const VendorReport& report) {
    std::visit(
        [this](const auto& r) {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, PointerReport>) {
                HandlePointer(r);
            } else if constexpr (std::is_same_v<R, StatusReport>) {
                const StatusEffects effects = status_.Apply(r);
                if (callbacks_.statusApplied) callbacks_.statusApplied(effects);
            } else if constexpr (std::is_same_v<R, WindowCommandReport>) {
                const auto& call = r.command == WindowCommand::RestoreMainWindow
                                       ? callbacks_.restoreMainWindow
                                       : callbacks_.minimiseActiveWindow;
                if (call) call();
            }
        },
        report);
}

void HostActions::HandlePointer(const PointerReport& r) {
    if (r.contact != contact_.load()) {
        contact_.store(r.contact);
        (r.contact ? downs_ : ups_).fetch_add(1);
        if (touchWorker_) touchWorker_->Wake();
    }
    if (r.dx != 0 || r.dy != 0) {
        // A move split between two takes still adds up to the same place.
        pendingDx_.fetch_add(r.dx);
        pendingDy_.fetch_add(r.dy);
        moveWorker_->Wake();
    }
    if (r.tilt != 0) {
        pendingTilt_.fetch_add(r.tilt);
        tiltWorker_->Wake();
    }
}

void HostActions::MoveWork() {
    const int dx = pendingDx_.exchange(0);
    const int dy = pendingDy_.exchange(0);
    if (dx == 0 && dy == 0) return;
    std::lock_guard lock(injectorMutex_);
    Check(injector_.MovePointer(dx, dy));
}

void HostActions::TiltWork() {
    const int steps = pendingTilt_.exchange(0);
    if (steps == 0) return;
    std::lock_guard lock(injectorMutex_);
    Check(injector_.ScrollHorizontal(steps));
}

InjectPoint HostActions::PointerOr(InjectPoint fallback) {
    std::lock_guard lock(injectorMutex_);
    Result<InjectPoint> at = injector_.PointerPosition();
    return at.ok() ? at.value() : fallback;
}

void HostActions::InjectTouch(TouchPhase phase, InjectPoint at) {
    {
        std::lock_guard lock(injectorMutex_);
        Check(injector_.Touch(phase, at));
    }
    clock_.SleepMs(kTouchPhaseMs);
}

// One finger touch at the pointer: in range, down, following the pointer while the mouse
// holds the contact, up, out of range. Stopping lifts the finger rather than leave it down.
void HostActions::TouchGesture(std::stop_token stop) {
    const std::uint64_t gesture = ++gesturesStarted_;
    InjectPoint at = PointerOr({});
    InjectTouch(TouchPhase::Hover, at);
    InjectTouch(TouchPhase::Down, at);
    while (ups_.load() < gesture && !stop.stop_requested()) {
        at = PointerOr(at);
        InjectTouch(TouchPhase::Move, at);
    }
    InjectTouch(TouchPhase::Up, at);
    InjectTouch(TouchPhase::Out, at);
}

void HostActions::Check(const Status& status) {
    if (status.ok() || injectionFailed_.exchange(true)) return;
    if (callbacks_.injectionFailed) callbacks_.injectionFailed(status.error());
}

}  // namespace qvm
