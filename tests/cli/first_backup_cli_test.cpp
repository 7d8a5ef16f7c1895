// qvmctl saves a mouse's memory before its first change, says where, and puts it back
// with `restore --first`; a mouse whose memory cannot be saved is left alone unless the
// user gives --accept-unsaved.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_qvmctl.h"
#include "support/temp_folder.h"

namespace qvm::cli {
namespace {

constexpr const char* kMouse = "g12/mem=8k";

std::vector<std::string> BackupsIn(const test::TempFolder& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder.File("backups"), error)) {
        names.push_back(entry.path().string());
    }
    return names;
}

// The device's whole memory as a backup file, read with qvmctl (which only reads).
std::vector<uint8_t> MemoryOf(const test::TempFolder& folder, const std::string& name) {
    const Outcome saved = Qvmctl(OnSim(kMouse, {"backup", folder.File(name)}));
    EXPECT_EQ(saved.status, kExitOk) << saved.err;
    return folder.Read(name);
}

TEST(QvmctlFirstBackup, TheFirstChangeIsSavedAndRestoreFirstPutsItBack) {
    test::TempFolder folder;
    const std::vector<uint8_t> original = MemoryOf(folder, "original.bf");
    EXPECT_TRUE(BackupsIn(folder).empty());  // a backup only reads: no first backup

    const Outcome changed = Qvmctl(OnSim(kMouse, {"set", "name", "1", "Changed"}));
    ASSERT_EQ(changed.status, kExitOk) << changed.err;
    const std::vector<std::string> saved = BackupsIn(folder);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(Has(changed.err, saved[0])) << changed.err;
    EXPECT_TRUE(Has(changed.err, "restore --first")) << changed.err;
    EXPECT_EQ(folder.Read("backups/" + std::filesystem::path(saved[0]).filename().string()),
              original);
    ASSERT_FALSE(original.empty());

    // Later changes save nothing more and say nothing of it.
    const Outcome again = Qvmctl(OnSim(kMouse, {"set", "name", "2", "Again"}));
    ASSERT_EQ(again.status, kExitOk) << again.err;
    EXPECT_FALSE(Has(again.err, "backups")) << again.err;
    EXPECT_EQ(BackupsIn(folder).size(), 1u);
    ASSERT_NE(MemoryOf(folder, "changed.bf"), original);

    const Outcome restored = Qvmctl(OnSim(kMouse, {"restore", "--first", "--yes"}));
    ASSERT_EQ(restored.status, kExitOk) << restored.err;
    EXPECT_TRUE(Has(restored.out, saved[0])) << restored.out;
    EXPECT_EQ(MemoryOf(folder, "restored.bf"), original);
}

TEST(QvmctlFirstBackup, RestoreFirstNeedsOneAndOnlyOneSource) {
    test::TempFolder folder;
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* said;
    };
    const Case cases[] = {
        {{"restore", "--first", "--yes"}, kExitUsage, "no first backup"},
        {{"restore", "--yes"}, kExitUsage, "either FILE or --first"},
        {{"restore", "x.bf", "--first", "--yes"}, kExitUsage, "either FILE or --first"},
    };
    for (const Case& c : cases) {
        const Outcome run = Qvmctl(OnSim(kMouse, c.args));
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(Has(run.err, c.said)) << run.err;
    }
}

TEST(QvmctlFirstBackup, NothingIsWrittenWithoutABackupUnlessAccepted) {
    test::TempFolder folder;
    const std::vector<uint8_t> original = MemoryOf(folder, "original.bf");
    std::ofstream(folder.File("backups")) << "a file where the folder should be";

    const Outcome refused = Qvmctl(OnSim(kMouse, {"set", "name", "1", "Changed"}));
    EXPECT_EQ(refused.status, kExitDevice);
    EXPECT_TRUE(Has(refused.err, "could not be saved")) << refused.err;
    EXPECT_TRUE(Has(refused.err, "--accept-unsaved")) << refused.err;
    EXPECT_EQ(MemoryOf(folder, "after-refusal.bf"), original);

    const Outcome accepted =
        Qvmctl({"--accept-unsaved", "--simulate=" + std::string(kMouse), "set", "name", "1", "X"});
    EXPECT_EQ(accepted.status, kExitOk) << accepted.err;
    EXPECT_TRUE(Has(accepted.err, "warning: writing without a first backup")) << accepted.err;
    EXPECT_NE(MemoryOf(folder, "after-accept.bf"), original);
}

}  // namespace
}  // namespace qvm::cli
