#include "host/host_actions.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

#include "host_rig.h"
#include "support/fake_input_injector.h"

namespace qvm {
namespace {

using test::InjectedCall;
using test::Pointer;
using Kind = InjectedCall::Kind;
using Phase = TouchPhase;
using namespace std::chrono_literals;

// Holds every sleep until the test opens it, so a gesture does not pass its first phase
// before the test has handed in what it wants.
class GateClock final : public Clock {
  public:
    void SleepMs(int ms) override {
        std::unique_lock lock(m_);
        opened_.wait(lock, [&] { return open_; });
        now_ += ms * 1ms;
        lock.unlock();
        std::this_thread::sleep_for(1ms);  // a held contact moves 1000 times a second at most
    }
    TimePoint Now() const override {
        std::lock_guard lock(m_);
        return now_;
    }
    void Open() {
        std::lock_guard lock(m_);
        open_ = true;
        opened_.notify_all();
    }

  private:
    mutable std::mutex m_;
    std::condition_variable opened_;
    TimePoint now_{};
    bool open_ = false;
};

class HostActionsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        clock_.Open();
        actions_.Stop();
    }
    std::vector<InjectedCall> Calls(Kind kind) const {
        std::vector<InjectedCall> out;
        for (const auto& c : injector_.Calls()) {
            if (c.kind == kind) out.push_back(c);
        }
        return out;
    }
    // Polls until `done` holds; false after a minute.
    template <class Pred>
    bool Eventually(Pred done) {
        for (int i = 0; i < 60000 && !done(); ++i) std::this_thread::sleep_for(1ms);
        return done();
    }
    bool TouchedAt(Phase phase, InjectPoint at) {
        return Eventually([&] {
            const auto t = Calls(Kind::Touch);
            return !t.empty() && t.back().phase == phase && t.back().a == at.x &&
                   t.back().b == at.y;
        });
    }

    GateClock clock_;
    test::FakeInputInjector injector_{&clock_};
    HostStatus status_;
    int restores_ = 0;
    HostActions actions_{injector_, clock_, status_, {.restoreMainWindow = [&] { ++restores_; }}};
};

TEST_F(HostActionsTest, TouchGesturesAreWholeAndEvenlySpaced) {
    injector_.SetPosition({10, 10});
    actions_.HandleReport(Pointer(true, 0, 0, 0));  // a tap shorter than one phase
    actions_.HandleReport(Pointer(false, 0, 0, 0));
    clock_.Open();
    ASSERT_TRUE(TouchedAt(Phase::Out, {10, 10}));
    actions_.HandleReport(Pointer(true, 0, 0, 0));  // a drag
    ASSERT_TRUE(TouchedAt(Phase::Move, {10, 10}));
    actions_.HandleReport(Pointer(true, 5, -3, 0));
    ASSERT_TRUE(TouchedAt(Phase::Move, {15, 7}));
    actions_.HandleReport(Pointer(false, 0, 0, 0));
    ASSERT_TRUE(TouchedAt(Phase::Out, {15, 7}));
    actions_.Stop();

    const auto t = Calls(Kind::Touch);
    std::vector<Phase> phases;
    for (std::size_t i = 0; i < t.size(); ++i) {
        phases.push_back(t[i].phase);
        EXPECT_EQ(t[i].at - t[0].at, 8ms * i) << i;
    }
    ASSERT_GE(phases.size(), 10u);
    EXPECT_EQ(
        std::vector(phases.begin(), phases.begin() + 6),
        (std::vector{Phase::Hover, Phase::Down, Phase::Up, Phase::Out, Phase::Hover, Phase::Down}));
    EXPECT_EQ(std::vector(phases.end() - 2, phases.end()), (std::vector{Phase::Up, Phase::Out}));
    EXPECT_EQ(std::count(phases.begin() + 6, phases.end() - 2, Phase::Move), phases.size() - 8);
}

TEST_F(HostActionsTest, TiltAndMovesFromABurstAllArrive) {
    actions_.HandleReport(Pointer(false, 0, 0, 0));
    actions_.HandleReport(test::ReportBytes({{1, 0x0D}, {2, 1}}));
    actions_.HandleReport(Pointer(false, 0, 0, -3));
    ASSERT_TRUE(Eventually([&] { return !injector_.Calls().empty(); }));
    EXPECT_EQ(injector_.Calls(), (std::vector<InjectedCall>{{Kind::Scroll, -3}}));
    EXPECT_EQ(restores_, 1);

    const int tilts[] = {-3, 5, 127, -128, 1};
    int tilt = -3;
    std::jthread reader([&] {
        for (int i = 0; i < 3000; ++i) actions_.HandleReport(Pointer(false, 1, -2, tilts[i % 5]));
    });
    for (int i = 0; i < 3000; ++i) tilt += tilts[i % 5];
    reader.join();
    auto sum = [&](Kind kind, int InjectedCall::*field) {
        int total = 0;
        for (const auto& c : Calls(kind)) total += c.*field;
        return total;
    };
    EXPECT_TRUE(Eventually([&] {
        return sum(Kind::Scroll, &InjectedCall::a) == tilt &&
               sum(Kind::Move, &InjectedCall::a) == 3000 &&
               sum(Kind::Move, &InjectedCall::b) == -6000;
    }));
}

// Only work wakes a worker: one tilt wakes one worker once, and the reports handled on the
// handing-in thread (status, window commands) and reports with nothing to inject wake none.
TEST_F(HostActionsTest, OnlyWorkWakesAWorker) {
    EXPECT_EQ(actions_.WakeUps(), 0u);
    actions_.HandleReport(Pointer(false, 0, 0, 2));
    ASSERT_TRUE(Eventually([&] { return !Calls(Kind::Scroll).empty(); }));
    actions_.HandleReport(Pointer(false, 0, 0, 0));
    actions_.HandleReport(test::ReportBytes({{1, 0x0D}, {2, 1}}));
    actions_.HandleReport(test::ReportBytes({{1, 0x0C}, {2, 1}, {3, 8}, {4, 8}}));
    std::this_thread::sleep_for(20ms);  // room for a wrong wake-up to show
    EXPECT_EQ(actions_.WakeUps(), 1u);
    EXPECT_EQ(restores_, 1);
}

}  // namespace
}  // namespace qvm
