// Session events between processes: the name other programs look for, who gets which
// failure, pulses that merge or are lost, and stops; and the waiter threads of a running
// instance on them, pulsed from a second set of objects that stands for the other process.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <unistd.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/unique_fd.h"
#include "platform/named_event.h"
#include "session/startup.h"
#include "support/fake_clock.h"

namespace qvm {
namespace {

// A name no other test process (or running desktop program) uses.
std::string UniqueName(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "QVM_TEST_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

EventFactory& Events() {
    return SystemEventFactory();
}

// Whether another instance holds a name: Create fails while one does, Open while none does.
TEST(NamedEventTest, CreateAndOpenTellATakenNameFromAFreeOne) {
    const std::string name = UniqueName("life");
    EXPECT_EQ(Events().Open(name).failure(), EventFailure::kNotFound);
    auto owner = std::move(Events().Create(name)).value();
    EXPECT_EQ(Events().Create(name).failure(), EventFailure::kAlreadyExists);
    EXPECT_EQ(Events().Open(name).failure(), EventFailure::kNone);
    owner.reset();
    EXPECT_EQ(Events().Open(name).failure(), EventFailure::kNotFound);
}

// A pulse sent while nobody holds the name is lost; it must not wake a later owner. A
// sender opened earlier still reaches an owner that took the name again.
TEST(NamedEventTest, PulseWithNobodyBoundIsLost) {
    const std::string name = UniqueName("lost");
    auto owner = std::move(Events().Create(name)).value();
    auto sender = std::move(Events().Open(name)).value();
    owner.reset();
    EXPECT_TRUE(sender->Pulse());

    auto again = std::move(Events().Create(name)).value();
    EXPECT_FALSE(*again->TryWait());
    ASSERT_TRUE(sender->Pulse());
    EXPECT_TRUE(*again->TryWait());
}

// An owner that never reads must not block or fail the processes that pulse it, and the
// pulses queued meanwhile wake it once.
TEST(NamedEventTest, PulsingAnOwnerThatNeverReadsNeverBlocks) {
    const std::string name = UniqueName("full");
    auto owner = std::move(Events().Create(name)).value();
    auto sender = std::move(Events().Open(name)).value();
    for (int i = 0; i < 5000; ++i) ASSERT_TRUE(sender->Pulse()) << "pulse " << i;
    ASSERT_TRUE(owner->Pulse());  // the owner may pulse its own event (server wake-ups)
    EXPECT_TRUE(*owner->TryWait());
    EXPECT_FALSE(*owner->TryWait());
}

// A stop requested before the wait ends it at once, and one that meets a pending pulse
// leaves the pulse for the next wait. (A stop during a wait: the waiters' tests.)
TEST(NamedEventTest, StopDoesNotSwallowAPendingPulse) {
    const std::string name = UniqueName("keep");
    auto owner = std::move(Events().Create(name)).value();
    ASSERT_TRUE(owner->Pulse());
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(*owner->Wait(stop.get_token()), WaitOutcome::kStopped);
    EXPECT_EQ(*owner->Wait({}), WaitOutcome::kPulsed);
    EXPECT_EQ(*owner->Wait(stop.get_token()), WaitOutcome::kStopped);
}

using test::FakeClock;

class Counter {
  public:
    void Add() {
        std::lock_guard lock(m_);
        ++count_;
        cv_.notify_all();
    }
    // True once the count reaches n; false after a generous guard time.
    bool WaitFor(int n) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= n; });
    }
    int Count() {
        std::lock_guard lock(m_);
        return count_;
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    int count_ = 0;
};

enum class Which { kWake, kClose, kReload };

struct Rig {
    Rig() {
        static std::atomic<int> counter{0};
        const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(counter++);
        for (auto [event, base] :
             {std::pair{&wake, "WAKE"}, std::pair{&close, "CLOSE"}, std::pair{&reload, "RELOAD"}}) {
            *event =
                std::move(SystemEventFactory().Create("QVM_TEST_" + std::string(base) + "_" + tag))
                    .value();
        }
    }
    WaiterCallbacks Callbacks() {
        return {[this] { wakes.Add(); }, [this] { closes.Add(); }, [this] { reloads.Add(); }};
    }
    // Pulses through an opened sender, as another process does.
    void PulseFromOutside(Which which) {
        NamedEvent& event = which == Which::kWake    ? *wake
                            : which == Which::kClose ? *close
                                                     : *reload;
        auto sender = SystemEventFactory().Open(event.Name());
        ASSERT_TRUE(sender) << sender.message();
        ASSERT_TRUE((*sender)->Pulse());
    }

