// Reports through the kernel: feature requests and replies, the keyboards' report pipe and
// vendor input reports reach the firmware and come back whole, the report-ID byte
// included where the descriptor declares none.
#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "host/vendor_report.h"
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

// A pointer report as the mouse sends it: contact bit, dx and dy little-endian, tilt.
Bytes PointerBytes(uint8_t contact, int16_t dx, int16_t dy, int8_t tilt) {
    Bytes report(16, 0);
    report[0] = 0x01;
    report[1] = 0x0B;
    report[2] = contact;
    report[4] = static_cast<uint8_t>(dx & 0xFF);
    report[5] = static_cast<uint8_t>((dx >> 8) & 0xFF);
    report[6] = static_cast<uint8_t>(dy & 0xFF);
    report[7] = static_cast<uint8_t>((dy >> 8) & 0xFF);
    report[9] = static_cast<uint8_t>(tilt);
    return report;
}

// A status report: stage, X and Y steps, profile, mode, trailer and check byte.
Bytes StatusBytes(uint8_t stage, uint8_t x, uint8_t y, uint8_t profile, uint8_t mode) {
    Bytes report(16, 0);
    report[0] = 0x01;
    report[1] = 0x0C;
    report[2] = stage;
    report[3] = x;
    report[4] = y;
    report[5] = profile;
    report[6] = mode;
    report[14] = 0x09;
    report[15] = Check(report);
    return report;
}

// The reader waits on the hidraw nodes themselves: reports of both mice reach its callback
// whole and in order, the configuration-only interface is not opened, and what arrives
// decodes to the values the mouse sent.
TEST_F(KernelReports, TheReaderTakesVendorReportsFromTheNodes) {
    struct Sent {
        size_t place;
        Bytes bytes;
        VendorReport decoded;
    };
    const std::vector<Sent> sent = {
        {0, PointerBytes(1, 5, -3, 0), PointerReport{true, 5, -3, 0}},
        {1, PointerBytes(0, -300, 1200, 0), PointerReport{false, -300, 1200, 0}},
        {0, PointerBytes(0, 0, 0, -2), PointerReport{false, 0, 0, -2}},
        {1, PointerBytes(1, 32767, -32768, 127), PointerReport{true, 32767, -32768, 127}},
        {0, StatusBytes(2, 16, 24, 3, 0x81),
         StatusReport{.stage = 2,
                      .xValue = 16,
                      .yValue = 24,
                      .profile = 3,
                      .angleSnapping = true,
                      .scrollChangesDpi = true}},
        {1, StatusBytes(7, 8, 8, 0, 0x00),
         StatusReport{.stage = 4, .xValue = 8, .yValue = 8, .profile = 0}},
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<Bytes, VendorReport>> got;  // guarded by mutex
    auto reader =
        VendorReportReader::Start(*backend_, [&](const std::string&, std::span<const uint8_t> r) {
            std::lock_guard lock(mutex);
            got.emplace_back(Bytes(r.begin(), r.end()), DecodeVendorReport(r));
            arrived.notify_all();
        });
    ASSERT_TRUE(reader) << reader.message();
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((*reader)->OpenPaths().size() < 2 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ((*reader)->OpenPaths().size(), 2u);
    for (const Sent& s : sent) devices_.Device(s.place).EmitInputReport(s.bytes);
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, std::chrono::seconds(10), [&] { return got.size() >= sent.size(); });
    ASSERT_EQ(got.size(), sent.size());
    // The two nodes interleave as the reader meets them: each report is found by its bytes.
    for (const Sent& s : sent) {
        auto it =
            std::find_if(got.begin(), got.end(), [&](const auto& g) { return g.first == s.bytes; });
        ASSERT_NE(it, got.end()) << "a report sent to mouse " << s.place << " did not arrive";
        EXPECT_EQ(it->second, s.decoded) << "decoded as kind " << it->second.index();
    }
}

}  // namespace
}  // namespace qvm::vm
