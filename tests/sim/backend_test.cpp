// The simulator behind the HID backend interface: enumeration, paths, strings, handles
// and the vendor input reports.
#include <gtest/gtest.h>

#include <algorithm>

#include "session/hid_factory.h"
#include "sim/sim_backend.h"
#include "sim_test_util.h"
#include "support/fake_clock.h"

namespace qvm::test {
namespace {

struct InterfaceRow {
    const char* path;
    uint16_t productId;
    int number;
    HidCaps caps;
    const char* serial;
};

const InterfaceRow kExpected[] = {
    {"sim#vid_0c45&pid_7010&mi_00#d0i0", 0x7010, 0, {0x0001, 2, 9, 8, 0}, ""},
    {"sim#vid_0c45&pid_7020&mi_01#d1i1", 0x7020, 1, {0xFF18, 1, 64, 0, 0}, ""},
    {"sim#vid_0c45&pid_7030&mi_01#d2i1", 0x7030, 1, {0xFF23, 1, 0, 16, 0}, ""},
    {"sim#vid_0c45&pid_7030&mi_02#d2i2", 0x7030, 2, {0xFF18, 1, 64, 0, 0}, ""},
    {"sim#vid_0c45&pid_7050&mi_00#d3i0", 0x7050, 0, {0x0001, 6, 0, 9, 2}, "MX-28"},
    {"sim#vid_0c45&pid_7050&mi_01#d3i1", 0x7050, 1, {0x0001, 0, 0, 32, 32}, "MX-28"},
    {"sim#vid_0c45&pid_1234&mi_01#d4i1", 0x1234, 1, {0x0001, 0, 0, 32, 32}, "MX-29"},
};

TEST(SimBackend, EnumeratesEveryInterfaceOfEveryDevice) {
    FakeClock clock;
    auto backend = SimBackend::Create("g0,g5x,g12,mx28,mx29/pid=1234/product=MX-30 Pro", "", clock);
    ASSERT_TRUE(backend) << backend.message();
    auto list = (*backend)->Enumerate();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 12u);
    for (const InterfaceRow& want : kExpected) {
        auto found = std::find_if(list->begin(), list->end(),
                                  [&](const HidDeviceInfo& i) { return i.path == want.path; });
        ASSERT_NE(found, list->end()) << want.path;
        EXPECT_EQ(found->vendorId, 0x0C45);
        EXPECT_EQ(found->productId, want.productId) << want.path;
        EXPECT_EQ(found->interfaceNumber, want.number) << want.path;
        EXPECT_EQ(found->caps, want.caps) << want.path;
        EXPECT_EQ(found->serial, want.serial) << want.path;
        EXPECT_TRUE(found->openError.empty());
    }
    EXPECT_EQ(list->back().product, "MX-30 Pro");
    EXPECT_EQ((*list)[0].container, (*list)[1].container);
    EXPECT_NE((*list)[0].container, (*list)[2].container);
}

TEST(SimBackend, DefaultSetIsOneClassCMouse) {
    auto backend = SimBackend::Create("", "");
    ASSERT_TRUE(backend);
    ASSERT_EQ((*backend)->DeviceCount(), 1u);
    EXPECT_EQ((*backend)->Device(0).Config().generation, 12);
    auto viaFactory = MakeHidBackend("sim");
    ASSERT_TRUE(viaFactory) << viaFactory.message();
    EXPECT_EQ((*viaFactory)->Enumerate()->size(), 3u);
}

TEST(SimBackend, OpenRefusesUnknownPathsAndBadLists) {
    auto backend = SimBackend::Create("g12", "");
    ASSERT_TRUE(backend);
    auto handle = (*backend)->Open("sim#vid_0c45&pid_7030&mi_05#d0i5");
    ASSERT_FALSE(handle);
    EXPECT_NE(handle.message().find("no simulated device"), std::string::npos);
    auto bad = MakeHidBackend("sim:g12,q7");
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.message().find("'q7'"), std::string::npos);
}

struct StringCase {
    const char* devices;
    const char* path;
    int index;
    Bytes expectPrefix;  // empty: the device has no such string
};

