// Refresh runs and hot-plug: arrivals and removals through the simulator, removal of the
// active device in the middle of a refresh, the network-requested device, and arrivals
// probed while another thread refreshes.
#include <gtest/gtest.h>

#include <thread>

#include "discovery_rig.h"

namespace qvm {
namespace {

using test::LinkRig;
using Paths = std::vector<std::string>;

struct HookLog {
    Paths layouts;
    Paths loads;
    RefreshHooks Hooks() {
        return {[this](const std::string& p) { layouts.push_back(p); },
                [this](const std::string& p) { loads.push_back(p); }};
    }
};

TEST(DiscoveryRefresh, FirstRunEnumeratesActivatesAndLoadsEntry0) {
    LinkRig rig("g12,g0");
    HookLog log;
    const RefreshResult first = rig.link.Refresh(log.Hooks());
    EXPECT_TRUE(first.ran);
    EXPECT_TRUE(first.enumerated);
    EXPECT_TRUE(first.activation.ok()) << first.activation.message();
    EXPECT_EQ(first.active, rig.ConfigPath(0));
    EXPECT_EQ(rig.link.ActiveDevice(), rig.ConfigPath(0));
    EXPECT_EQ(rig.Device(0).MouseState().hostMode, 9);
    EXPECT_EQ(rig.Device(1).MouseState().hostMode, 0);
    EXPECT_EQ(log.layouts, Paths{rig.ConfigPath(0)});
    EXPECT_EQ(log.loads, Paths{rig.ConfigPath(0)});

    // Later runs do not scan again, and follow a device the network service asked for.
    rig.link.RequestDevice(rig.ConfigPath(1));
    const RefreshResult second = rig.link.Refresh(log.Hooks());
    EXPECT_FALSE(second.enumerated);
    EXPECT_EQ(second.active, rig.ConfigPath(1));
    EXPECT_EQ(rig.link.RequestedDevice(), "");
    EXPECT_EQ(rig.Device(0).MouseState().hostMode, 0);
    EXPECT_EQ(rig.Device(1).MouseState().hostMode, 9);
    EXPECT_EQ(rig.link.DeviceList().size(), 2u);

    // A request for a path that is not listed falls back to entry 0.
    rig.link.RequestDevice("sim#vid_0c45&pid_9999&mi_02#gone");
    EXPECT_EQ(rig.link.Refresh(log.Hooks()).active, rig.ConfigPath(0));
}

TEST(DiscoveryRefresh, ARefreshStartedDuringARefreshDoesNotRun) {
    LinkRig rig("g12");
    bool innerRan = true;
    RefreshHooks hooks;
    hooks.decideLayout = [&](const std::string&) { innerRan = rig.link.Refresh({}).ran; };
    EXPECT_TRUE(rig.link.Refresh(hooks).ran);
    EXPECT_FALSE(innerRan);
    EXPECT_FALSE(rig.link.Refreshing());
}

// The device leaves after a set number of transfers, measured on a twin: enough for the
// probe, too few for the activation. Seen by the activation or by the removal event, the
// departed device never becomes the active one, and the run says why.
TEST(DiscoveryRefresh, ActiveDeviceLeavingDuringTheRefresh) {
    LinkRig twin("g12");
    ASSERT_EQ(twin.link.ProbeDevice(twin.ConfigPath(0)).outcome, ProbeOutcome::Listed);
    const uint64_t probeTransfers = test::Transfers(twin.Device(0).Stats());
    const std::string devices = "g12/removeafter=" + std::to_string(probeTransfers + 3);

    for (const bool handledDuringRefresh : {false, true}) {
        SCOPED_TRACE(handledDuringRefresh ? "removal handled during the run" : "after the run");
        LinkRig rig(devices);
        const std::string path = rig.ConfigPath(0);
        DeviceEvents during;
        HookLog log;
        RefreshHooks hooks = log.Hooks();
        if (handledDuringRefresh) {
            hooks.decideLayout = [&](const std::string&) { during = rig.link.HandleEvents(); };
        }
        const RefreshResult r = rig.link.Refresh(hooks);
        EXPECT_FALSE(rig.Device(0).Present());
        EXPECT_EQ(r.activation.kind(), ErrorKind::DeviceGone) << r.activation.message();
        // The activation took it off the list at once.
        EXPECT_TRUE(rig.link.DeviceList().empty());
        EXPECT_EQ(r.active, "");
        EXPECT_EQ(log.loads, Paths{""});
        const DeviceEvents after = rig.link.HandleEvents();
        EXPECT_EQ(rig.link.ActiveDevice(), "");
        EXPECT_FALSE(after.activeRemoved);
        EXPECT_FALSE(during.activeRemoved);
    }
}

// ---- Hot-plug ----

TEST(DiscoveryHotPlug, RemovalAndArrivalThroughTheSimulator) {
    LinkRig rig("g12,mx28,g0");
    rig.link.Refresh({});
    ASSERT_EQ(rig.link.ActiveDevice(), rig.ConfigPath(0));

    // Another device leaves: the active one stays, no refresh is asked for.
    rig.Device(2).Detach();
    DeviceEvents e = rig.link.HandleEvents();
    EXPECT_FALSE(e.activeRemoved);
    EXPECT_EQ(e.removed, Paths{rig.ConfigPath(2)});
    EXPECT_EQ(e.refreshDelayMs, 0);
    EXPECT_EQ(rig.link.ActiveDevice(), rig.ConfigPath(0));
    EXPECT_EQ(rig.link.DeviceList(), (Paths{rig.ConfigPath(0), rig.ConfigPath(1)}));

    // The active device leaves.
    rig.Device(0).Detach();
    e = rig.link.HandleEvents();
    EXPECT_TRUE(e.activeRemoved);
    EXPECT_EQ(e.removed, Paths{rig.ConfigPath(0)});
    EXPECT_EQ(e.refreshDelayMs, DeviceLink::kRemovalRefreshDelayMs);
    EXPECT_EQ(rig.link.ActiveDevice(), "");
    EXPECT_EQ(rig.link.DeviceList(), Paths{rig.ConfigPath(1)});

    // Both come back: each is probed once, after the settle delay, and appended.
    rig.clock.Clear();
    rig.Device(2).Attach();
    rig.Device(0).Attach();
    e = rig.link.HandleEvents();
    EXPECT_EQ(e.listed, (Paths{rig.ConfigPath(2), rig.ConfigPath(0)}));
    EXPECT_EQ(e.refreshDelayMs, DeviceLink::kArrivalRefreshDelayMs);
    EXPECT_EQ(test::SleepsOf(rig.clock, DeviceLink::kArrivalSettleMs), 2);
    EXPECT_EQ(rig.link.DeviceList(),
              (Paths{rig.ConfigPath(1), rig.ConfigPath(2), rig.ConfigPath(0)}));
    EXPECT_EQ(rig.values.Get(rig.ConfigPath(0)).ProtocolGeneration, 12);
}

// Arrivals probed on one thread while another refreshes and a third probes the same
// path: the list stays free of duplicates and every lock is taken in order.
TEST(DiscoveryHotPlug, ArrivalsWhileAnotherThreadRefreshes) {
    LinkRig rig("g12,g0,g5,mx29");
    constexpr int kRounds = 20;
    std::jthread refresher([&] {
        for (int i = 0; i < kRounds; ++i) rig.link.Refresh({});
    });
    std::jthread prober([&] {
        for (int i = 0; i < kRounds; ++i) rig.link.ProbeDevice(rig.ConfigPath(1));
    });
    for (int i = 0; i < kRounds; ++i) {
        rig.Device(2).Detach();
        rig.link.HandleEvents();
        rig.Device(2).Attach();
        rig.link.HandleEvents();
    }
    refresher.join();
    prober.join();
    rig.link.HandleEvents();
    const Paths list = rig.link.DeviceList();
    for (const std::string& p : list) {
        EXPECT_EQ(std::count(list.begin(), list.end(), p), 1) << p;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NE(std::find(list.begin(), list.end(), rig.ConfigPath(i)), list.end()) << i;
    }
}

}  // namespace
}  // namespace qvm
