// Simulated devices used from several threads at once (run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "sim/sim_backend.h"
#include "sim_test_util.h"

namespace qvm::test {
namespace {

constexpr const char* kConfig = "sim#vid_0c45&pid_7030&mi_02#d0i2";
constexpr const char* kVendor = "sim#vid_0c45&pid_7030&mi_01#d0i1";
constexpr int kBlocks = 200;

// Writes kBlocks four-byte blocks at base, base + 4... through a handle of `sim`, each
// answered before the next.
void WriteBlocks(SimBackend& sim, uint8_t tag, uint16_t base) {
    auto handle = sim.Open(kConfig);
    ASSERT_TRUE(handle);
    for (int i = 0; i < kBlocks; ++i) {
        const uint16_t a = base + 4 * i;
        ASSERT_TRUE((*handle)->SetFeature(
            LongRequest({0x03, static_cast<uint8_t>(a & 0xFF), static_cast<uint8_t>(a >> 8), 0x04,
                         tag, static_cast<uint8_t>(i), tag, static_cast<uint8_t>(i)})));
        Bytes reply(64, 0);
        reply[0] = 0x01;
        ASSERT_TRUE((*handle)->GetFeature(reply));
    }
}

void ExpectBlocks(SimDevice& device, uint8_t tag, uint16_t base) {
    for (int i = 0; i < kBlocks; ++i) {
        const auto b = static_cast<uint8_t>(i);
        ASSERT_EQ(device.PeekMemory(base + 4 * i, 4), (Bytes{tag, b, tag, b})) << i;
    }
}

TEST(Concurrency, TwoWritersLoseNothing) {
    auto backend = SimBackend::Create("g12", "");
    ASSERT_TRUE(backend);
    SimBackend& sim = **backend;

    std::atomic<bool> done{false};
    std::jthread first(WriteBlocks, std::ref(sim), 0xA1, 0x1000);
    std::jthread second(WriteBlocks, std::ref(sim), 0xB2, 0x2000);
    std::jthread observer([&] {
        while (!done.load()) {
            EXPECT_EQ(sim.Enumerate()->size(), 3u);
            sim.TakeEvents();
            sim.Device(0).SelectProfile(sim.Device(0).MouseState().profile == 0 ? 1 : 0);
            sim.TotalStats();
        }
    });
    first.join();
    second.join();
    done = true;
    observer.join();

    SimDevice& device = sim.Device(0);
    ExpectBlocks(device, 0xA1, 0x1000);
    ExpectBlocks(device, 0xB2, 0x2000);
    EXPECT_EQ(device.Stats().setFeature, 2u * kBlocks);
    EXPECT_EQ(device.Stats().getFeature, 2u * kBlocks);
}

TEST(Concurrency, ReaderSeesEveryReportOnceAndWakesOnRemoval) {
    auto backend = SimBackend::Create("g12", "");
    ASSERT_TRUE(backend);
    SimBackend& sim = **backend;
    auto vendor = sim.Open(kVendor);
    ASSERT_TRUE(vendor);
    constexpr int kReports = 50;  // below the queue bound, so none is dropped
    std::atomic<int> received{0};
    std::jthread reader([&] {
        Bytes buffer(16, 0);
        while (true) {
            const int got = (*vendor)->Read(buffer, 50);
            if (got < 0) return;  // the device left
            if (got > 0) received.fetch_add(1);
        }
    });
    for (int i = 0; i < kReports; ++i) sim.Device(0).EmitWindowCommand(1);
    while (received.load() < kReports) std::this_thread::yield();
    sim.Device(0).Detach();
    reader.join();
    EXPECT_EQ(received.load(), kReports);
    EXPECT_EQ(sim.TakeEvents().size(), 3u);
}

}  // namespace
}  // namespace qvm::test
