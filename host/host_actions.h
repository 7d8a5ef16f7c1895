// The host's side of the mouse's vendor reports: pointer moves, horizontal scrolling and
// the "Virtual Touch" gesture are injected on worker threads, status reports update the
// host status, window commands go to the window through callbacks.
//
// Reports are handed in from one thread at a time (the report reader); handing in only
// decodes and stores, so it never waits for an injection. Each worker sleeps on its
// condition variable until there is work for it: an idle engine wakes no thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>

#include "base/result.h"
#include "host/host_status.h"
#include "host/vendor_report.h"
#include "platform/clock.h"
#include "platform/input_injector.h"

namespace qvm {

// Time between two phases of the touch gesture (hover, down, each move while in contact,
// up, out of range).
inline constexpr int kTouchPhaseMs = 8;

struct HostCallbacks {
    // Window commands, called on the thread that hands in the report; they should only
    // pass the command on to the window's own thread. Left empty, the command is dropped.
    std::function<void()> restoreMainWindow;
    std::function<void()> minimiseActiveWindow;
    // A status report was applied to the host status; called on the handing-in thread.
    std::function<void(const StatusEffects&)> statusApplied;
    // The first injection that failed since the engine started (the user is told once);
    // called on a worker thread.
    std::function<void(const Error&)> injectionFailed;
};

class HostActions {
  public:
    // `injector`, `clock` and `status` outlive the engine. Without touch in the injector,
    // the contact is still tracked but no gesture is injected.
    HostActions(InputInjector& injector, Clock& clock, HostStatus& status, HostCallbacks callbacks);
    ~HostActions();
    HostActions(const HostActions&) = delete;
    HostActions& operator=(const HostActions&) = delete;

    void HandleReport(std::span<const std::uint8_t> bytes);
    void Handle(const VendorReport& report);

    // Whether the virtual finger is down, as the last pointer report said.
    bool TouchContact() const { return contact_.load(); }
    // Times a worker has woken for work since the engine started, summed over the
    // workers (for tests and benchmarks: an idle engine never wakes).
    std::uint64_t WakeUps() const;

    // Wakes and joins the workers. A touch gesture in progress lifts the finger first;
    // moves and scrolling not yet injected are dropped. Idempotent.
    void Stop();

  private:
    class Worker;

    void HandlePointer(const PointerReport& report);
    void MoveWork();
    void TiltWork();
    void TouchGesture(std::stop_token stop);
    InjectPoint PointerOr(InjectPoint fallback);
    void InjectTouch(TouchPhase phase, InjectPoint at);
    void Check(const Status& status);

    InputInjector& injector_;
    Clock& clock_;
    HostStatus& status_;
    const HostCallbacks callbacks_;

    std::mutex injectorMutex_;  // leaf: the injector is used by one worker at a time
    std::atomic<bool> injectionFailed_{false};

    // Pending work, written by the handing-in thread and taken whole by the workers with
    // one exchange each, so that nothing that arrives in between is lost.
    std::atomic<int> pendingDx_{0};
    std::atomic<int> pendingDy_{0};
    std::atomic<int> pendingTilt_{0};
    // Contact edges: the n-th gesture holds the finger down until the n-th lift has been
    // seen, so a tap shorter than one phase still gives a whole gesture.
    std::atomic<bool> contact_{false};
    std::atomic<std::uint64_t> downs_{0};
    std::atomic<std::uint64_t> ups_{0};
    std::uint64_t gesturesStarted_ = 0;  // touch worker only

    // Last: the workers stop before the state they use goes away.
    std::unique_ptr<Worker> moveWorker_;
    std::unique_ptr<Worker> tiltWorker_;
    std::unique_ptr<Worker> touchWorker_;  // only with an injector that can touch
};

}  // namespace qvm
