// A mouse that leaves, stalls or stops answering while its memory is loaded, restored or
// reset: the operation stops at the first exchange that fails, writes nothing after it,
// and says what the device now holds, with the failure's own kind.
#include <gtest/gtest.h>

#include "config/backup.h"
#include "image_rig.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

std::vector<uint8_t> FailurePattern(std::size_t n, uint8_t seed) {
    std::vector<uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed ^ (i * 13 + (i >> 8)));
    return out;
}

// A backup file of `memory`, as the backup writes it.
std::vector<uint8_t> FailureBackupFile(const std::vector<uint8_t>& memory) {
    std::vector<uint8_t> out = EncodeBackupHeader(static_cast<uint32_t>(memory.size()));
    out.insert(out.end(), memory.begin(), memory.end());
    return out;
}

// The device leaves after enough transfers for 85 blocks of 32 bytes (0x0AA0 bytes):
// generation 12 spends 3 on the update notice and 2 on each block; generation 0 has no
// notice and spends 15 on each block (six staging commands and the commit).
struct StoppedRestoreCase {
    const char* name;
    std::string devices;
    SimFaults faults;
    ErrorKind kind;
    std::string message;
    uint32_t written;  // bytes of the file in the device afterwards
};

void PrintTo(const StoppedRestoreCase& c, std::ostream* os) {
    *os << c.name;
}

class StoppedRestore : public ::testing::TestWithParam<StoppedRestoreCase> {};

TEST_P(StoppedRestore, StopsAtTheFirstFailedWriteAndSaysWhatTheDeviceHolds) {
    const StoppedRestoreCase& c = GetParam();
    test::SimRig rig(c.devices);
    const auto before = FailurePattern(0x2000, 0x3C);
    rig.Device().PokeMemory(0, before);
    const auto file = FailurePattern(0x2000, 0xA5);
    test::TempFolder folder;
    const std::string name = folder.Write("r.bf", FailureBackupFile(file));
    rig.Device().SetFaults(c.faults);
    rig.Device().ResetStats();
    int reloads = 0;
    auto restored = RestoreBackup(*rig.commands, *rig.commands, rig.path, name, rig.clock, [&] {
        ++reloads;
        return Status{};
    });
    ASSERT_FALSE(restored.ok());
    EXPECT_EQ(restored.kind(), c.kind);
    EXPECT_EQ(restored.message(), c.message);
    EXPECT_EQ(reloads, 0) << "nothing is loaded back from a device that failed the write";
    // Nothing polls a device that left: at most the one transfer that found it gone.
    if (c.kind == ErrorKind::DeviceGone) {
        const SimTransferStats stats = rig.Device().Stats();
        EXPECT_LE(stats.getFeature + stats.setFeature,
                  static_cast<uint64_t>(c.faults.removeAfter) + 1);
    }
    std::vector<uint8_t> expected = before;
    std::copy_n(file.begin(), c.written, expected.begin());
    EXPECT_EQ(rig.Device().PeekMemory(0, 0x2000), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, StoppedRestore,
    ::testing::Values(
        StoppedRestoreCase{"LongLeaves", "g12/mem=8k", SimFaults{.removeAfter = 3 + 2 * 85},
                           ErrorKind::DeviceGone,
                           "the device left after 0x0AA0 of 0x2000 bytes: its memory is partly "
                           "restored; restore again when it is back",
                           0xAA0},
        StoppedRestoreCase{"ShortLeaves", "g0/mem=8k", SimFaults{.removeAfter = 15 * 85},
                           ErrorKind::DeviceGone,
                           "the device left after 0x0AA0 of 0x2000 bytes: its memory is partly "
                           "restored; restore again when it is back",
                           0xAA0},
        StoppedRestoreCase{"ShortSilent", "g0/mem=8k", SimFaults{.noReply = true},
                           ErrorKind::DeviceSilent,
                           "the device did not answer for 0.4 s after 0x0000 of 0x2000 bytes (the "
                           "simulated device did not answer): its memory is partly restored; "
                           "restore again",
                           0}),
    [](const auto& info) { return std::string(info.param.name); });

// The factory reset stops the same way: 3 marker bytes (2 transfers each), the notice
// (3), then 20 blocks of 32 bytes (2 each) before the device leaves.
TEST(StoppedReset, StopsAtTheFirstFailedWriteAndSaysWhatTheDeviceHolds) {
    test::ImageRig rig("g12");
    rig.Load();
    const auto before = rig.Device().PeekMemory(0, 0x550);
    rig.Device().SetFaults(SimFaults{.removeAfter = 3 * 2 + 3 + 20 * 2});
    const Status reset = rig.model->ResetConfiguration(ResetColours::Defaults);
    ASSERT_FALSE(reset.ok());
    EXPECT_EQ(reset.kind(), ErrorKind::DeviceGone);
    EXPECT_EQ(reset.message(),
              "the device left after 0x0280 of 0x0550 bytes: its memory is partly reset; reset "
              "again when it is back");
    EXPECT_EQ(rig.Device().PeekMemory(0x280, 0x550 - 0x280),
              std::vector<uint8_t>(before.begin() + 0x280, before.end()));
}

// A load that meets a failing device ends with that failure and its kind, at once, and
// the last finished image stays readable.
struct FailedLoadCase {
    const char* name;
    const char* devices;
    SimFaults faults;
    ErrorKind kind;
    std::string message;
};

void PrintTo(const FailedLoadCase& c, std::ostream* os) {
    *os << c.name;
}

class FailedLoad : public ::testing::TestWithParam<FailedLoadCase> {};

TEST_P(FailedLoad, EndsWithTheDevicesOwnFailure) {
    const FailedLoadCase& c = GetParam();
    test::ImageRig rig(c.devices);
    rig.Load();
    const auto previous = rig.Image();
    const int before = rig.clock.TotalMs();
    rig.Device().SetFaults(c.faults);
    const Status loaded = rig.model->LoadConfiguration();
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.kind(), c.kind);
    EXPECT_EQ(loaded.message(), c.message);
    EXPECT_EQ(rig.Image(), previous);
    EXPECT_LT(rig.clock.TotalMs() - before, Transport::kIdlePollLimit + 100);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailedLoad,
    ::testing::Values(FailedLoadCase{"LeavesAtOnce", "g5", SimFaults{.removeAfter = 1},
                                     ErrorKind::DeviceGone, "the device left"},
                      FailedLoadCase{"LeavesLater", "g5", SimFaults{.removeAfter = 60},
                                     ErrorKind::DeviceGone, "the device left"},
                      FailedLoadCase{"ShortLeaves", "g0", SimFaults{.removeAfter = 300},
                                     ErrorKind::DeviceGone, "the device left"},
                      FailedLoadCase{"LongLeaves", "g12", SimFaults{.removeAfter = 40},
                                     ErrorKind::DeviceGone, "the device left"},
                      FailedLoadCase{"Busy", "g12", SimFaults{.busyForever = true},
                                     ErrorKind::DeviceBusy, "the device stayed busy for 0.4 s"},
                      FailedLoadCase{
                          "Silent", "g12", SimFaults{.noReply = true}, ErrorKind::DeviceSilent,
                          "the device did not answer for 0.4 s (the simulated device did not "
                          "answer)"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
