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
        {"vendor at 1", "xvid_0c45&pid_7010&mi_00#b", 0, {}, false},
        {"vendor at 2", "x#vid_0c45&pid_7010&mi_00#c", 0, {}, true},
        {"interface text at 0", "mi_00&vid_0c45&pid_7010#d", 0, {}, false},
        {"other vendor", "x#vid_0c46&pid_7010&mi_00#e", 0, {}, false},
        {"interface 0 usage 1", "x#vid_0c45&pid_7010&mi_00#f", 0, shortUsage1, false},
        {"interface 0 long report", "x#vid_0c45&pid_7010&mi_00#g", 0, longCaps, false},
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
                         ::testing::Values(ActivationCase{"g2,g0,g11", {0, 1, 2}},
                                           ActivationCase{"mx28,g12,g0", {1, 2}}));

TEST(DiscoveryActivation, UnlistedPathIsReported) {
    LinkRig rig("g12");
    const Status status = rig.link.ActivateDevice(rig.PathOf(0, 0), false);
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.message().find("not a listed device"), std::string::npos);
}

// ---- Devices that leave, stall or talk nonsense ----

// Identification of device 0 stops at its first exchange that fails; the healthy device 1
// is identified as ever. One exchange of a stalled device costs one idle poll.
struct ProbeFaultCase {
    const char* name;
    std::string devices;
    bool reported;  // listed among the unusable devices (a departure is not)
    ErrorKind kind;
    std::string reason;  // the start of the reason given
};

void PrintTo(const ProbeFaultCase& c, std::ostream* os) {
    *os << c.name;
}

class DiscoveryProbeFaults : public ::testing::TestWithParam<ProbeFaultCase> {};

TEST_P(DiscoveryProbeFaults, StopAtTheFirstFailedExchangeAndAreNotListed) {
    const ProbeFaultCase& c = GetParam();
    LinkRig rig(c.devices);
    ASSERT_TRUE(rig.link.EnumerateDevices().ok());
    EXPECT_EQ(rig.link.DeviceList(), Paths{rig.ConfigPath(1)});
    const auto unusable = rig.link.UnusableDevices();
    if (c.reported) {
        ASSERT_EQ(unusable.size(), 1u);
        EXPECT_EQ(unusable[0].path, rig.ConfigPath(0));
        EXPECT_EQ(unusable[0].kind, c.kind);
        EXPECT_EQ(unusable[0].reason.substr(0, c.reason.size()), c.reason) << unusable[0].reason;
    } else {
        EXPECT_TRUE(unusable.empty());
    }
    // One failed exchange: at most one idle poll's sleeps, plus the healthy device's.
    EXPECT_LT(rig.clock.TotalMs(), Transport::kIdlePollLimit + 100);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DiscoveryProbeFaults,
    ::testing::Values(
        ProbeFaultCase{"LongBusy", "g12/busy=forever,g5", true, ErrorKind::DeviceBusy,
                       "the device stayed busy for 0.4 s"},
        ProbeFaultCase{"LongSilent", "g12/noreply,g5", true, ErrorKind::DeviceSilent,
                       "the device did not answer for 0.4 s (the simulated device did not answer)"},
        ProbeFaultCase{"ShortLeaves", "g0/removeafter=2,g5", false, ErrorKind::DeviceGone, ""}),
    [](const auto& info) { return std::string(info.param.name); });

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
