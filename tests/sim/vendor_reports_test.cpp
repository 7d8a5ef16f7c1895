// The vendor report reader over simulated mice: what reaches the callback, in which
// order, across arrivals and departures, beside configuration traffic (run under
// ThreadSanitizer too).
#include "session/vendor_reports.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/exec_backend.h"
#include "sim/sim_backend.h"
#include "sim_test_util.h"

namespace qvm::test::vendor_reports {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::LongRequest;

constexpr const char* kG12Vendor = "sim#vid_0c45&pid_7030&mi_01#d0i1";
constexpr const char* kG12Config = "sim#vid_0c45&pid_7030&mi_02#d0i2";
constexpr auto kPatience = 20s;  // only a broken reader takes this long

struct Delivered {
    std::string path;
    Bytes report;
    bool operator==(const Delivered&) const = default;
};

// What the reader hands over, kept for the test thread.
class Collector {
  public:
    VendorReportReader::ReportCallback Callback() {
        return [this](const std::string& path, std::span<const uint8_t> report) {
            std::lock_guard lock(mutex_);
            got_.push_back({path, Bytes(report.begin(), report.end())});
            changed_.notify_all();
        };
    }
    VendorReportReader::NoticeCallback Notices() {
        return [this](const std::string& message) {
            std::lock_guard lock(mutex_);
            notices_.push_back(message);
        };
    }
    // Waits until `count` reports have arrived (or a broken reader's patience is over).
    std::vector<Delivered> WaitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return got_.size() >= count; });
        return got_;
    }
    std::vector<std::string> NoticesSoFar() {
        std::lock_guard lock(mutex_);
        return notices_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Delivered> got_;
    std::vector<std::string> notices_;
};

// A vendor report of `length` bytes whose byte 1 and 2 tell it apart.
Bytes Report(size_t length, uint8_t tag, uint8_t sequence) {
    Bytes report(length, 0);
    report[0] = 0x0B;
    if (length > 1) report[1] = tag;
    if (length > 2) report[2] = sequence;
    return report;
}

bool WaitUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct Reading {
    std::unique_ptr<SimBackend> sim;
    Collector collector;
    std::unique_ptr<VendorReportReader> reader;

    explicit Reading(const std::string& devices,
                     const std::function<void(SimBackend&)>& beforeStart = {}) {
        auto made = SimBackend::Create(devices, "");
        EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
        sim = std::move(made).value();
        if (beforeStart) beforeStart(*sim);
        auto started = VendorReportReader::Start(*sim, collector.Callback(), collector.Notices());
        EXPECT_TRUE(started.ok());
        reader = std::move(started).value();
    }
    std::string VendorPath(size_t device) {
        const int iface = sim->Device(device).VendorInterface();
        for (const HidDeviceInfo& info : sim->Device(device).Interfaces()) {
            if (info.interfaceNumber == iface) return info.path;
        }
        return {};
    }
};

TEST(VendorReports, ReadsTheVendorInterfacesOfMiceOnly) {
    const struct {
        std::string devices;
        std::vector<std::string> open;
    } cases[] = {
        {"g12", {kG12Vendor}},
        {"g0", {"sim#vid_0c45&pid_7010&mi_01#d0i1"}},
        {"g5", {"sim#vid_0c45&pid_7020&mi_02#d0i2"}},
        {"mx28,mx29", {}},
        {"mx28,g12,mx29,g3",
         {"sim#vid_0c45&pid_7020&mi_02#d3i2", "sim#vid_0c45&pid_7030&mi_01#d1i1"}},
    };
    for (const auto& c : cases) {
        Reading reading(c.devices);
        ASSERT_TRUE(WaitUntil([&] { return reading.reader->OpenPaths() == c.open; }))
            << c.devices << ": " << testing::PrintToString(reading.reader->OpenPaths());
    }
}