const StringCase kStrings[] = {
    {"g0", "sim#vid_0c45&pid_7010&mi_00#d0i0", 0xC7, {0x01, 0x00, 'Q', 'Z', 'W', 0x20, 0x00, 0x01}},
    {"g0/model=12/class=3/id3=7", "sim#vid_0c45&pid_7010&mi_00#d0i0", 0xC6, {12, 3, 7}},
    {"g5x/fw=40", "sim#vid_0c45&pid_7020&mi_01#d0i1", 0xC7, {0x01, 0x00, 'Q', 'Z', 5, 40, 0x0F, 21,
                                                             4,    0,    160, 1,   0, 0,  0,    0,
                                                             0,    0,    0,   0,   0, 1}},
    {"g12/flags=0x80",
     "sim#vid_0c45&pid_7030&mi_02#d0i2",
     0xC7,
     {0x01, 0x00, 'Q', 'Z', 12, 0x30, 0x12, 25, 4, 0, 160, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
    {"g12", "sim#vid_0c45&pid_7030&mi_02#d0i2", 0xC6, {}},
    {"mx28", "sim#vid_0c45&pid_7050&mi_01#d0i1", 0xC7, {}},
};

class IdentityStrings : public ::testing::TestWithParam<StringCase> {};

TEST_P(IdentityStrings, CarryTheConfiguredBytes) {
    const StringCase& c = GetParam();
    auto backend = SimBackend::Create(c.devices, "");
    ASSERT_TRUE(backend) << backend.message();
    auto handle = (*backend)->Open(c.path);
    ASSERT_TRUE(handle) << handle.message();
    auto bytes = (*handle)->IndexedString(c.index);
    if (c.expectPrefix.empty()) {
        EXPECT_FALSE(bytes.has_value());
        return;
    }
    ASSERT_TRUE(bytes.has_value());
    ASSERT_GE(bytes->size(), c.expectPrefix.size());
    EXPECT_EQ(Bytes(bytes->begin(), bytes->begin() + c.expectPrefix.size()), c.expectPrefix);
}

INSTANTIATE_TEST_SUITE_P(Devices, IdentityStrings, ::testing::ValuesIn(kStrings));

Bytes ReadReport(HidHandle& handle) {
    Bytes buffer(16, 0);
    const int got = handle.Read(buffer, 0);
    buffer.resize(got > 0 ? got : 0);
    return buffer;
}

TEST(VendorReports, ProfileCommandSendsOneStatusReport) {
    auto backend = SimBackend::Create("g12", "");
    ASSERT_TRUE(backend);
    auto config = (*backend)->Open("sim#vid_0c45&pid_7030&mi_02#d0i2");
    auto vendor = (*backend)->Open("sim#vid_0c45&pid_7030&mi_01#d0i1");
    ASSERT_TRUE(config && vendor);
    ASSERT_TRUE((*config)->SetFeature(LongRequest({0x11, 0x03})));
    EXPECT_EQ(ReadReport(**vendor), (Bytes{0x01, 0x0C, 0x01, 0x10, 0x10, 0x03, 0x00, 0x00, 0x00,
                                           0x01, 0x00, 0x00, 0x00, 0x00, 0x09, 0x06}));
    EXPECT_TRUE(ReadReport(**vendor).empty()) << "one change, one report";
    // The same profile again changes nothing and sends nothing.
    ASSERT_TRUE((*config)->SetFeature(LongRequest({0x11, 0x03})));
    EXPECT_TRUE(ReadReport(**vendor).empty());
}

TEST(VendorReports, DeviceSideStageChangeAndSpecialEvents) {
    auto backend = SimBackend::Create("g5x", "");
    ASSERT_TRUE(backend);
    SimDevice& device = (*backend)->Device(0);
    auto vendor = (*backend)->Open("sim#vid_0c45&pid_7020&mi_02#d0i2");
    ASSERT_TRUE(vendor);
    device.SelectStage(3);
    EXPECT_EQ(ReadReport(**vendor), (Bytes{0x01, 0x0C, 0x03, 0x90, 0x90, 0x00, 0x00, 0x00, 0x00,
                                           0x01, 0x00, 0x00, 0x00, 0x00, 0x09, 0x07}));
    device.EmitPointerReport(1, -2, 300, -3);
    EXPECT_EQ(ReadReport(**vendor), (Bytes{0x01, 0x0B, 0x01, 0x00, 0xFE, 0xFF, 0x2C, 0x01, 0x00,
                                           0xFD, 0x00, 0x00, 0x00, 0x00, 0x09, 0xD2}));
    device.EmitWindowCommand(2);
    EXPECT_EQ(ReadReport(**vendor), (Bytes{0x01, 0x0D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0x00, 0x00, 0x00, 0x09, 0x06}));
    EXPECT_EQ(device.PeekMemory(0x02, 1), Bytes{0x03}) << "class B keeps the stage in memory";
}

TEST(VendorReports, QueueKeepsTheNewestReports) {
    auto backend = SimBackend::Create("g12", "");
    ASSERT_TRUE(backend);
    SimDevice& device = (*backend)->Device(0);
    for (int i = 0; i < 100; ++i) device.EmitWindowCommand(static_cast<uint8_t>(i));
    EXPECT_EQ(device.PendingInputReports(1), SimDevice::kMaxQueuedReports);
    auto vendor = (*backend)->Open("sim#vid_0c45&pid_7030&mi_01#d0i1");
    ASSERT_TRUE(vendor);
    EXPECT_EQ(ReadReport(**vendor)[2], 100 - SimDevice::kMaxQueuedReports);
}

}  // namespace
}  // namespace qvm::test
