#include "platform/named_event.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>

#include "base/unique_fd.h"

namespace qvm {
namespace {

// A name no other test process (or running desktop program) uses.
std::string UniqueName(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "QVM_TEST_" + tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

// A socket bound by hand at an abstract name, standing for a process outside this code.
UniqueFd BindRaw(const std::string& abstractName) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, abstractName.data(), abstractName.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstractName.size());
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), length) != 0) return {};
    return fd;
}

EventFactory& Events() {
    return SystemEventFactory();
}

// The name on the wire is what other programs of the session look for: a socket bound
// there by hand makes Create report "already exists", and a pulse reaches it.
TEST(NamedEventTest, ForeignSocketAtTheNameIsTheEvent) {
    const std::string name = UniqueName("foreign");
    UniqueFd raw = BindRaw(name + "@" + std::to_string(::getuid()));
    ASSERT_TRUE(raw);

    auto created = Events().Create(name);
    ASSERT_FALSE(created);
    EXPECT_EQ(created.failure(), EventFailure::kAlreadyExists);

    auto sender = Events().Open(name);
    ASSERT_TRUE(sender) << sender.message();
    ASSERT_TRUE((*sender)->Pulse());
    char byte = 0;
    EXPECT_EQ(::recv(raw.get(), &byte, 1, MSG_DONTWAIT), 1);
}

enum class Op { kCreate, kOpen };
struct LifecycleCase {
    const char* label;
    bool ownerAlive;    // an owner holds the name while op runs
    bool ownerExisted;  // an owner held the name and has gone
    Op op;
    EventFailure expected;
};

class EventLifecycleTest : public testing::TestWithParam<LifecycleCase> {};

TEST_P(EventLifecycleTest, ReportsTheRightFailure) {
    const LifecycleCase& c = GetParam();
    const std::string name = UniqueName(c.label);
    std::unique_ptr<NamedEvent> owner;
    if (c.ownerAlive || c.ownerExisted) owner = std::move(Events().Create(name)).value();
    if (c.ownerExisted) owner.reset();

    EventFailure failure = EventFailure::kNone;
    if (c.op == Op::kCreate) {
        failure = Events().Create(name).failure();
    } else {
        failure = Events().Open(name).failure();
    }
    EXPECT_EQ(failure, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventLifecycleTest,
    testing::Values(LifecycleCase{"create_free", false, false, Op::kCreate, EventFailure::kNone},
                    LifecycleCase{"create_taken", true, false, Op::kCreate,
                                  EventFailure::kAlreadyExists},
                    LifecycleCase{"create_released", false, true, Op::kCreate, EventFailure::kNone},
                    LifecycleCase{"open_nobody", false, false, Op::kOpen, EventFailure::kNotFound},
                    LifecycleCase{"open_bound", true, false, Op::kOpen, EventFailure::kNone},
                    LifecycleCase{"open_gone", false, true, Op::kOpen, EventFailure::kNotFound}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(NamedEventTest, BadNamesAreRefusedAsSystemErrors) {
    for (const std::string& name :
         {std::string(), std::string("A@B"), std::string(200, 'x'), std::string("nul\0in", 6)}) {
        SCOPED_TRACE(name.size());
        auto created = Events().Create(name);
        ASSERT_FALSE(created);
        EXPECT_EQ(created.failure(), EventFailure::kSystem);
        EXPECT_EQ(Events().Open(name).failure(), EventFailure::kSystem);
    }
}

// Two objects stand for two processes: one owns the event, the other opens and pulses it.
TEST(NamedEventTest, PulseFromAnotherProcessWakesTheWaiter) {
    const std::string name = UniqueName("wake");
    auto owner = std::move(Events().Create(name)).value();
    auto result = std::async(std::launch::async, [&] { return owner->Wait({}); });
    auto sender = std::move(Events().Open(name)).value();
    ASSERT_TRUE(sender->Pulse());
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    Result<WaitOutcome> outcome = result.get();
    ASSERT_TRUE(outcome) << outcome.message();
    EXPECT_EQ(*outcome, WaitOutcome::kPulsed);
}

TEST(NamedEventTest, PulsesQueuedBeforeAWaitCountAsOne) {
    const std::string name = UniqueName("burst");
    auto owner = std::move(Events().Create(name)).value();
    auto sender = std::move(Events().Open(name)).value();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(sender->Pulse());
    ASSERT_TRUE(owner->Pulse());  // the owner may pulse its own event (server wake-ups)

    auto first = owner->Wait({});
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, WaitOutcome::kPulsed);
    EXPECT_FALSE(*owner->TryWait());
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

// An owner that never reads must not block or fail the processes that pulse it.
TEST(NamedEventTest, PulsingAnOwnerThatNeverReadsNeverBlocks) {
    const std::string name = UniqueName("full");
    auto owner = std::move(Events().Create(name)).value();
    auto sender = std::move(Events().Open(name)).value();
    for (int i = 0; i < 5000; ++i) ASSERT_TRUE(sender->Pulse()) << "pulse " << i;
    EXPECT_TRUE(*owner->TryWait());
    EXPECT_FALSE(*owner->TryWait());
}

TEST(NamedEventTest, StopEndsAWaitInProgressAndOneRequestedBefore) {
    const std::string name = UniqueName("stop");
    auto owner = std::move(Events().Create(name)).value();
    for (int round = 0; round < 20; ++round) {
        std::stop_source stop;
        auto result = std::async(std::launch::async, [&] { return owner->Wait(stop.get_token()); });
        stop.request_stop();
        ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(*result.get(), WaitOutcome::kStopped);
    }
    std::stop_source already;
    already.request_stop();
    EXPECT_EQ(*owner->Wait(already.get_token()), WaitOutcome::kStopped);
}

// A stop that meets a pending pulse leaves the pulse for the next wait.
TEST(NamedEventTest, StopDoesNotSwallowAPendingPulse) {
    const std::string name = UniqueName("keep");
    auto owner = std::move(Events().Create(name)).value();
    ASSERT_TRUE(owner->Pulse());
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(*owner->Wait(stop.get_token()), WaitOutcome::kStopped);
    EXPECT_EQ(*owner->Wait({}), WaitOutcome::kPulsed);
}

}  // namespace
}  // namespace qvm
