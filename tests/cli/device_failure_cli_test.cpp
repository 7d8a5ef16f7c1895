// qvmctl on devices that leave, stall, stop answering or answer nonsense, in-process and
// through the device bridge, and on simulated devices kept on a full disk or in a damaged
// state file: each failure has its own message, exit status 1 where the device or the
// computer failed, and nothing claims a success that did not happen or is lost silently.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/qvmctl.h"
#include "run_qvmctl.h"
#include "support/small_tmpfs.h"
#include "support/temp_folder.h"
#include "temporary_files.h"

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

// Unplugged in the middle of a restore: the write stops there, the device's state is
// named, and nothing says "restored".
TEST(QvmctlDeviceFailures, RestoreStopsWhereTheDeviceLeft) {
    test::TempFolder folder;
    const std::string file = folder.File("m.bf");
    const Outcome saved = Qvmctl({"--hid", "sim:g12/mem=8k", "backup", file});
    ASSERT_EQ(saved.status, kExitOk) << saved.err;
    // The mouse's first change saved its memory: the restore below writes at once.
    const Outcome first = Qvmctl({"--hid", "sim:g12/mem=8k", "set", "name", "1", "First"});
    ASSERT_EQ(first.status, kExitOk) << first.err;
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

// The device leaves while its memory is saved before its first change: nothing was
// written, and the message says so rather than where a write stopped.
TEST(QvmctlDeviceFailures, LeavingDuringTheFirstBackupWritesNothing) {
    test::TempFolder folder;
    const std::string file = folder.File("m.bf");
    ASSERT_EQ(Qvmctl({"--hid", "sim:g12/mem=8k", "backup", file}).status, kExitOk);
    const Outcome run =
        Qvmctl({"--hid", "sim:g12/mem=8k/removeafter=600", "restore", file, "--yes"});
    EXPECT_EQ(run.status, kExitDevice);
    EXPECT_TRUE(Has(run.err,
                    "the device left while its memory was being saved before its first "
                    "change; nothing was written to it\n"))
        << run.err;
    EXPECT_FALSE(Has(run.err, "partly")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(folder.File("backups")) &&
                 !std::filesystem::is_empty(folder.File("backups")));
}

// Stage 1's DPI in the JSON of `show`; a class C mouse starts at 800.
std::string Stage1Json(int dpi) {
    return "\"x_dpi\": " + std::to_string(dpi) + ",\n      \"y_dpi\": " + std::to_string(dpi);
}

struct FullDiskCase {
    const char* name;
    bool savedBefore;  // the device's state file exists before the disk fills
    bool bridge;       // the device is served by qvm-sim over the device bridge
    int status;
    bool kept;
};

// A change made on a full disk: an existing state file is overwritten in place and needs
// no new block, so the change is kept; without one the change cannot be kept, and
// qvmctl says why and fails, whichever process keeps the simulated device.
const FullDiskCase kFullDiskCases[] = {
    {"NothingSavedYet", false, false, kExitDevice, false},
    {"NothingSavedYetThroughTheBridge", false, true, kExitDevice, false},
    {"SavedMemoryIsOverwrittenInPlace", true, false, kExitOk, true},
};

void PrintTo(const FullDiskCase& c, std::ostream* os) {
    *os << c.name;
}

class QvmctlFullDisk : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(QvmctlFullDisk, SaysWhatWasNotKept) {
    const FullDiskCase& c = GetParam();
    test::TempFolder folder;
    test::SmallTmpfs disk(folder.File("sim"), 256 * 1024);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.Why();
    }
    if (c.savedBefore) {
        ASSERT_EQ(Qvmctl(OnG12({"set", "name", "1", "Before"})).status, kExitOk);
    }
    disk.Fill();

    const std::vector<std::string> dpi{"set", "dpi", "1", "1200"};
    std::vector<std::string> args = OnG12(dpi);
    if (c.bridge) {
        args = {"--hid", SimBridge("g12", folder.File("sim"))};
        args.insert(args.end(), dpi.begin(), dpi.end());
    }
    Outcome set = Qvmctl(args);
    EXPECT_EQ(set.status, c.status) << set.err;
    EXPECT_EQ(TemporaryFiles(folder.File("sim")), std::vector<std::string>());
    // The command's own failure carries the reason, once; no success is claimed.
    const std::string reason = "cannot keep the simulated device's memory in " +
                               folder.File("sim/0-g12.mem") + ": No space left on device";
    const std::size_t first = set.err.find(reason);
    EXPECT_EQ(first != std::string::npos, !c.kept) << set.err;
    if (first != std::string::npos) {
        EXPECT_EQ(set.err.find(reason, first + 1), std::string::npos) << set.err;
        EXPECT_TRUE(Has(set.err, "cannot set the DPI: the device did not take the request"))
            << set.err;
        EXPECT_FALSE(Has(set.out, "1200")) << set.out;
    }

    disk.Free();
    Outcome show = Qvmctl(OnG12({"show", "--json"}));
    ASSERT_EQ(show.status, kExitOk) << show.err;
    EXPECT_EQ(Has(show.out, Stage1Json(1200)), c.kept) << show.out;
    EXPECT_EQ(Has(show.out, Stage1Json(800)), !c.kept) << show.out;
}

INSTANTIATE_TEST_SUITE_P(States, QvmctlFullDisk, ::testing::ValuesIn(kFullDiskCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm::cli
