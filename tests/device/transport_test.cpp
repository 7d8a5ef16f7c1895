// Transport: pacing, poll limits, failures and the lock. The frames themselves are
// checked against the simulator, which refuses a frame with a wrong report ID, marker or
// check byte.
#include "device/transport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_clock.h"
#include "support/fake_hid.h"

namespace qvm {
namespace {

using test::Bytes;
using test::FakeHidBackend;
using test::FakeHidDevice;
using test::HidOp;

// One event log shared by the lock, the clock and the device: "L"/"U" lock and
// unlock, "s" a sleep, "G"/"S"/"C" GetFeature, SetFeature and CancelIo.
class EventLog {
  public:
    void Add(char c) {
        std::lock_guard lock(m_);
        events_ += c;
    }
    std::string Events() const {
        std::lock_guard lock(m_);
        return events_;
    }

  private:
    mutable std::mutex m_;
    std::string events_;
};

class LoggingMutex final : public NamedMutex {
  public:
    explicit LoggingMutex(EventLog& log) : log_(log) {}
    void lock() override {
        m_.lock();
        log_.Add('L');
    }
    void unlock() override {
        log_.Add('U');
        m_.unlock();
    }

  private:
    std::mutex m_;
    EventLog& log_;
};

class LoggingClock final : public Clock {
  public:
    explicit LoggingClock(EventLog& log) : log_(log) {}
    void SleepMs(int ms) override {
        log_.Add('s');
        inner.SleepMs(ms);
    }
    TimePoint Now() const override { return inner.Now(); }
    test::FakeClock inner;

  private:
    EventLog& log_;
};

const std::string kTransportPath = "sim#vid_0c45&pid_7040&mi_01#1";

struct TransportFixture : ::testing::Test {
    EventLog log;
    LoggingMutex mutex{log};
    LoggingClock clock{log};
    FakeHidBackend backend;
    Transport transport{backend, clock, mutex};

