// Report descriptors as devices send them: the capabilities of each interface the
// program meets, and descriptors cut or malformed anywhere are refused with a reason.
#ifdef QVM_HAVE_LINUX_HID

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/report_descriptor.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

// Mouse interface 0 with a vendor feature report of 8 data bytes and no report IDs.
const Bytes kConfigMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01,  // Generic Desktop / Mouse, Application
    0x09, 0x01, 0xA1, 0x00,              // Pointer, Physical
    0x05, 0x09, 0x19, 0x01, 0x29, 0x05, 0x15, 0x00, 0x25, 0x01,              // buttons 1..5
    0x95, 0x05, 0x75, 0x01, 0x81, 0x02,                                      // 5 x 1 bit input
    0x95, 0x01, 0x75, 0x03, 0x81, 0x01,                                      // 3 bits padding
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31,                                      // X, Y
    0x16, 0x01, 0x80, 0x26, 0xFF, 0x7F, 0x75, 0x10, 0x95, 0x02, 0x81, 0x06,  // 2 x 16 bits
    0x09, 0x38, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x01, 0x81, 0x06,  // wheel
    0xC0,                                                                    // end Physical
    0x06, 0x00, 0xFF, 0x09, 0x01,                                            // vendor page
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0xB1, 0x02,        // 8-byte feature
    0xC0,
};

// Vendor configuration interface: report 1 is a 63-byte feature, reports 2 and 3 inputs.
const Bytes kVendor64 = {
    0x06, 0x18, 0xFF, 0x09, 0x01, 0xA1, 0x01,        // page 0xFF18, usage 1
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,        // bytes
    0x85, 0x01, 0x09, 0x02, 0x95, 0x3F, 0xB1, 0x02,  // ID 1: 63-byte feature
    0x85, 0x02, 0x09, 0x03, 0x95, 0x0F, 0x81, 0x02,  // ID 2: 15-byte input
    0x85, 0x03, 0x09, 0x04, 0x95, 0x07, 0x81, 0x02,  // ID 3: 7-byte input
    0xC0,
};

// Keyboard-model interface: usage 0 on the generic desktop page, report 6 both ways.
const Bytes kKeyboardModel = {
    0x05, 0x01, 0x09, 0x00, 0xA1, 0x01, 0x85, 0x06,        //
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x1F,  // 31 bytes
    0x09, 0x00, 0x81, 0x02, 0x09, 0x00, 0x91, 0x02, 0xC0,
};

struct FixtureCase {
    const char* name;
    Bytes bytes;
    HidCaps caps;  // usagePage, usage, feature, input, output
    bool usesReportIds;
};

class DescriptorFixtures : public testing::TestWithParam<FixtureCase> {};

TEST_P(DescriptorFixtures, YieldsCapabilities) {
    const FixtureCase& c = GetParam();
    const Result<ReportDescriptorInfo> info = ParseReportDescriptor(c.bytes);
    ASSERT_TRUE(info.ok()) << info.message();
    EXPECT_EQ(info->caps, c.caps);
    EXPECT_EQ(info->usesReportIds, c.usesReportIds);
}

// A descriptor cut anywhere either splits an item or leaves its collection open.
TEST(DescriptorTruncation, EveryPrefixOfAnInterfaceIsRejected) {
    for (const Bytes* bytes : {&kConfigMouse, &kVendor64, &kKeyboardModel}) {
        for (size_t size = 0; size < bytes->size(); ++size) {
            // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
            const Bytes prefix(bytes->begin(), bytes->begin() + static_cast<ptrdiff_t>(size));
            EXPECT_FALSE(ParseReportDescriptor(prefix).ok()) << "accepted " << size << " bytes";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, DescriptorFixtures,
    testing::Values(FixtureCase{"ConfigMouse", kConfigMouse, {0x0001, 0x02, 9, 7, 0}, false},
                    FixtureCase{"Vendor64", kVendor64, {0xFF18, 0x01, 64, 16, 0}, true},
                    FixtureCase{"KeyboardModel", kKeyboardModel, {0x0001, 0x00, 0, 32, 32}, true}),
    [](const testing::TestParamInfo<FixtureCase>& info) { return info.param.name; });

struct MalformedCase {
    const char* name;
    Bytes bytes;
    const char* reason;  // part of the expected message
};

class MalformedDescriptors : public testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedDescriptors, AreRejectedWithAReason) {
    const MalformedCase& c = GetParam();
    const Result<ReportDescriptorInfo> info = ParseReportDescriptor(c.bytes);
    ASSERT_FALSE(info.ok());
    EXPECT_NE(info.message().find(c.reason), std::string::npos) << info.message();
}

Bytes Repeated(Bytes unit, int times, Bytes tail) {
    Bytes out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// Opens an application collection around `body`.
Bytes InApplication(Bytes body) {
    Bytes out = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01};
    out.insert(out.end(), body.begin(), body.end());
    out.push_back(0xC0);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Bogus, MalformedDescriptors,
    testing::Values(
        MalformedCase{"ReportIdZero", InApplication({0x85, 0x00}), "invalid report ID 0"},
        MalformedCase{"ReportTooLong",
                      InApplication({0x76, 0x00, 0x01, 0x96, 0xFF, 0xFF, 0xB1, 0x02}),
                      "report too long"},
        MalformedCase{"IdAfterIdlessReport",
                      InApplication({0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x85, 0x01}),
                      "both with and without report IDs"},
        MalformedCase{"PushTooDeep", InApplication(Repeated({0xA4}, 17, {})), "push nested"},
        MalformedCase{"NestedTooDeep", Repeated({0xA1, 0x00}, 65, Repeated({0xC0}, 65, {})),
                      "nested too deep"}),
    [](const testing::TestParamInfo<MalformedCase>& info) { return info.param.name; });

}  // namespace
}  // namespace qvm

#endif  // QVM_HAVE_LINUX_HID