TEST(VendorReports, PassesReportsOfElevenTo999BytesWhole) {
    const struct {
        size_t length;
        bool delivered;
    } cases[] = {{1, false}, {10, false}, {11, true}, {12, true}, {16, true}};
    Reading reading("g12");
    std::vector<Delivered> expected;
    uint8_t sequence = 0;
    for (const auto& c : cases) {
        Bytes report = Report(c.length, 0x0B, sequence++);
        if (c.delivered) expected.push_back({kG12Vendor, report});
        reading.sim->Device(0).EmitInputReport(report);
    }
    EXPECT_EQ(reading.collector.WaitFor(expected.size()), expected);
    // Nothing else is on its way: a last report arrives right behind them.
    const Bytes last = Report(11, 0x0B, 0xEE);
    reading.sim->Device(0).EmitInputReport(last);
    expected.push_back({kG12Vendor, last});
    EXPECT_EQ(reading.collector.WaitFor(expected.size()), expected);
}

TEST(VendorReports, KeepsEachDevicesOrderAndTheQueueItStartedWith) {
    // Reports already queued when the reader starts come first.
    Reading reading("g12/report=0b0b0000000000000000aa+0b0b0000000000000000bb,g0");
    const std::string first = reading.VendorPath(0);
    const std::string second = reading.VendorPath(1);
    std::vector<Delivered> expectFirst = {{first, Bytes{0x0B, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA}},
                                          {first, Bytes{0x0B, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0xBB}}};
    std::vector<Delivered> expectSecond;
    for (uint8_t i = 0; i < 40; ++i) {
        const Bytes a = Report(16, 0x0A, i);
        const Bytes b = Report(11, 0x0B, i);
        reading.sim->Device(0).EmitInputReport(a);
        reading.sim->Device(1).EmitInputReport(b);
        expectFirst.push_back({first, a});
        expectSecond.push_back({second, b});
    }
    const auto got = reading.collector.WaitFor(expectFirst.size() + expectSecond.size());
    std::vector<Delivered> gotFirst, gotSecond;
    for (const Delivered& d : got) (d.path == first ? gotFirst : gotSecond).push_back(d);
    EXPECT_EQ(gotFirst, expectFirst);
    EXPECT_EQ(gotSecond, expectSecond);
}

