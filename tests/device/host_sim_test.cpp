// The host's command set against the simulated firmware: two implementations of the
// same wire protocol written apart, so any disagreement in framing, command bytes or
// reply positions shows up here as a refused frame or a setting that did not arrive.
#include <gtest/gtest.h>

#include "device/commands.h"
#include "support/sim_rig.h"

namespace qvm {
namespace {

using Rig = test::SimRig;

struct Case {
    std::string devices;
    int generation;
    std::size_t hostModeByte;  // where the status reply carries the host mode
    bool lighting;             // the device keeps a lighting effect
};

class HostAgainstSimulator : public ::testing::TestWithParam<Case> {};

TEST_P(HostAgainstSimulator, EveryCommandArrivesAsMeant) {
    const Case& c = GetParam();
    Rig rig(c.devices);
    DeviceCommands& cmd = *rig.commands;
    const std::string& path = rig.path;
    ASSERT_FALSE(path.empty());

    // Memory: a write spanning two blocks reads back, from the device and not the cache.
    std::vector<uint8_t> data(40);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_TRUE(cmd.WriteMemory(path, 0x1000, data));
    std::vector<uint8_t> back(data.size());
    ASSERT_TRUE(cmd.ReadMemory(path, 0x1000, back, false));
    EXPECT_EQ(back, data);
    EXPECT_EQ(rig.Device().PeekMemory(0x1000, data.size()), data);
    ASSERT_TRUE(cmd.WriteMemoryByte(path, 0x1003, 0x5A));
    EXPECT_EQ(rig.Device().PeekMemory(0x1003, 1), std::vector<uint8_t>{0x5A});

    // Host mode goes out and comes back in the status reply.
    ASSERT_TRUE(cmd.SetHostMode(path, 9));
    EXPECT_EQ(rig.Device().MouseState().hostMode, 9);
    EXPECT_EQ(cmd.QueryStatus(path, 10)[c.hostModeByte], 9);

    // Immediate settings change the live state, and the live state reports them.
    ASSERT_TRUE(cmd.SetActiveProfile(path, 3));
    EXPECT_EQ(rig.Device().MouseState().profile, 3);
    EXPECT_EQ(cmd.ReadLiveState(path)[5], std::optional<uint8_t>(3));
    ASSERT_TRUE(cmd.SetSettingByte2(path, 2));
    EXPECT_EQ(rig.Device().MouseState().stage, 2);
    ASSERT_TRUE(cmd.SetSettingTriple(path, 20, 2, 30));
    EXPECT_EQ(rig.Device().MouseState().stageValues[2], (std::array<uint8_t, 2>{20, 30}));

    const int reloads = rig.Device().MouseState().reloads;
    ASSERT_TRUE(cmd.ReloadSettings(path));
    EXPECT_EQ(rig.Device().MouseState().reloads, reloads + 1);
    const int reloadsAlt = rig.Device().MouseState().reloadsAlt;
    ASSERT_TRUE(cmd.ReloadSettingsAlt(path));
    EXPECT_EQ(rig.Device().MouseState().reloadsAlt, reloadsAlt + 1);

    // Each immediate command changes only its own setting.
    EXPECT_EQ(rig.Device().MouseState().profile, 3);
    EXPECT_EQ(rig.Device().MouseState().stage, 2);

    if (c.generation >= 1) {
        const int notified = rig.Device().MouseState().notifyUpdates;
        ASSERT_TRUE(cmd.NotifyUpdate(path));
        EXPECT_EQ(rig.Device().MouseState().notifyUpdates, notified + 1);
        ASSERT_TRUE(cmd.NotifyUpdate(path));  // leaves no update session open
    }
    if (c.lighting) {
        ASSERT_TRUE(cmd.SetLightingEffect(path, 3));
        EXPECT_EQ(rig.Device().MouseState().lightingEffect, 3);
        EXPECT_EQ(rig.Device().PeekMemory(0x11, 1), std::vector<uint8_t>{3});
    }

    // Identity: the records the host reads are the simulator's own.
    if (c.generation == 0) {
        EXPECT_EQ(cmd.ReadDeviceInfo(path).deviceClass, 4);
    }
    if (c.generation == 0 || c.generation >= 11) {
        const auto info = rig.Device().InfoArea();
        for (int r : {0, 1, 5}) {
            const Frame reply = cmd.ProbeRecord(path, r);
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(reply[2 + i], info[0x48 + 4 * r + i]) << "record " << r << " byte " << i;
            }
        }
    }

    const SimTransferStats stats = rig.Device().Stats();
    EXPECT_EQ(stats.badFrames, 0u);
    EXPECT_EQ(stats.unknownCommands, 0u);
    EXPECT_EQ(stats.refusedCommands, 0u);
    EXPECT_EQ(stats.failedTransfers, 0u);
}

INSTANTIATE_TEST_SUITE_P(Generations, HostAgainstSimulator,
                         ::testing::Values(Case{"g0", 0, 7, false}, Case{"g2", 2, 6, false},
                                           Case{"g5x", 5, 6, true}, Case{"g12", 12, 12, true}),
                         [](const auto& info) { return info.param.devices; });

// A device that leaves in the middle of a multi-block write: the command reports the
// failure instead of claiming success.
TEST(HostAgainstSimulator, RemovalMidWriteIsReported) {
    for (const char* devices : {"g0/removeafter=12", "g12/removeafter=3"}) {
        SCOPED_TRACE(devices);
        Rig rig(devices);
        std::vector<uint8_t> data(96, 0x42);
        EXPECT_FALSE(rig.commands->WriteMemory(rig.path, 0x1000, data));
        EXPECT_FALSE(rig.Device().Present());
    }
}

}  // namespace
}  // namespace qvm
