// The device list of DeviceLink against simulated devices: which devices are listed, and
// how identification and activation end on a device that leaves, stalls or garbles.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "discovery_rig.h"

namespace qvm {
namespace {

using test::LinkRig;
using Paths = std::vector<std::string>;

TEST(DiscoveryIdentity, EnumerationListsUsableDevicesInOrderAndReportsUnopenableOnes) {
    LinkRig rig("g12,mx29,g0/class=3,g2");
    HidDeviceInfo denied;
    denied.path = "hid#vid_0c45&pid_7040&mi_01#hidraw9";
    denied.vendorId = 0x0C45;
    denied.openError = "permission denied";
    HidDeviceInfo foreign = denied;
    foreign.path = "hid#vid_046d&pid_c077&mi_00#hidraw1";
    foreign.vendorId = 0x046D;
    rig.shim->AddUnopenable(denied);
    rig.shim->AddUnopenable(foreign);

    ASSERT_TRUE(rig.link.EnumerateDevices().ok());
    EXPECT_EQ(rig.link.DeviceList(),
              (Paths{rig.ConfigPath(0), rig.ConfigPath(1), rig.ConfigPath(3)}));
    EXPECT_EQ(rig.link.GetDevicePath(2), rig.ConfigPath(3));
    EXPECT_EQ(rig.link.GetDevicePath(3), "");
    EXPECT_EQ(rig.link.UnusableDevices(),
              (std::vector<UnusableDevice>{{denied.path, "permission denied"}}));

    // Interfaces of one physical device share a container; different devices do not.
    EXPECT_TRUE(rig.link.SameContainer(rig.PathOf(0, 0), rig.ConfigPath(0)));
    EXPECT_FALSE(rig.link.SameContainer(rig.ConfigPath(0), rig.ConfigPath(3)));
    EXPECT_FALSE(rig.link.SameContainer("never#seen", "never#seen"));

    rig.link.RemoveDevice(rig.ConfigPath(1));
    EXPECT_EQ(rig.link.DeviceList(), (Paths{rig.ConfigPath(0), rig.ConfigPath(3)}));
}

// ---- Devices that leave, stall or talk nonsense ----

// The chosen device fails its host mode: the activation ends at once with the device's
// own reason and kind; the healthy device is still told it is not the chosen one.
struct ActivationFaultCase {
    const char* name;
    std::string devices;
    SimFaults faults;  // given to device 0 after it was identified
    ErrorKind kind;
    std::string message;
    bool stillListed;
};

void PrintTo(const ActivationFaultCase& c, std::ostream* os) {
    *os << c.name;
}

class DiscoveryActivationFaults : public ::testing::TestWithParam<ActivationFaultCase> {};

TEST_P(DiscoveryActivationFaults, EndWithTheDevicesOwnReason) {
    const ActivationFaultCase& c = GetParam();
    LinkRig rig(c.devices);
    ASSERT_TRUE(rig.link.EnumerateDevices().ok());
    ASSERT_EQ(rig.link.DeviceList().size(), 2u);
    rig.Device(0).SetFaults(c.faults);
    const int before = rig.clock.TotalMs();
    const Status status = rig.link.ActivateDevice(rig.ConfigPath(0), true);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.kind(), c.kind);
    EXPECT_EQ(status.message(), c.message);
    // Not five attempts of time-outs: one failed exchange at most.
    EXPECT_LT(rig.clock.TotalMs() - before, Transport::kIdlePollLimit + 100);
    EXPECT_EQ(rig.link.DeviceList().size(), c.stillListed ? 2u : 1u);
    EXPECT_EQ(rig.Device(1).MouseState().hostMode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DiscoveryActivationFaults,
    ::testing::Values(
        ActivationFaultCase{"LongBusy", "g12,g5", SimFaults{.busyForever = true},
                            ErrorKind::DeviceBusy, "the device stayed busy for 0.4 s", true},
        ActivationFaultCase{
            "LongSilent", "g12,g5", SimFaults{.noReply = true}, ErrorKind::DeviceSilent,
            "the device did not answer for 0.4 s (the simulated device did not answer)", true},
        ActivationFaultCase{"ShortLeaves", "g0,g5", SimFaults{.removeAfter = 1},
                            ErrorKind::DeviceGone, "the device left", false},
        ActivationFaultCase{"LongGarbled", "g12,g5", SimFaults{.corrupt = true},
                            ErrorKind::DeviceGarbled,
                            "the device's replies are garbled (5 replies in a row with a wrong "
                            "check byte)",
                            true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
