// The vendor report reader over simulated mice and the device bridge: what reaches the
// callback and in which order, across arrivals and departures, beside configuration
// traffic (run under ThreadSanitizer too).
#include "session/vendor_reports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/bridge_protocol.h"
#include "platform/exec_backend.h"
#include "sim/sim_backend.h"
#include "sim_test_util.h"

namespace qvm::test::vendor_reports {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

constexpr const char* kVendor = "sim#vid_0c45&pid_7030&mi_01#d0i1";  // of a g12 at place 0
constexpr auto kPatience = 20s;  // only a broken reader takes this long

using Delivered = std::pair<std::string, Bytes>;

// Starts a reader over `backend` and keeps what it hands over for the test thread.
struct Reading {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Delivered> got;  // guarded by mutex
    std::unique_ptr<VendorReportReader> reader;

    explicit Reading(HidBackend& backend) {
        auto started = VendorReportReader::Start(
            backend, [this](const std::string& path, std::span<const uint8_t> report) {
                std::lock_guard lock(mutex);
                got.emplace_back(path, Bytes(report.begin(), report.end()));
                changed.notify_all();
            });
        EXPECT_TRUE(started.ok());
        reader = std::move(started).value();
    }
    std::vector<Delivered> WaitFor(size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, kPatience, [&] { return got.size() >= count; });
        return got;
    }
    bool WaitForOpen(size_t count) {
        for (auto limit = std::chrono::steady_clock::now() + kPatience;
             reader->OpenPaths().size() != count; std::this_thread::sleep_for(1ms)) {
            if (std::chrono::steady_clock::now() > limit) return false;
        }
        return true;
    }
};

std::unique_ptr<SimBackend> Sim(const std::string& devices) {
    auto made = SimBackend::Create(devices, "");
    EXPECT_TRUE(made.ok()) << (made ? "" : made.message());
    return std::move(made).value();
}

// An 11-byte report (or `length`) that bytes 1 and 2 tell apart.
Bytes Report(uint8_t tag, uint8_t sequence, size_t length = 11) {
    Bytes report(length, 0);
    report[0] = 0x0B;
    report[1] = tag;
    report[2] = sequence;
    return report;
}

TEST(VendorReports, ReadsTheVendorInterfacesOfMiceOnly) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"g12", {kVendor}},
        {"g0", {"sim#vid_0c45&pid_7010&mi_01#d0i1"}},
        {"mx28,mx29", {}},
        {"mx28,g12,g5", {"sim#vid_0c45&pid_7020&mi_02#d2i2", "sim#vid_0c45&pid_7030&mi_01#d1i1"}},
    };
    for (const auto& [devices, open] : cases) {
        auto sim = Sim(devices);
        Reading reading(*sim);
        ASSERT_TRUE(reading.WaitForOpen(open.size())) << devices;
        EXPECT_EQ(reading.reader->OpenPaths(), open) << devices;
    }
}

TEST(VendorReports, KeepOrderPerDeviceAndDropReportsOfTheWrongSize) {
    // Reports queued before the reader starts come first.
    auto sim = Sim("g12/report=0b0b0000000000000000aa+0b0b000000000000aa,g0");
    const std::string second = "sim#vid_0c45&pid_7010&mi_01#d1i1";
    Reading reading(*sim);
    std::vector<Delivered> expected = {{kVendor, Report(0x0B, 0, 11)}};
    expected[0].second[10] = 0xAA;      // the 9-byte one is dropped
    for (uint8_t i = 0; i < 25; ++i) {  // within the 64 reports a device keeps
        sim->Device(0).EmitInputReport(Report(0x0A, i, 16));
        sim->Device(0).EmitInputReport(Report(0x0A, i, 10));  // too short
        sim->Device(1).EmitInputReport(Report(0x0B, i));
        expected.emplace_back(kVendor, Report(0x0A, i, 16));
        expected.emplace_back(second, Report(0x0B, i));
    }
    auto got = reading.WaitFor(expected.size());
    // The two devices' reports interleave as the thread meets them; each keeps its order.
    std::stable_partition(got.begin(), got.end(), [](auto& d) { return d.first == kVendor; });
    std::stable_partition(expected.begin(), expected.end(),
                          [](auto& d) { return d.first == kVendor; });
    EXPECT_EQ(got, expected);
}

TEST(VendorReports, ReportsThatWaitComeLaterAndAStatusReportSetsTheMouse) {
    // The third is a status report: stage 3 and profile 4 (0-based 2 and 3), sealed.
    const std::string status = "0b0c02141e03000000090e";
    auto sim = Sim("g12/report=0b0b0000000000000000a1+30ms+0b0b0000000000000000a2+" + status);
    EXPECT_EQ(sim->Device(0).PendingInputReports(1), 1u);  // only the first is there at once
    Reading reading(*sim);
    const auto got = reading.WaitFor(3);
    ASSERT_EQ(got.size(), 3u);
    for (uint8_t i = 0; i < 2; ++i) EXPECT_EQ(got[i].second.back(), 0xA1 + i);
    EXPECT_EQ(got[2].second, *DecodeBridgeHex(status));  // as given, no report of its own
    // What the status report says is what the mouse is now.
    EXPECT_EQ(sim->Device(0).MouseState().profile, 3);
    EXPECT_EQ(sim->Device(0).MouseState().stage, 2);
}