TEST(VendorReports, FollowsArrivalsAndDeparturesWithoutSpinning) {
    Reading reading("g12,g0", [](SimBackend& sim) { sim.Device(1).Detach(); });
    const std::string late = reading.VendorPath(1);
    ASSERT_TRUE(WaitUntil([&] { return reading.reader->OpenPaths().size() == 1; }));

    reading.sim->Device(1).Attach();
    ASSERT_TRUE(WaitUntil([&] { return reading.reader->OpenPaths().size() == 2; }));
    const Bytes report = Report(11, 0x0B, 1);
    reading.sim->Device(1).EmitInputReport(report);
    EXPECT_EQ(reading.collector.WaitFor(1), (std::vector<Delivered>{{late, report}}));

    reading.sim->Device(1).Detach();
    ASSERT_TRUE(WaitUntil([&] { return reading.reader->OpenPaths().size() == 1; }));
    // Each of the three arrivals and departures (the one before the start included: its
    // signal is still pending) wakes the reader at most twice, once for the device list
    // and once for the handle; the report once. A reader that kept polling a departed
    // handle would wake far more often, and keep waking.
    const uint64_t wakeUps = reading.reader->WakeUps();
    EXPECT_LE(wakeUps, 1u + 3u * 2u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(reading.reader->WakeUps(), wakeUps);
    EXPECT_TRUE(reading.collector.NoticesSoFar().empty());
}

TEST(VendorReports, ReadsADeviceThatLeftAndCameBackBeforeTheReaderLooked) {
    Reading reading("g12");
    ASSERT_TRUE(WaitUntil([&] { return reading.reader->OpenPaths().size() == 1; }));
    for (int round = 0; round < 5; ++round) {
        reading.sim->Device(0).Detach();
        reading.sim->Device(0).Attach();
    }
    // The handle of the first attachment is dead; the reader must end up on a live one.
    const Bytes report = Report(11, 0x0B, 7);
    ASSERT_TRUE(WaitUntil([&] {
        reading.sim->Device(0).EmitInputReport(report);
        return !reading.collector.WaitFor(0).empty();
    }));
    EXPECT_EQ(reading.collector.WaitFor(1).front(), (Delivered{kG12Vendor, report}));
}

TEST(VendorReports, StopsAtOnceWhetherWaitingOrJustStarted) {
    for (const bool letItWait : {false, true}) {
        Reading reading("g12");
        if (letItWait) {
            ASSERT_TRUE(WaitUntil([&] { return !reading.reader->OpenPaths().empty(); }));
        }
        // Nothing would ever wake it: only the stop can end the wait.
        reading.reader.reset();
        // Its handle is closed: a report queued now stays with the device.
        reading.sim->Device(0).EmitInputReport(Report(11, 0x0B, 1));
        EXPECT_EQ(reading.sim->Device(0).PendingInputReports(1), 1u);
    }
}

TEST(VendorReports, ConfigurationExchangesAndReportsDoNotDisturbEachOther) {
    Reading reading("g12");
    SimDevice& device = reading.sim->Device(0);
    const int vendor = device.VendorInterface();
    constexpr int kReports = 300;
    constexpr int kBlocks = 150;

    std::jthread configuration([&] {
        auto handle = reading.sim->Open(kG12Config);
        ASSERT_TRUE(handle);
        for (int i = 0; i < kBlocks; ++i) {
            const uint16_t a = static_cast<uint16_t>(0x1000 + 4 * i);
            const auto b = static_cast<uint8_t>(i);
            ASSERT_TRUE((*handle)->SetFeature(
                LongRequest({0x03, static_cast<uint8_t>(a & 0xFF), static_cast<uint8_t>(a >> 8),
                             0x04, 0xC5, b, 0xC5, b})));
            Bytes reply(64, 0);
            reply[0] = 0x01;
            ASSERT_TRUE((*handle)->GetFeature(reply));
        }
    });
    std::vector<Delivered> expected;
    for (int i = 0; i < kReports; ++i) {
        // The device's queue holds 64 reports: wait for room instead of overflowing it.
        ASSERT_TRUE(WaitUntil([&] { return device.PendingInputReports(vendor) < 32; }));
        const Bytes report = Report(16, 0x0B, static_cast<uint8_t>(i));
        device.EmitInputReport(report);
        expected.push_back({kG12Vendor, report});
    }
    configuration.join();
    EXPECT_EQ(reading.collector.WaitFor(expected.size()), expected);
    for (int i = 0; i < kBlocks; ++i) {
        const auto b = static_cast<uint8_t>(i);
        ASSERT_EQ(device.PeekMemory(0x1000 + 4 * i, 4), (Bytes{0xC5, b, 0xC5, b})) << i;
    }
}

TEST(VendorReports, ComeThroughTheDeviceBridgeInOrder) {
    auto backend = MakeExecBackend(std::string(QVM_SIM_BINARY) +
                                   " 'g12/report=0b0b000000000000000001+0b0b00000000000000000002"
                                   "+0b0b000000000000000003'");
    ASSERT_TRUE(backend) << backend.message();
    Collector collector;
    auto reader = VendorReportReader::Start(**backend, collector.Callback(), collector.Notices());
    ASSERT_TRUE(reader);
    const std::string path = "bridge#vid_0c45&pid_7030&mi_01#d0i1";
    const std::vector<Delivered> expected = {
        {path, Bytes{0x0B, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}},
        {path, Bytes{0x0B, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02}},
        {path, Bytes{0x0B, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0x03}},
    };
    EXPECT_EQ(collector.WaitFor(expected.size()), expected);
    EXPECT_EQ((*reader)->OpenPaths(), std::vector<std::string>{path});
}

}  // namespace
}  // namespace qvm::test::vendor_reports
