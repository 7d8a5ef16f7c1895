// The backup saved before a mouse's first write: its name, that it holds the memory as it
// was before that write, that it is saved once, and that a mouse whose memory cannot be
// saved is not written until the user agrees.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "config/backup.h"
#include "config/first_backup.h"
#include "support/sim_rig.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

struct FirstBackupRig : test::SimRig {
    test::TempFolder temp;
    std::string folder = temp.File("backups");
    std::vector<std::string> saved;
    std::unique_ptr<FirstBackup> backups;

    explicit FirstBackupRig(const std::string& devices) : SimRig(devices) { Install(); }

    // A new program run: the same folder, nothing remembered in memory.
    void Install() {
        FirstBackup::Options options;
        options.folder = folder;
        options.today = [] { return std::string("20261207"); };
        options.saved = [this](const std::string&, const std::string& file) {
            saved.push_back(file);
        };
        backups.reset();
        backups = std::make_unique<FirstBackup>(*commands, stack->Link(), options);
        backups->InstallGate();
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
    std::vector<uint8_t> Memory() { return Peek(0, Device().Config().memorySize); }
    bool WriteName() {
        const std::vector<uint8_t> bytes = {0x41, 0x00, 0x42, 0x00};
        return commands->WriteMemory(path, 0x100, bytes);
    }
};

TEST(FirstBackupName, PartsAreSafeAndTheSerialFallsBackToThePort) {
    struct Case {
        const char* model;
        const char* serial;
        const char* container;
        const char* name;
    };
    const Case cases[] = {
        {"G12", "AB12", "x", "G12-AB12-20261207.bf"},
        // The separator and anything outside letters, digits, '.' and '_' are replaced.
        {"G-12 Pro", "A/B-1", "x", "G_12_Pro-A_B_1-20261207.bf"},
        {"..", "..", "x", "unknown-unknown-20261207.bf"},
        {"", "S", "x", "mouse-S-20261207.bf"},
        // No serial: FNV-1a of the port's path.
        {"G12", "", "", "G12-port811c9dc5-20261207.bf"},
        {"G12", "", "a", "G12-porte40c292c-20261207.bf"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            FirstBackupFileName(MakeBackupIdentity(c.model, c.serial, c.container), "20261207"),
            c.name)
            << c.model << " / " << c.serial;
    }
}

TEST(FirstBackupName, FindsOnlyThisDevicesBackupsOldestFirst) {
    test::TempFolder temp;
    const BackupIdentity id{"G12", "port01"};
    const std::vector<uint8_t> bytes = {1};
    for (const char* name :
         {"G12-port01-20261207.bf", "G12-port01-20250101.bf", "G12-port012-20250101.bf",
          "G12-port01-2026120.bf", "G12-port01-2026120x.bf", "G12-port01-20261207.bf.tmp",
          "G1-port01-20240101.bf", "X-G12-port01-20240101.bf"}) {
        temp.Write("b/" + std::string(name), bytes);
    }
    std::filesystem::create_directories(temp.File("b/G12-port01-20200101.bf"));  // a folder
    EXPECT_EQ(FindFirstBackups(temp.File("b"), id),
              (std::vector<std::string>{temp.File("b/G12-port01-20250101.bf"),
                                        temp.File("b/G12-port01-20261207.bf")}));
    EXPECT_TRUE(FindFirstBackups(temp.File("missing"), id).empty());
}

TEST(FirstBackup, TheFirstWriteSavesTheMemoryAsItWasOnceForTheDevice) {
    FirstBackupRig rig("g12/mem=8k");
    const std::vector<uint8_t> before = rig.Memory();
    ASSERT_TRUE(rig.WriteName());
    ASSERT_EQ(rig.saved.size(), 1u);
    ASSERT_EQ(rig.Files().size(), 1u);
    EXPECT_EQ(rig.saved[0], rig.folder + "/" + rig.Files()[0]);
    EXPECT_NE(rig.Memory(), before);  // the write went through after the backup

    auto file = ReadFileIfExists(rig.saved[0]);
    ASSERT_TRUE(file.ok() && file->has_value());
    auto contents = DecodeBackupFile(**file);
    ASSERT_TRUE(contents.ok()) << contents.message();
    EXPECT_EQ(contents->memory, before);
    EXPECT_EQ(contents->missingBytes, 0u);

    // More writes, and a new run of the program with the file there, save nothing more.
    ASSERT_TRUE(rig.WriteName());
    rig.Install();
    ASSERT_TRUE(rig.WriteName());
    EXPECT_EQ(rig.saved.size(), 1u);
    EXPECT_EQ(rig.Files().size(), 1u);
    EXPECT_EQ(rig.backups->FirstBackupOf(rig.path).value(), rig.folder + "/" + rig.Files()[0]);
}

TEST(FirstBackup, AMemoryThatCannotBeReadIsNotWrittenUntilTheUserAgrees) {
    FirstBackupRig rig("g12/mem=8k");
    const std::vector<uint8_t> before = rig.Memory();
    rig.Device().SetFaults(SimFaults{.noReply = true});
    const uint64_t writesBefore = rig.Device().Stats().memoryWrites;
    const uint64_t mark = rig.commands->FailureMark();
    EXPECT_FALSE(rig.WriteName());
    const DeviceFailure failure = rig.commands->FailureSince(rig.path, mark, "not taken");
    EXPECT_EQ(failure.kind, ErrorKind::Unsaved) << failure.Message();
    EXPECT_NE(failure.Message().find("could not be saved"), std::string::npos) << failure.Message();
    EXPECT_TRUE(rig.saved.empty());
    EXPECT_TRUE(rig.Files().empty());

    // The device answers again: the next write saves first, as if nothing had happened.
    rig.Device().SetFaults({});
    EXPECT_EQ(rig.Device().Stats().memoryWrites, writesBefore);
    ASSERT_TRUE(rig.WriteName());
    EXPECT_EQ(rig.saved.size(), 1u);
    auto file = ReadFileIfExists(rig.saved.at(0));
    ASSERT_TRUE(file.ok() && file->has_value());
    EXPECT_EQ(DecodeBackupFile(**file)->memory, before);
}

TEST(FirstBackup, AgreeingWritesWithoutABackup) {
    FirstBackupRig rig("g12/mem=8k");
    // The folder cannot be made: a file stands in its place.
    std::ofstream(rig.folder) << "x";
    EXPECT_FALSE(rig.WriteName());
    const uint64_t writes = rig.Device().Stats().memoryWrites;
    rig.backups->Accept(rig.path);
    EXPECT_TRUE(rig.WriteName());
    EXPECT_GT(rig.Device().Stats().memoryWrites, writes);
    EXPECT_TRUE(rig.saved.empty());
}

// A blank memory holds nothing to keep, whether the device reports its size (class C)
// or the size cannot be read without a configuration.
TEST(FirstBackup, ABlankMemoryHasNothingToKeep) {
    for (const char* devices : {"g5x/blank", "g12/mem=8k/blank"}) {
        SCOPED_TRACE(devices);
        FirstBackupRig rig(devices);
        EXPECT_TRUE(rig.WriteName());
        EXPECT_TRUE(rig.saved.empty());
        EXPECT_TRUE(rig.Files().empty());
    }
}

TEST(FirstBackup, ADeviceThatLeavesIsReportedGoneNotAskedAbout) {
    FirstBackupRig rig("g12/mem=8k");
    rig.Device().SetFaults(SimFaults{.removeAfter = 20});
    const uint64_t mark = rig.commands->FailureMark();
    EXPECT_FALSE(rig.WriteName());
    EXPECT_EQ(rig.commands->FailureSince(rig.path, mark, "").kind, ErrorKind::DeviceGone);
    EXPECT_TRUE(rig.Files().empty());
}

}  // namespace
}  // namespace qvm