    FakeHidDevice& AddDevice(HidCaps caps) {
        FakeHidDevice& device = backend.Add(kTransportPath, caps);
        device.SetObserver([this](HidOp::Kind k) {
            log.Add(k == HidOp::Kind::GetFeature   ? 'G'
                    : k == HidOp::Kind::SetFeature ? 'S'
                    : k == HidOp::Kind::CancelIo   ? 'C'
                                                   : '?');
        });
        return device;
    }
    bool Exchange(Frame& request, Frame& reply, int waitMs) {
        ExchangeOutcome outcome = ExchangeOutcome::NotOpened;
        EXPECT_TRUE(transport.SendCommand(request, reply, kTransportPath, waitMs, &outcome));
        return outcome == ExchangeOutcome::Done;
    }
};

// ---- Pacing: lock, polls, write, sleeps, in this order ----

struct PacingCase {
    int waitMs;
    std::string events;
    std::vector<int> sleeps;
};

class Pacing : public TransportFixture, public ::testing::WithParamInterface<PacingCase> {};

TEST_P(Pacing, WaitsAroundTheReplyUnderTheLock) {
    AddDevice(test::LongCaps());
    Frame request{0x00, 0x02, 0x10, 0x00};
    Frame reply;
    ASSERT_TRUE(Exchange(request, reply, GetParam().waitMs));
    EXPECT_EQ(log.Events(), GetParam().events);
    EXPECT_EQ(clock.inner.Sleeps(), GetParam().sleeps);
}

INSTANTIATE_TEST_SUITE_P(Transport, Pacing,
                         ::testing::Values(PacingCase{-1, "LGSUC", {}}, PacingCase{0, "LGSGUC", {}},
                                           PacingCase{4, "LGSssGsUC", {1, 4, 1}},
                                           PacingCase{5, "LGSssGsUC", {2, 5, 3}}),
                         [](const auto& info) {
                             const int w = info.param.waitMs;
                             return (w < 0 ? "SendOnly" : "Wait") + std::to_string(w < 0 ? -w : w);
                         });

// ---- Poll limits ----

struct PollCase {
    const char* name;
    int idleBusy;
    int idleFailures;
    int replyBusy;
    bool ok;
    int gets;
    int sets;
    int sleeps;  // all of 1 ms (wait 0 adds none)
};

class PollLimits : public TransportFixture, public ::testing::WithParamInterface<PollCase> {};

TEST_P(PollLimits, GivesUpAfterTheLimitAndAlwaysUnlocks) {
    const PollCase& c = GetParam();
    FakeHidDevice& device = AddDevice(test::LongCaps());
    device.BusyFor(c.idleBusy);
    device.FailReads(c.idleFailures);
    // Busy replies only after the request went out.
    int replyBusy = c.replyBusy;
    device.SetResponder([&replyBusy](const Bytes& last) {
        Bytes answer(64, 0);
        if (!last.empty() && replyBusy > 0) {
            --replyBusy;
            answer[1] = 0x80;
        }
        return answer;
    });
    Frame request{0x00, 0x02, 0x10};
    Frame reply;
    EXPECT_EQ(Exchange(request, reply, 0), c.ok);
    EXPECT_EQ(device.Count(HidOp::Kind::GetFeature), c.gets);
    EXPECT_EQ(device.Count(HidOp::Kind::SetFeature), c.sets);
    EXPECT_EQ(clock.inner.Sleeps(), std::vector<int>(static_cast<std::size_t>(c.sleeps), 1));
    const std::string events = log.Events();
    EXPECT_EQ(events.substr(events.size() - 2), "UC");  // unlocked, then I/O cancelled
}

INSTANTIATE_TEST_SUITE_P(
    Transport, PollLimits,
    ::testing::Values(PollCase{"MixedBusyAndFailures", 200, 220, 0, true, 422, 1, 420},
                      PollCase{"ReplyAfter300Busy", 0, 0, 300, true, 302, 1, 300},
                      PollCase{"ReplyBusyWholePoll", 0, 0, 301, false, 302, 1, 300}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Why an exchange failed ----

struct FailureCase {
    const char* name;
    std::function<void(FakeHidDevice&)> script;
    int waitMs;
    ExchangeOutcome outcome;
    int gets;  // feature reads the exchange made: a departure ends the polling at once
    int sets;
    ErrorKind kind;
    std::string message;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class ExchangeFailures : public TransportFixture,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExchangeFailures, SayWhyAndStopPollingADepartedDevice) {
    const FailureCase& c = GetParam();
    FakeHidDevice& device = AddDevice(test::LongCaps());
    c.script(device);
    Frame request{0x00, 0x02, 0x10};
    Frame reply;
    ExchangeOutcome outcome = ExchangeOutcome::Done;
    transport.SendCommand(request, reply, kTransportPath, c.waitMs, &outcome);
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(device.Count(HidOp::Kind::GetFeature), c.gets);
    EXPECT_EQ(device.Count(HidOp::Kind::SetFeature), c.sets);
    const auto failure = transport.LastFailure(kTransportPath);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->kind, c.kind);
    EXPECT_EQ(failure->Message(), c.message);
    const std::string events = log.Events();
    if (c.gets > 0) {
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events.substr(events.size() - 2), "UC");  // unlocked, then I/O cancelled
    }
}

INSTANTIATE_TEST_SUITE_P(
    Transport, ExchangeFailures,
    ::testing::Values(FailureCase{"GoneBeforeTheIdlePoll", [](FakeHidDevice& d) { d.Unplug(); }, 0,
                                  ExchangeOutcome::Gone, 0, 0, ErrorKind::DeviceGone,
                                  "the device left"},
                      FailureCase{"GoneAfterTheWrite",
                                  [](FakeHidDevice& d) { d.UnplugAfterNextSet(); }, 10,
                                  ExchangeOutcome::Gone, 2, 1, ErrorKind::DeviceGone,
                                  "the device left (unplugged)"},
                      // The request never reached the device: no reply is waited for, nothing
                      // pretends the command was carried out.
                      FailureCase{"RequestNotTaken", [](FakeHidDevice& d) { d.RefuseSets(1); }, 10,
                                  ExchangeOutcome::Refused, 1, 1, ErrorKind::DeviceRefused,
                                  "the device did not take the request (write failed)"}),
    [](const auto& info) { return std::string(info.param.name); });

// A device known gone, by a failed exchange or an announced removal, fails at once
// without being opened or polled, until it is probed again.
TEST_F(TransportFixture, ADepartedDeviceFailsAtOnceUntilItIsProbedAgain) {
    for (const bool announced : {false, true}) {
        SCOPED_TRACE(announced ? "announced removal" : "failed exchange");
        FakeHidDevice& device = AddDevice(test::LongCaps());
        Frame request{0x00, 0x02};
        Frame reply;
        ExchangeOutcome outcome = ExchangeOutcome::Done;
        if (announced) {
            transport.MarkGone(kTransportPath, "removed");
        } else {
            device.UnplugAfterNextSet();
            transport.SendCommand(request, reply, kTransportPath, 0, &outcome);
        }
        const int opens = backend.OpenCount();
        device.ClearOps();
        EXPECT_FALSE(transport.SendCommand(request, reply, kTransportPath, 0, &outcome));
        EXPECT_EQ(outcome, ExchangeOutcome::Gone);
        EXPECT_EQ(backend.OpenCount(), opens);
        EXPECT_TRUE(device.Ops().empty());
        EXPECT_EQ(transport.LastFailure(kTransportPath)->kind, ErrorKind::DeviceGone);

        AddDevice(test::LongCaps());
        transport.Forget(kTransportPath);
        EXPECT_TRUE(transport.SendCommand(request, reply, kTransportPath, 0, &outcome));
        EXPECT_FALSE(transport.LastFailure(kTransportPath).has_value());
    }
}

// ---- Two threads never interleave inside an exchange ----

TEST(TransportThreads, ConcurrentExchangesStayContiguous) {
    test::FakeClock clock;
    LocalMutex mutex;
    FakeHidBackend backend;
    FakeHidDevice& device = backend.Add(kTransportPath, test::LongCaps());
    device.SetYield(true);
    Transport transport(backend, clock, mutex);
    constexpr int kPerThread = 200;
    auto worker = [&](uint8_t command) {
        for (int i = 0; i < kPerThread; ++i) {
            Frame request{0x00, command};
            Frame reply;
            transport.SendCommand(request, reply, kTransportPath, 0);
        }
    };
    {
        std::jthread a(worker, uint8_t{0x02});
        std::jthread b(worker, uint8_t{0x03});
    }
    std::vector<HidOp> feature;
    for (const HidOp& op : device.Ops()) {
        if (op.kind != HidOp::Kind::CancelIo) feature.push_back(op);
    }
    ASSERT_EQ(feature.size(), 3u * 2 * kPerThread);
    for (std::size_t i = 0; i < feature.size(); i += 3) {
        SCOPED_TRACE(i);
        EXPECT_EQ(feature[i].kind, HidOp::Kind::GetFeature);
        EXPECT_EQ(feature[i + 1].kind, HidOp::Kind::SetFeature);
        EXPECT_EQ(feature[i + 2].kind, HidOp::Kind::GetFeature);
        EXPECT_EQ(feature[i + 1].thread, feature[i].thread);
        EXPECT_EQ(feature[i + 2].thread, feature[i].thread);
    }
    EXPECT_EQ(transport.ExchangeCount(), 2u * kPerThread);
}

}  // namespace
}  // namespace qvm
