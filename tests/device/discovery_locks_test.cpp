// Two programs of the user, each with its own device: one identifies a device that does
// not answer, the other works on a healthy device meanwhile. The shared locks are the
// real named ones (lock files), opened twice as two processes would open them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "discovery_rig.h"

namespace qvm {
namespace {

// A clock whose sleeps block while its gate is closed, so a test can hold a program in
// the middle of an exchange for as long as it likes.
class GateClock final : public Clock {
  public:
    void SleepMs(int ms) override {
        std::unique_lock lock(m_);
        ++blocked_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --blocked_;
        now_ += std::chrono::milliseconds(ms);
    }
    TimePoint Now() const override {
        std::lock_guard lock(m_);
        return now_;
    }
    // Waits (at most `limit`) until a sleep is held at the gate.
    bool WaitUntilHeld(std::chrono::seconds limit) {
        std::unique_lock lock(m_);
        return changed_.wait_for(lock, limit, [&] { return blocked_ > 0; });
    }
    void Open() {
        std::lock_guard lock(m_);
        open_ = true;
        changed_.notify_all();
    }

  private:
    mutable std::mutex m_;
    std::condition_variable changed_;
    bool open_ = false;
    int blocked_ = 0;
    TimePoint now_{};
};

// One program: its own simulated devices, its own handles on the shared named locks.
struct Program {
    SimBackend* sim = nullptr;  // owned by the stack
    DeviceStack stack;
    DeviceCommands& commands;
    DeviceLink& link;

    Program(const std::string& devices, Clock& clock, const std::string& lockBase)
        : stack(test::Kept(sim, test::MakeSim(devices, clock)), clock,
                DeviceStack::Locks{std::make_unique<NamedDeviceLocks>(lockBase + " transport"),
                                   std::move(OpenNamedMutex(lockBase + " list")).value()}),
          commands(stack.Commands()),
          link(stack.Link()) {}
};

// Hang guard only: a correct program finishes at once; this limit only keeps a wrong one
// from hanging the suite.
constexpr std::chrono::seconds kHangGuard{30};

// Removes the lock files a test made under `base`.
struct LockFilesGone {
    std::string base;
    ~LockFilesGone() {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(LockFolder(), ignored)) {
            if (entry.path().filename().string().rfind(base, 0) == 0) {
                std::filesystem::remove(entry.path(), ignored);
            }
        }
    }
};

TEST(DiscoveryLocks, ASilentDeviceInAnotherProgramHoldsUpNobody) {
    const std::string base = "qvm-test-" + std::to_string(::getpid()) + " locks";
    const LockFilesGone cleanup{base};
    GateClock slowClock;
    test::FakeClock clock;
    Program slow("g12/noreply", slowClock, base);
    Program healthy("g5", clock, base);

    // The slow program is held inside the first exchange of its probe.
    std::jthread identifying([&] { (void)slow.link.EnumerateDevices(); });
    ASSERT_TRUE(slowClock.WaitUntilHeld(kHangGuard));

    auto work = std::async(std::launch::async, [&]() -> Status {
        if (Status s = healthy.link.EnumerateDevices(); !s) return s;
        const std::string path = healthy.link.GetDevicePath(0);
        if (path.empty()) return MakeError("the healthy device was not listed");
        if (Status s = healthy.link.ActivateDevice(path, true); !s) return s;
        healthy.commands.QueryStatus(path, 10);
        if (auto failed = healthy.stack.GetTransport().LastFailure(path)) return failed->ToError();
        return {};
    });
    const bool finished = work.wait_for(kHangGuard) == std::future_status::ready;
    slowClock.Open();  // let the slow program end either way
    ASSERT_TRUE(finished) << "the healthy program waited for the silent device's program";
    const Status done = work.get();
    EXPECT_TRUE(done.ok()) << done.message();
}

}  // namespace
}  // namespace qvm
