// Reports through the kernel: feature requests and replies, the keyboards' report pipe and
// vendor input reports reach the firmware and come back whole, the report-ID byte
// included where the descriptor declares none.
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "session/vendor_reports.h"
#include "vm_rig.h"

namespace qvm::vm {
namespace {

constexpr const char* kDevices = "g0,g12,mx28";

uint8_t Check(const Bytes& frame) {
    uint8_t x = 0;
    for (size_t i = 1; i + 1 < frame.size(); ++i) x ^= frame[i];
    return x;
}

// A request of `length` bytes: report ID, then `body`, then the check byte last (the
// short frames carry 0x12 before it).
Bytes Request(size_t length, uint8_t reportId, std::initializer_list<uint8_t> body) {
    Bytes frame(length, 0);
    frame[0] = reportId;
    std::copy(body.begin(), body.end(), frame.begin() + 1);
    if (length == 9) frame[7] = 0x12;
    frame.back() = Check(frame);
    return frame;
}

class KernelReports : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(devices_.WaitPublished());
        auto backend = MakeLinuxBackend();
        ASSERT_TRUE(backend) << backend.message();
        backend_ = std::move(*backend);
        auto twins = SimBackend::Create(kDevices, "");
        ASSERT_TRUE(twins) << twins.message();
        twins_ = std::move(*twins);
    }

    // The interface of product `product` numbered `number`, opened through hidraw.
    std::unique_ptr<HidHandle> OpenKernel(uint16_t product, int number) {
        for (const HidDeviceInfo& info : OurInterfaces(*backend_)) {
            if (info.productId != product || info.interfaceNumber != number) continue;
            auto handle = backend_->Open(info.path);
            EXPECT_TRUE(handle) << handle.message();
            return handle ? std::move(*handle) : nullptr;
        }
        ADD_FAILURE() << "no interface " << number << " of product " << std::hex << product;
        return nullptr;
    }
    // The same interface of the twin that never went through the kernel.
    std::unique_ptr<HidHandle> OpenTwin(size_t place, int number) {
        for (const HidDeviceInfo& info : twins_->Device(place).Interfaces()) {
            if (info.interfaceNumber != number) continue;
            auto handle = twins_->Open(info.path);
            return handle ? std::move(*handle) : nullptr;
        }
        return nullptr;
    }

    KernelDevices devices_{kDevices};
    std::unique_ptr<HidBackend> backend_;
    std::unique_ptr<SimBackend> twins_;
};

struct FeatureCase {
    const char* name;
    size_t place;
    uint16_t product;
    int interface;
    Bytes request;
};

