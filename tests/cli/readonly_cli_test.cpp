// Commands that only read leave the device exactly as they found it: on blank memory and
// on initialised devices of every layout class, no memory write reaches the device and
// its memory stays byte for byte the same. A device whose memory holds no configuration
// is reported as such, and only an explicit reset or restore writes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

#include "base/atomic_file.h"
#include "cli/qvmctl.h"
#include "config/backup.h"
#include "held_sim.h"
#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

constexpr const char* kTapMacro = "key-down A\nwait 50\nkey-up A\n";

struct MouseCase {
    const char* devices;
    bool initialised;  // a factory image, with a macro stored in slot 1 before the reads
    bool sizeKnown;    // the memory size can be learnt by reading (not on a blank A or B)
};

const MouseCase kMice[] = {
    {"g12/blank", false, true},
    {"g5/blank", false, false},
    {"g0", true, true},
    {"g12/mem=8k", true, true},
};

// Every command that only reads, and how it ends on an initialised and a blank device.
struct ReadCase {
    std::vector<std::string> args;  // "FILE" stands for a file in the test's folder
    int initialised;
    int blank;
};

const ReadCase kReads[] = {
    {{"list"}, kExitOk, kExitOk},
    {{"info"}, kExitOk, kExitOk},
    {{"status"}, kExitOk, kExitOk},
    {{"show"}, kExitOk, kExitDevice},
    {{"backup", "FILE"}, kExitOk, kExitOk},  // blank A and B: see sizeKnown
    {{"mem", "read", "0", "0x100"}, kExitOk, kExitOk},
    {{"macro", "list"}, kExitOk, kExitDevice},
    {{"macro", "show", "1"}, kExitOk, kExitDevice},
    {{"macro", "read", "1", "FILE"}, kExitOk, kExitDevice},
};

TEST(QvmctlReadOnly, ReadingCommandsNeverWriteTheDevice) {
    for (const MouseCase& mouse : kMice) {
        SCOPED_TRACE(mouse.devices);
        test::TempFolder folder;
        HeldMouse held(mouse.devices);
        ASSERT_TRUE(held.sim);
        if (mouse.initialised) {
            Outcome stored = held.Run({"macro", "store", "1", "-", "--name", "Tap"}, kTapMacro);
            ASSERT_EQ(stored.status, kExitOk) << stored.err;
        }
        const std::vector<uint8_t> before = held.Memory();
        held.Device().ResetStats();

        for (const ReadCase& read : kReads) {
            SCOPED_TRACE(read.args[0] + " " + read.args.back());
            const std::string file = folder.File("out");
            std::filesystem::remove(file);
            std::filesystem::remove(file + ".mf");
            std::vector<std::string> args = read.args;
            for (auto& a : args) a = a == "FILE" ? file : a;
            const Outcome run = held.Run(args);

            EXPECT_EQ(held.MemoryWrites(), 0u);
            ASSERT_EQ(held.Memory(), before) << "the memory changed";
            const bool backup = read.args[0] == "backup";
            int expected = mouse.initialised ? read.initialised : read.blank;
            if (backup && !mouse.sizeKnown) expected = kExitDevice;
            EXPECT_EQ(run.status, expected) << run.err;
            if (run.status == kExitDevice) {
                EXPECT_TRUE(Has(run.err, "uninitialised")) << run.err;
                EXPECT_TRUE(Has(run.err, "'qvmctl reset' initialises it")) << run.err;
            }
            if (backup && run.status == kExitOk) {
                // The file holds the memory as it is, not what a load would make of it.
                auto bytes = ReadFileIfExists(file);
                ASSERT_TRUE(bytes.ok() && bytes->has_value());
                auto contents = DecodeBackupFile(**bytes);
                ASSERT_TRUE(contents.ok()) << contents.message();
                EXPECT_EQ(contents->memory, before);
            }
        }
    }
}

// Only a reset, after the user agreed, initialises a blank device.
TEST(QvmctlReadOnly, ResetInitialisesABlankDeviceOnlyWhenAgreed) {
    for (const char* devices : {"g12/blank", "g0/blank"}) {
        SCOPED_TRACE(devices);
        test::TempFolder folder;
        HeldMouse held(devices);
        const std::vector<uint8_t> blank = held.Memory();
        Outcome no = held.Run({"reset"}, "n\n");
        EXPECT_EQ(no.status, kExitDevice);
        EXPECT_TRUE(Has(no.err, "nothing was changed")) << no.err;
        EXPECT_EQ(held.MemoryWrites(), 0u);
        EXPECT_EQ(held.Memory(), blank);

        Outcome yes = held.Run({"reset"}, "y\n");
        ASSERT_EQ(yes.status, kExitOk) << yes.err;
        EXPECT_EQ(held.Memory()[0], 0x12);
        Outcome show = held.Run({"show"});
        EXPECT_EQ(show.status, kExitOk) << show.err;
        EXPECT_TRUE(Has(show.out, "profile 1")) << show.out;
    }
}

// A backup that would leave no configuration is refused, naming --force, and nothing is
// written; forced, a file cut short writes what it holds and no more. (Which files are
// refused: the backup tests.)
TEST(QvmctlReadOnly, RestoreRefusesFilesThatWouldLeaveNoConfigurationUnlessForced) {
    test::TempFolder folder;
    HeldMouse held("g12/mem=8k");
    const std::vector<uint8_t> before = held.Memory();
    std::vector<uint8_t> memory = before;
    memory[0] = 0xFF;  // no configuration marker
    memory[0x40] ^= 0x5A;
    std::vector<uint8_t> file = EncodeBackupHeader(0x2000);
    file.insert(file.end(), memory.begin(), memory.end());
    const Outcome refused = held.Run({"restore", "--yes", folder.Write("r.bf", file)});
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_TRUE(Has(refused.err, "not the configuration marker")) << refused.err;
    EXPECT_TRUE(Has(refused.err, "--force")) << refused.err;
    EXPECT_EQ(held.MemoryWrites(), 0u);

    file[file.size() - memory.size()] = before[0];  // the marker back
    file.resize(file.size() - 0x1000);              // 4096 of its 8192 bytes
    memory[0] = before[0];
    const Outcome forced = held.Run({"restore", "--yes", "--force", folder.Write("r.bf", file)});
    EXPECT_EQ(forced.status, kExitOk) << forced.err;
    EXPECT_TRUE(Has(forced.err, "were not written")) << forced.err;
    std::vector<uint8_t> expected = before;
    std::copy_n(memory.begin(), 0x1000, expected.begin());
    EXPECT_EQ(held.Memory(), expected);
}

}  // namespace
}  // namespace qvm::cli
