// qvmctl on devices that leave, stall, stop answering or answer nonsense, in-process and
// through the device bridge: each failure has its own message, exit status 1, and
// nothing claims a success that did not happen.
#include <gtest/gtest.h>

#include "cli/qvmctl.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

struct FailureRun {
    const char* name;
    std::vector<std::string> args;
    std::string message;  // on standard error, after "qvmctl: "
};

void PrintTo(const FailureRun& c, std::ostream* os) {
    *os << c.name;
}

class QvmctlDeviceFailures : public ::testing::TestWithParam<FailureRun> {};

TEST_P(QvmctlDeviceFailures, SayWhatHappenedAndExit1) {
    const FailureRun& c = GetParam();
    test::TempFolder folder;  // the user folder of this run
    const Outcome run = Qvmctl(c.args);
    EXPECT_EQ(run.status, kExitDevice) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("qvmctl: ", 0), 0u) << run.err;
    EXPECT_TRUE(Has(run.err, c.message)) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Qvmctl, QvmctlDeviceFailures,
    ::testing::Values(
        // Identification takes about 100 transfers, the host mode 7, then the load.
        FailureRun{"LeavesDuringIdentification",
                   {"--hid", "sim:g12/removeafter=5", "show"},
                   "no device found; sim#vid_0c45&pid_7030&mi_02#d0i2: the device left"},
        FailureRun{"LeavesDuringTheLoad",
                   {"--hid", "sim:g12/removeafter=120", "show"},
                   "cannot read the configuration: the device left"},
        FailureRun{"StaysBusy",
                   {"--hid", "sim:g12/busy=forever", "show"},
                   ": the device stayed busy for 0."},
        FailureRun{"DoesNotAnswer",
                   {"--hid", "sim:g12/noreply", "status"},
                   ": the device did not answer for 0."},
        FailureRun{"AnswersNonsense",
                   {"--hid", "sim:g12/corrupt", "show"},
                   "the device's replies are garbled ("},
        FailureRun{"BridgeSaysGone",
                   {"--hid", SimBridge("g12/removeafter=105"), "show"},
                   "the device left (bridge: gone: "}),
    [](const auto& info) { return std::string(info.param.name); });

// A device that leaves while it is being identified is not listed.
TEST(QvmctlDeviceFailures, ListLeavesOutADeviceThatLeft) {
    for (const std::string& hid :
         {std::string("sim:g12/removeafter=5"), SimBridge("g12/removeafter=5")}) {
        SCOPED_TRACE(hid);
        const Outcome run = Qvmctl({"--hid", hid, "list"});
        EXPECT_EQ(run.status, kExitOk) << run.err;
        EXPECT_FALSE(Has(run.out, "pid_7030")) << run.out;
    }
}

// Unplugged in the middle of a restore: the write stops there, the device's state is
// named, and nothing says "restored".
TEST(QvmctlDeviceFailures, RestoreStopsWhereTheDeviceLeft) {
    test::TempFolder folder;
    const std::string file = folder.File("m.bf");
    const Outcome saved = Qvmctl({"--hid", "sim:g12/mem=8k", "backup", file});
    ASSERT_EQ(saved.status, kExitOk) << saved.err;
    // Identification and the load take some 370 transfers; the write of 8 KiB about 515.
    for (const std::string& hid :
         {std::string("sim:g12/mem=8k/removeafter=600"), SimBridge("g12/mem=8k/removeafter=600")}) {
        SCOPED_TRACE(hid);
        const Outcome run = Qvmctl({"--hid", hid, "restore", file, "--yes"});
        EXPECT_EQ(run.status, kExitDevice);
        EXPECT_EQ(run.out, "");
        // "... after 0xHHHH of 0x2000 bytes[ (bridge: gone: ...)]: its memory is ..."
        EXPECT_TRUE(Has(run.err, "qvmctl: restore failed: the device left after 0x")) << run.err;
        EXPECT_TRUE(Has(run.err, " of 0x2000 bytes")) << run.err;
        EXPECT_TRUE(Has(run.err,
                        ": its memory is partly restored; restore again when it is "
                        "back\n"))
            << run.err;
    }
}

}  // namespace
}  // namespace qvm::cli