// Each request goes through hidraw to the firmware behind the kernel and, directly, to
// its twin: the replies must be the same bytes, and nothing may arrive damaged.
TEST_F(KernelReports, FeatureRepliesMatchTheFirmwareByteForByte) {
    const FeatureCase cases[] = {
        {"short live state", 0, 0x7010, 0, Request(9, 0x00, {0x04, 0x00})},
        {"short identity", 0, 0x7010, 0, Request(9, 0x00, {0x01})},
        {"long status", 1, 0x7030, 2, Request(64, 0x01, {0x11, 0x03})},
        {"long write", 1, 0x7030, 2,
         Request(64, 0x01, {0x03, 0x00, 0x20, 0x04, 0xDE, 0xAD, 0xBE, 0xEF})},
        {"long read", 1, 0x7030, 2, Request(64, 0x01, {0x02, 0x00, 0x20, 0x3D})},
    };
    for (const FeatureCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto kernel = OpenKernel(c.product, c.interface);
        auto twin = OpenTwin(c.place, c.interface);
        ASSERT_TRUE(kernel && twin);
        ASSERT_TRUE(kernel->SetFeature(c.request));
        ASSERT_TRUE(twin->SetFeature(c.request));
        Bytes fromKernel(c.request.size(), 0);
        Bytes fromTwin(c.request.size(), 0);
        fromKernel[0] = fromTwin[0] = c.request[0];
        ASSERT_TRUE(kernel->GetFeature(fromKernel));
        ASSERT_TRUE(twin->GetFeature(fromTwin));
        EXPECT_EQ(fromKernel, fromTwin);
    }
    const SimTransferStats stats = devices_.Sim().TotalStats();
    EXPECT_EQ(stats.badFrames, 0u);
    EXPECT_EQ(stats.failedTransfers, 0u);
    // The write reached the memory behind the kernel.
    EXPECT_EQ(devices_.Device(1).PeekMemory(0x2000, 4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
}

// The keyboard answers an output report with an input report on the same pipe.
TEST_F(KernelReports, KeyboardPipeCarriesRequestAndReplyWhole) {
    auto kernel = OpenKernel(0x7050, 1);
    auto twin = OpenTwin(2, 1);
    ASSERT_TRUE(kernel && twin);
    Bytes request(32, 0);
    request[0] = 0x06;
    request[1] = 0xBE;
    request[2] = 0x02;  // identification
    ASSERT_TRUE(kernel->Write(request));
    ASSERT_TRUE(twin->Write(request));
    Bytes fromKernel(32, 0);
    Bytes fromTwin(32, 0);
    ASSERT_EQ(kernel->Read(fromKernel, 5000), 32);
    ASSERT_EQ(twin->Read(fromTwin, 0), 32);
    EXPECT_EQ(fromKernel, fromTwin);
    EXPECT_EQ(devices_.Device(2).KeyboardIdentifications(), 1);
}

// Vendor reports the mouse sends arrive through hidraw in order, whole, with their ID.
TEST_F(KernelReports, VendorInputReportsArriveWhole) {
    struct VendorCase {
        size_t place;
        uint16_t product;
    };
    for (const VendorCase c : {VendorCase{0, 0x7010}, VendorCase{1, 0x7030}}) {
        SCOPED_TRACE(c.product);
        auto vendor = OpenKernel(c.product, 1);
        ASSERT_TRUE(vendor);
        std::vector<Bytes> sent;
        for (uint8_t i = 0; i < 20; ++i) {
            Bytes report(16, 0);
            report[0] = 0x01;
            report[1] = 0x0B;
            for (size_t b = 2; b < 14; ++b) report[b] = static_cast<uint8_t>(i * 16 + b);
            report[14] = 0x09;
            report[15] = Check(Bytes(report.begin(), report.end()));
            sent.push_back(report);
            devices_.Device(c.place).EmitInputReport(report);
        }
        for (const Bytes& expected : sent) {
            Bytes got(16, 0);
            ASSERT_EQ(vendor->Read(got, 5000), 16);
            EXPECT_EQ(got, expected);
        }
    }
}

// The reader waits on the hidraw nodes themselves: reports of both mice reach its callback
// whole and in order, and the configuration-only interface is not opened.
TEST_F(KernelReports, TheReaderTakesVendorReportsFromTheNodes) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Bytes> got;  // guarded by mutex
    auto reader =
        VendorReportReader::Start(*backend_, [&](const std::string&, std::span<const uint8_t> r) {
            std::lock_guard lock(mutex);
            got.emplace_back(r.begin(), r.end());
            arrived.notify_all();
        });
    ASSERT_TRUE(reader) << reader.message();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((*reader)->OpenPaths().size() < 2 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ((*reader)->OpenPaths().size(), 2u);
    std::vector<Bytes> sent;
    for (uint8_t i = 0; i < 10; ++i) {
        Bytes report(16, i);
        report[0] = 0x01;
        report[1] = 0x0B;
        sent.push_back(report);
        devices_.Device(i % 2).EmitInputReport(report);
    }
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, std::chrono::seconds(10), [&] { return got.size() >= sent.size(); });
    std::sort(got.begin(), got.end());  // the two nodes interleave as the reader meets them
    EXPECT_EQ(got, sent);
}

}  // namespace
}  // namespace qvm::vm
