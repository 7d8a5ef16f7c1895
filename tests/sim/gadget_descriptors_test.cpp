// The USB descriptors of a simulated device made a whole USB device: what the host's USB
// stack reads to enumerate it and to bind usbhid to every interface.
#include "gtest/gtest.h"
#include "sim/sim_backend.h"
#include "sim/sim_descriptors.h"
#include "sim/sim_gadget.h"

namespace qvm {
namespace {

struct GadgetCase {
    const char* devices;
    uint16_t product;
    bool serial;
};

class GadgetDescriptors : public testing::TestWithParam<GadgetCase> {};

TEST_P(GadgetDescriptors, DescribeEveryInterfaceWithItsReportDescriptor) {
    auto sim = SimBackend::Create(GetParam().devices, "");
    ASSERT_TRUE(sim) << sim.message();
    const SimDevice& device = (*sim)->Device(0);

    const std::vector<uint8_t> dev = GadgetDeviceDescriptor(device);
    ASSERT_EQ(dev.size(), 18u);
    EXPECT_EQ(dev[0], 18);
    EXPECT_EQ(dev[1], 1);
    EXPECT_EQ(dev[8] | dev[9] << 8, 0x0C45);
    EXPECT_EQ(dev[10] | dev[11] << 8, GetParam().product);
    EXPECT_EQ(dev[16] != 0, GetParam().serial);

    for (bool high : {false, true}) {
        SCOPED_TRACE(high ? "high speed" : "full speed");
        const std::vector<uint8_t> config = GadgetConfigDescriptor(device, high);
        ASSERT_GE(config.size(), 9u);
        EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));
        const std::vector<HidDeviceInfo>& interfaces = device.Interfaces();
        ASSERT_EQ(config[4], interfaces.size());
        // interface (9), HID (9), endpoint (7) for each interface, in order
        ASSERT_EQ(config.size(), 9 + 25 * interfaces.size());
        for (size_t i = 0; i < interfaces.size(); ++i) {
            const uint8_t* at = config.data() + 9 + 25 * i;
            EXPECT_EQ(at[1], 4);
            EXPECT_EQ(at[2], interfaces[i].interfaceNumber);
            EXPECT_EQ(at[5], 3);  // HID class
            EXPECT_EQ(at[10], 0x21);
            const auto report = SimDescriptorFor(interfaces[i].caps);
            ASSERT_TRUE(report);
            EXPECT_EQ(static_cast<size_t>(at[16] | at[17] << 8), report->bytes.size());
            EXPECT_EQ(at[19], 5);  // endpoint
            EXPECT_EQ(at[20], GadgetEndpointAddress(i));
            EXPECT_EQ(at[20] & 0x80, 0x80);  // IN
            EXPECT_EQ(at[21], 3);            // interrupt
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, GadgetDescriptors,
                         testing::Values(GadgetCase{"g0", 0x7010, false},
                                         GadgetCase{"mx28", 0x7050, true}));

}  // namespace
}  // namespace qvm
