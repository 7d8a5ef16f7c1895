// Macro stores and compactions on a mouse that leaves, stalls or stops answering: they
// end at the first exchange that fails, with the device's own failure and its kind.
#include <gtest/gtest.h>

#include "macro_memory_rig.h"

namespace qvm {
namespace {

using test::MacroRig;

enum class MacroWork { Store, Compact };

struct MacroFailureCase {
    const char* name;
    MacroWork work;
    SimFaults faults;
    ErrorKind kind;
    std::string message;
};

void PrintTo(const MacroFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class MacroDeviceFailure : public ::testing::TestWithParam<MacroFailureCase> {};

TEST_P(MacroDeviceFailure, EndsWithTheDevicesOwnFailure) {
    const MacroFailureCase& c = GetParam();
    MacroRig rig("g12/mem=8k", test::kAreasC);
    rig.Load();
    rig.PokeSlot(2, rig.areas.heap + 0x100, test::FakeRecord("far", 40, 0x10));
    rig.Load();
    rig.Device().SetFaults(c.faults);
    const int before = rig.clock.TotalMs();
    const std::vector<MacroItem> items(40, test::Item({0x88, 0x10}));
    const Status done = c.work == MacroWork::Store
                            ? StoreMacro(*rig.model, 0, kMacroModeOnce, "m", items)
                            : CompactMacroMemory(*rig.model);
    ASSERT_FALSE(done.ok());
    EXPECT_EQ(done.kind(), c.kind);
    EXPECT_EQ(done.message(), c.message);
    // One failed exchange, not a poll limit for each write still to come.
    EXPECT_LT(rig.clock.TotalMs() - before, Transport::kIdlePollLimit + 100);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MacroDeviceFailure,
    ::testing::Values(
        MacroFailureCase{"StoreLeaves", MacroWork::Store, SimFaults{.removeAfter = 7},
                         ErrorKind::DeviceGone,
                         "the device left; macro slot 1 is empty; nothing was stored"},
        MacroFailureCase{"StoreBusy", MacroWork::Store, SimFaults{.busyForever = true},
                         ErrorKind::DeviceBusy,
                         "the device stayed busy for 0.4 s; macro slot 1 is as it was; nothing "
                         "was stored"},
        MacroFailureCase{"CompactLeaves", MacroWork::Compact, SimFaults{.removeAfter = 5},
                         ErrorKind::DeviceGone, "the device left; no macro was moved"},
        MacroFailureCase{"CompactSilent", MacroWork::Compact, SimFaults{.noReply = true},
                         ErrorKind::DeviceSilent,
                         "the device did not answer for 0.4 s (the simulated device did not "
                         "answer); no macro was moved"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
