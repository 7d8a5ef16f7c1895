// The device list, activation, refresh and hot-plug of DeviceLink against simulated
// devices: identity rules on paths and capabilities, host modes across devices, bounded
// activation, removal during a refresh and arrivals and removals through the simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "device/device_path.h"
#include "discovery_rig.h"

namespace qvm {
namespace {

using test::LinkRig;
using Paths = std::vector<std::string>;

// ---- Identity rules ----

struct IdentityCase {
    const char* name;
    std::string path;  // shown by the backend for interface `target` of device 0
    int target;
    std::optional<HidCaps> caps;  // capabilities shown instead of the interface's own
    bool configInterface;
};

TEST(DiscoveryIdentity, ConfigInterfaceNeedsVendorAndInterfaceTextsInPlaceAndMatchingCaps) {
    const HidCaps shortUsage1{0x0001, 1, 9, 8, 0};
    const HidCaps longCaps{0xFF18, 1, 64, 0, 0};
    const IdentityCase cases[] = {
        {"vendor at 0", "vid_0c45&pid_7010&mi_00#a", 0, {}, false},
        {"vendor at 1", "xvid_0c45&pid_7010&mi_00#b", 0, {}, false},
        {"vendor at 2", "x#vid_0c45&pid_7010&mi_00#c", 0, {}, true},
        {"interface text at 0", "mi_00&vid_0c45&pid_7010#d", 0, {}, false},
        {"other vendor", "x#vid_0c46&pid_7010&mi_00#e", 0, {}, false},
        {"interface 0 usage 1", "x#vid_0c45&pid_7010&mi_00#f", 0, shortUsage1, false},
        {"interface 0 long report", "x#vid_0c45&pid_7010&mi_00#g", 0, longCaps, false},
        {"interface 1 long report", "x#vid_0c45&pid_7010&mi_01#h", 0, longCaps, true},
        {"interface 2 long report", "x#vid_0c45&pid_7010&mi_02#i", 0, longCaps, true},
        {"interface 3 long report", "x#vid_0c45&pid_7010&mi_03#j", 0, longCaps, false},
        {"vendor interface", "x#vid_0c45&pid_7010&mi_01#k", 1, {}, false},
    };
    LinkRig rig("g0");
    for (const IdentityCase& c : cases) {
        rig.shim.Alias(c.path, rig.PathOf(0, c.target), c.caps);
        EXPECT_EQ(rig.link.IsConfigInterface(c.path), c.configInterface) << c.name;
    }
    // Paths are matched after normalisation.
    EXPECT_TRUE(rig.link.IsConfigInterface("X#VID_0C45&PID_7010&MI_00#C"));
}

TEST(DiscoveryIdentity, ShortInterfaceWithUsage1IsNotListed) {
    LinkRig rig("g0");
    const std::string path = "x#vid_0c45&pid_7010&mi_00#usage1";
    rig.shim.Alias(path, rig.PathOf(0, 0), HidCaps{0x0001, 1, 9, 8, 0});
    EXPECT_EQ(rig.link.ProbeDevice(path).outcome, ProbeOutcome::NotRecognised);
    EXPECT_TRUE(rig.link.DeviceList().empty());
}

TEST(DiscoveryIdentity, SignedDeviceOfAnotherClassIsNeitherListedNorTriedAsKeyboard) {
    for (const char* devices : {"g0/class=3", "g12/class=3"}) {
        LinkRig rig(devices);
        const std::string path = rig.ConfigPath(0);
        const ProbeResult result = rig.link.ProbeDevice(path);
        EXPECT_EQ(result.outcome, ProbeOutcome::Rejected) << devices;
        EXPECT_NE(result.reason.find("class 3"), std::string::npos) << result.reason;
        EXPECT_TRUE(rig.link.DeviceList().empty()) << devices;
        EXPECT_EQ(rig.shim.Opens(path), 1) << devices << ": opened again for the keyboard test";
        EXPECT_EQ(rig.values.Get(path).ModelCode, 0) << devices << ": values stored";
    }
}

TEST(DiscoveryIdentity, EnumerationListsUsableDevicesInOrderAndReportsUnopenableOnes) {
    LinkRig rig("g12,mx29,g0/class=3,g2");
    HidDeviceInfo denied;
    denied.path = "hid#vid_0c45&pid_7040&mi_01#hidraw9";
    denied.vendorId = 0x0C45;
    denied.openError = "permission denied";
    HidDeviceInfo foreign = denied;
    foreign.path = "hid#vid_046d&pid_c077&mi_00#hidraw1";
    foreign.vendorId = 0x046D;
    rig.shim.AddUnopenable(denied);
    rig.shim.AddUnopenable(foreign);

    ASSERT_TRUE(rig.link.EnumerateDevices().ok());
    EXPECT_EQ(rig.link.DeviceList(),
              (Paths{rig.ConfigPath(0), rig.ConfigPath(1), rig.ConfigPath(3)}));
    EXPECT_EQ(rig.link.GetDevicePath(2), rig.ConfigPath(3));
    EXPECT_EQ(rig.link.GetDevicePath(3), "");
    EXPECT_EQ(rig.link.GetDevicePath(-1), "");
    EXPECT_EQ(rig.link.UnusableDevices(),
              (std::vector<UnusableDevice>{{denied.path, "permission denied"}}));

    // Interfaces of one physical device share a container; different devices do not.
    EXPECT_TRUE(rig.link.SameContainer(rig.PathOf(0, 0), rig.ConfigPath(0)));
    EXPECT_FALSE(rig.link.SameContainer(rig.ConfigPath(0), rig.ConfigPath(3)));
    EXPECT_FALSE(rig.link.SameContainer("never#seen", "never#seen"));

    rig.link.RemoveDevice(rig.ConfigPath(1));
    EXPECT_EQ(rig.link.DeviceList(), (Paths{rig.ConfigPath(0), rig.ConfigPath(3)}));
}

// ---- Activation ----

struct ActivationCase {
    std::string devices;
    std::vector<std::size_t> mice;  // simulated devices that have a host mode
};

class DiscoveryActivation : public ::testing::TestWithParam<ActivationCase> {};

TEST_P(DiscoveryActivation, OnlyTheChosenDeviceIsInHostMode9) {
    const ActivationCase& c = GetParam();
    LinkRig rig(c.devices);
    ASSERT_TRUE(rig.link.EnumerateDevices().ok());
    for (std::size_t chosen : c.mice) {
        const std::string path = rig.ConfigPath(chosen);
        const Status status = rig.link.ActivateDevice(path, true);
        ASSERT_TRUE(status.ok()) << status.message();
        for (std::size_t i : c.mice) {
            EXPECT_EQ(rig.Device(i).MouseState().hostMode, i == chosen ? 9 : 0)
                << "device " << i << " after activating " << chosen;
        }
        EXPECT_EQ(rig.cache.Path(), path);
        EXPECT_TRUE(rig.cache.Enabled());
    }
    EXPECT_EQ(rig.sim->TotalStats().refusedCommands, 0u);
}

void PrintTo(const ActivationCase& c, std::ostream* os) {
    *os << '"' << c.devices << '"';
}

INSTANTIATE_TEST_SUITE_P(Pairs, DiscoveryActivation,
                         ::testing::Values(ActivationCase{"g0,g12", {0, 1}},
                                           ActivationCase{"g5,g12", {0, 1}},
                                           ActivationCase{"g2,g0,g11", {0, 1, 2}},
                                           ActivationCase{"mx28,g12,g0", {1, 2}}));

TEST(DiscoveryActivation, UnlistedPathIsReported) {
    LinkRig rig("g12");
    const Status status = rig.link.ActivateDevice(rig.PathOf(0, 0), false);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.message().find("not a listed device"), std::string::npos);
}

TEST(DiscoveryActivation, DeviceStuckBusyGivesUpWithinBoundedTime) {
    for (const char* devices : {"g12/busy=forever,g5", "g0/busy=forever,g5"}) {
        LinkRig rig(devices);
        ASSERT_TRUE(rig.link.EnumerateDevices().ok());
        ASSERT_EQ(rig.link.DeviceList().size(), 2u) << devices;
        const int before = rig.clock.TotalMs();
        const Status status = rig.link.ActivateDevice(rig.ConfigPath(0), true);
        const int spent = rig.clock.TotalMs() - before;
        ASSERT_FALSE(status.ok()) << devices;
        EXPECT_NE(status.message().find(rig.ConfigPath(0)), std::string::npos) << status.message();
        EXPECT_NE(status.message().find("5 attempts"), std::string::npos) << status.message();
        // Each attempt is at most three exchanges, each giving up after its poll limits.
        const int perExchange = Transport::kIdlePollLimit + Transport::kReplyPollLimit + 50;
        EXPECT_LE(spent, DeviceLink::kActivationAttempts * 3 * perExchange) << devices;
        EXPECT_GT(spent, 0);
        // The healthy device was still told it is not the chosen one.
        EXPECT_EQ(rig.Device(1).MouseState().hostMode, 0) << devices;
    }
}

}  // namespace
}  // namespace qvm
