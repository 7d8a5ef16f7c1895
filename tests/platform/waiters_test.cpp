// The waiter threads of a running instance, on real session events pulsed from a second
// set of objects that stands for the other process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "session/startup.h"
#include "support/fake_clock.h"

namespace qvm {
namespace {

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

struct ActCase {
    const char* label;
    Which which;
    int wakes, closes, reloads;
    bool quits;
    std::vector<int> sleeps;
};

class WaiterActTest : public testing::TestWithParam<ActCase> {};

TEST_P(WaiterActTest, EachEventDrivesItsOwnCallback) {
    const ActCase& c = GetParam();
    Rig rig;
    {
        Waiters waiters(*rig.wake, *rig.close, *rig.reload, rig.Callbacks(), rig.quit, rig.clock);
        rig.PulseFromOutside(c.which);
        Counter& expected = c.which == Which::kWake    ? rig.wakes
                            : c.which == Which::kClose ? rig.closes
                                                       : rig.reloads;
        ASSERT_TRUE(expected.WaitFor(1));
        EXPECT_TRUE(waiters.Failure().empty()) << waiters.Failure();
    }
    EXPECT_EQ(rig.wakes.Count(), c.wakes);
    EXPECT_EQ(rig.closes.Count(), c.closes);
    EXPECT_EQ(rig.reloads.Count(), c.reloads);
    EXPECT_EQ(rig.quit.stop_requested(), c.quits);
    EXPECT_EQ(rig.clock.Sleeps(), c.sleeps);
}

INSTANTIATE_TEST_SUITE_P(Cases, WaiterActTest,
                         testing::Values(ActCase{"wake", Which::kWake, 1, 0, 0, false, {}},
                                         ActCase{"close", Which::kClose, 0, 1, 0, true, {}},
                                         ActCase{"reload", Which::kReload, 0, 0, 1, false, {2}}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(WaitersTest, WakeActsOnEveryPulse) {
    Rig rig;
    Waiters waiters(*rig.wake, *rig.close, *rig.reload, rig.Callbacks(), rig.quit, rig.clock);
    for (int n = 1; n <= 3; ++n) {
        rig.PulseFromOutside(Which::kWake);
        ASSERT_TRUE(rig.wakes.WaitFor(n)) << "pulse " << n;
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

TEST(WaitersTest, QuitAlreadySetMeansNoWaiterActs) {
    Rig rig;
    rig.quit.request_stop();
    {
        Waiters waiters(*rig.wake, *rig.close, *rig.reload, rig.Callbacks(), rig.quit, rig.clock);
        for (Which w : {Which::kWake, Which::kClose, Which::kReload}) rig.PulseFromOutside(w);
    }
    EXPECT_EQ(rig.wakes.Count() + rig.closes.Count() + rig.reloads.Count(), 0);
    EXPECT_TRUE(*rig.wake->TryWait());
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