    std::unique_ptr<NamedEvent> wake, close, reload;
    Counter wakes, closes, reloads;
    FakeClock clock;
    std::stop_source quit;
};

// Each event drives its own callback and no other; a close also sets the quit flag, and
// a reload first waits a moment for the file to be complete.
TEST(WaitersTest, EachEventDrivesItsOwnCallback) {
    for (Which which : {Which::kWake, Which::kClose, Which::kReload}) {
        Rig rig;
        {
            Waiters waiters(*rig.wake, *rig.close, *rig.reload, rig.Callbacks(), rig.quit,
                            rig.clock);
            rig.PulseFromOutside(which);
            ASSERT_TRUE((which == Which::kWake    ? rig.wakes
                         : which == Which::kClose ? rig.closes
                                                  : rig.reloads)
                            .WaitFor(1));
            EXPECT_TRUE(waiters.Failure().empty()) << waiters.Failure();
        }
        EXPECT_EQ(rig.wakes.Count() + rig.closes.Count() + rig.reloads.Count(), 1);
        EXPECT_EQ(rig.quit.stop_requested(), which == Which::kClose);
        EXPECT_EQ(rig.clock.Sleeps(),
                  which == Which::kReload ? std::vector{2} : std::vector<int>{});
    }
}

// The close waiter sets the quit flag before its callback runs, acts once and ends; the
// quit flag ends the other waiters without anyone pulsing them.
TEST(WaitersTest, CloseActsOnceAndQuitEndsEveryWaiter) {
    Rig rig;
    std::atomic<bool> quitSeenByCallback{false};
    WaiterCallbacks callbacks = rig.Callbacks();
    callbacks.close = [&] {
        quitSeenByCallback = rig.quit.stop_requested();
        rig.closes.Add();
    };
    {
        Waiters waiters(*rig.wake, *rig.close, *rig.reload, callbacks, rig.quit, rig.clock);
        rig.PulseFromOutside(Which::kClose);
        ASSERT_TRUE(rig.closes.WaitFor(1));
        rig.PulseFromOutside(Which::kClose);
        rig.PulseFromOutside(Which::kWake);
        rig.PulseFromOutside(Which::kReload);
    }
    EXPECT_TRUE(quitSeenByCallback);
    EXPECT_EQ(rig.closes.Count(), 1);
    // Pulses sent after the quit are not acted on: they are still queued.
    EXPECT_TRUE(*rig.close->TryWait());
    EXPECT_EQ(rig.wakes.Count() + rig.reloads.Count(), 0);
}

// Destroying the waiters while they block, or setting the quit flag from another thread,
// must end them at once; repeated to give a race a chance to show.
TEST(WaitersTest, StopWhileBlockedEndsPromptly) {
    Rig rig;
    for (int round = 0; round < 20; ++round) {
        std::stop_source quit;
        Waiters waiters(*rig.wake, *rig.close, *rig.reload, rig.Callbacks(), quit, rig.clock);
        if (round % 2 == 0) quit.request_stop();
    }
    EXPECT_EQ(rig.wakes.Count() + rig.closes.Count() + rig.reloads.Count(), 0);
}

}  // namespace
}  // namespace qvm