TEST(VendorReports, FollowArrivalsAndDeparturesWithoutSpinning) {
    auto sim = Sim("g12,g0");
    sim->Device(1).Detach();
    Reading reading(*sim);
    ASSERT_TRUE(reading.WaitForOpen(1));
    sim->Device(1).Attach();
    ASSERT_TRUE(reading.WaitForOpen(2));
    sim->Device(1).EmitInputReport(Report(0x0B, 1));
    EXPECT_EQ(reading.WaitFor(1).size(), 1u);
    sim->Device(1).Detach();
    ASSERT_TRUE(reading.WaitForOpen(1));
    // Each of the three presence changes (the pending signal of the one before the start
    // too) wakes the reader at most twice, for the device list and for the handle; the
    // report once. A reader polling a departed handle would wake on and on.
    const uint64_t wakeUps = reading.reader->WakeUps();
    EXPECT_LE(wakeUps, 1u + 3u * 2u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(reading.reader->WakeUps(), wakeUps);
}

TEST(VendorReports, ReadADeviceThatLeftAndCameBackBeforeTheReaderLooked) {
    auto sim = Sim("g12");
    Reading reading(*sim);
    ASSERT_TRUE(reading.WaitForOpen(1));
    for (int round = 0; round < 5; ++round) {
        sim->Device(0).Detach();
        sim->Device(0).Attach();
    }
    // The handle of the first attachment is dead; the reader must end up on a live one.
    for (auto limit = std::chrono::steady_clock::now() + kPatience;
         reading.WaitFor(0).empty() && std::chrono::steady_clock::now() < limit;) {
        sim->Device(0).EmitInputReport(Report(0x0B, 7));
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(reading.WaitFor(1).front(), Delivered(kVendor, Report(0x0B, 7)));
}

TEST(VendorReports, StopWhileWaitingAndLeaveTheQueueAlone) {
    auto sim = Sim("g12");
    auto reading = std::make_unique<Reading>(*sim);
    ASSERT_TRUE(reading->WaitForOpen(1));
    reading.reset();  // nothing but the stop can end its wait
    sim->Device(0).EmitInputReport(Report(0x0B, 1));
    EXPECT_EQ(sim->Device(0).PendingInputReports(1), 1u);
}

TEST(VendorReports, LeaveConfigurationExchangesOfTheSameDeviceAlone) {
    auto sim = Sim("g12");
    SimDevice& device = sim->Device(0);
    Reading reading(*sim);
    constexpr int kReports = 300, kBlocks = 150;
    std::jthread configuration([&] {
        auto handle = sim->Open("sim#vid_0c45&pid_7030&mi_02#d0i2");
        ASSERT_TRUE(handle);
        for (int i = 0; i < kBlocks; ++i) {
            const auto b = static_cast<uint8_t>(i);
            const int at = 0x1000 + 2 * i;
            ASSERT_TRUE((*handle)->SetFeature(LongRequest(
                {0x03, static_cast<uint8_t>(at), static_cast<uint8_t>(at >> 8), 0x02, 0xC5, b})));
            Bytes reply(64, 0);
            reply[0] = 0x01;
            ASSERT_TRUE((*handle)->GetFeature(reply));
        }
    });
    std::vector<Delivered> expected;
    for (int i = 0; i < kReports; ++i) {
        // The device keeps 64 reports: wait for room rather than overflow it.
        while (device.PendingInputReports(1) >= 32) std::this_thread::sleep_for(100us);
        device.EmitInputReport(Report(0x0B, static_cast<uint8_t>(i), 16));
        expected.emplace_back(kVendor, Report(0x0B, static_cast<uint8_t>(i), 16));
    }
    configuration.join();
    EXPECT_EQ(reading.WaitFor(expected.size()), expected);
    for (int i = 0; i < kBlocks; ++i) {
        const auto b = static_cast<uint8_t>(i);
        ASSERT_EQ(device.PeekMemory(0x1000 + 2 * i, 2), (Bytes{0xC5, b})) << i;
    }
}

TEST(VendorReports, ComeThroughTheDeviceBridgeInOrder) {
    auto backend = MakeExecBackend(std::string(QVM_SIM_BINARY) +
                                   " 'g12/report=0b0b000000000000000001+0b0b00000000000000000002'");
    ASSERT_TRUE(backend) << backend.message();
    Reading reading(**backend);
    const std::string path = "bridge#vid_0c45&pid_7030&mi_01#d0i1";
    const std::vector<Delivered> expected = {
        {path, Bytes{0x0B, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}},
        {path, Bytes{0x0B, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02}}};
    EXPECT_EQ(reading.WaitFor(expected.size()), expected);
}

}  // namespace
}  // namespace qvm::test::vendor_reports
