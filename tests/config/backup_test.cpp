// Backup files against the simulated firmware: the exact header, what a restore writes
// and where, files that are refused or cut short, and a full save and restore.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>

#include "config/backup.h"
#include "support/sim_rig.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

struct Rig : test::SimRig {
    using SimRig::SimRig;

    Status Save(uint32_t top, const std::string& file,
                std::function<void(int, int)> progress = {}) {
        return SaveBackup(*commands, *commands, path, top, file, std::move(progress));
    }
    Result<RestoreReport> Restore(const std::string& file, int* reloads = nullptr) {
        return RestoreBackup(*commands, *commands, path, file, clock, [reloads] {
            if (reloads) ++*reloads;
            return Status{};
        });
    }
};

std::vector<uint8_t> Pattern(std::size_t n, uint8_t seed) {
    std::vector<uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return out;
}

// Header for N, written out by hand, then the memory bytes.
std::vector<uint8_t> BackupFile(uint32_t n, const std::vector<uint8_t>& memory) {
    // clang-format off
    std::vector<uint8_t> out = {0xFF, 0xFE, 0xFF, 0x07, '_', 0, '@', 0, '_', 0, 'B', 0, 'F', 0,
                                '6', 0, '_', 0, static_cast<uint8_t>(n),
                                static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                                static_cast<uint8_t>(n >> 24)};
    // clang-format on
    for (uint8_t b : memory) out.push_back(b);
    return out;
}

TEST(BackupHeader, ExactBytes) {
    EXPECT_EQ(EncodeBackupHeader(0x2000), BackupFile(0x2000, {}));
    EXPECT_EQ(EncodeBackupHeader(0x01020304), BackupFile(0x01020304, {}));
}

TEST(BackupDecode, RefusesOtherTagsAndCutHeaders) {
    // A macro file begins with its own tag.
    std::vector<uint8_t> macro = {0xFF, 0xFE, 0xFF, 0x09};
    for (char c : std::string("_@_MF6.2_")) macro.insert(macro.end(), {uint8_t(c), 0});
    macro.insert(macro.end(), {0xFF, 0xFE, 0xFF, 0x00, 1, 2, 3, 4, 5, 6, 7, 8});
    std::vector<uint8_t> narrow = {0x07, '_', '@', '_', 'B', 'F', '6', '_', 0, 0, 0, 0};
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> refused = {
        {"macro file", macro},
        {"empty", {}},
        {"lower case tag", BackupFile(0, {})},
        {"cut count", BackupFile(8, {})},
    };
    for (auto [name, bytes] : refused) {
        if (name == "lower case tag") bytes[4] = 'x';
        if (name == "cut count") bytes.pop_back();
        auto r = DecodeBackupFile(bytes);
        ASSERT_FALSE(r.ok()) << name;
        EXPECT_TRUE(r.message().starts_with("invalid format !!")) << name << ": " << r.message();
    }
    // The tag may also be stored with 8-bit characters.
    auto ok = DecodeBackupFile(narrow);
    ASSERT_TRUE(ok.ok()) << ok.message();
    EXPECT_EQ(ok->declaredBytes, 0u);
}

TEST(BackupSave, EightKilobyteDeviceGivesTheWholeMemory) {
    Rig rig("g12/mem=8k");
    const auto memory = Pattern(0x2000, 3);
    rig.Device().PokeMemory(0, memory);
    test::TempFolder folder;
    std::vector<std::pair<int, int>> progress;
    ASSERT_TRUE(rig.Save(0x1FFF, folder.File("a.bf"),
                         [&](int done, int total) {
                             progress.push_back({done, total});
                         })
                    .ok());
    EXPECT_EQ(folder.Read("a.bf"), BackupFile(0x2000, memory));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::pair<int, int>{8192, 8192}));
    EXPECT_EQ(rig.Device().Stats().memoryWrites, 0u);
}

// What a stopped backup tells the user: a device that left is said to have left, without
// the address the read stopped at; a device that stays silent keeps the address. Neither
// leaves a file behind.
TEST(BackupSave, StoppedBackupSaysWhy) {
    struct Case {
        const char* devices;
        const char* says;
        bool gone;
    };
    const Case cases[] = {
        {"g12/mem=8k/removeafter=1", "the device left during the backup (0 % read)", true},
        {"g12/mem=8k/removeafter=120", "the device left during the backup (", true},
        {"g12/mem=8k/noreply", "reading the device memory at 0x", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.devices);
        Rig rig(c.devices);
        test::TempFolder folder;
        const Status s = rig.Save(0x1FFF, folder.File("x.bf"));
        ASSERT_FALSE(s.ok());
        EXPECT_NE(s.message().find(c.says), std::string::npos) << s.message();
        EXPECT_EQ(s.message().find("0x") == std::string::npos, c.gone) << s.message();
        EXPECT_EQ(s.kind() == ErrorKind::DeviceGone, c.gone);
        EXPECT_FALSE(std::filesystem::exists(folder.File("x.bf")));
    }
}

TEST(BackupSave, FailedReadOrFolderLeavesTheOldFile) {
    test::TempFolder folder;
    const std::string target = folder.Write("old.bf", std::vector<uint8_t>{1, 2, 3});
    Rig silent("g12/mem=8k/noreply");
    EXPECT_FALSE(silent.Save(0x1FFF, target).ok());
    EXPECT_EQ(folder.Read("old.bf"), (std::vector<uint8_t>{1, 2, 3}));

    Rig rig("g12/mem=8k");
    EXPECT_FALSE(rig.Save(0x1FFF, folder.File("missing/sub/x.bf")).ok());
}

struct RestoreCase {
    std::string name;
    uint32_t declared;
    std::size_t present;
    uint32_t missing;
};

class BackupRestore : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(BackupRestore, WritesOnlyWhatTheFileHolds) {
    const RestoreCase& c = GetParam();
    Rig rig("g12/mem=8k");
    const auto before = Pattern(0x2000, 0x40);
    rig.Device().PokeMemory(0, before);
    ASSERT_TRUE(rig.commands->SetActiveProfile(rig.path, 3));
    const auto data = Pattern(c.present, 0x90);
    test::TempFolder folder;
    int reloads = 0;
    auto r = rig.Restore(folder.Write("r.bf", BackupFile(c.declared, data)), &reloads);
    ASSERT_TRUE(r.ok()) << r.message();
    EXPECT_EQ(r->declaredBytes, c.declared);
    EXPECT_EQ(r->writtenBytes, c.present);
    EXPECT_EQ(r->missingBytes, c.missing);
    // The bytes held land at 0; nothing past them changes.
    std::vector<uint8_t> expected = before;
    std::copy(data.begin(), data.end(), expected.begin());
    EXPECT_EQ(rig.Device().PeekMemory(0, 0x2000), expected);
    EXPECT_EQ(rig.State().profile, 0);
    EXPECT_EQ(reloads, c.declared > 0 ? 1 : 0);
    EXPECT_EQ(rig.clock.Sleeps().empty(), c.declared == 0);
}

INSTANTIATE_TEST_SUITE_P(Files, BackupRestore,
                         ::testing::Values(RestoreCase{"Empty", 0, 0, 0},
                                           RestoreCase{"ShortLastPiece", 70, 70, 0},
                                           RestoreCase{"OneByte", 1, 1, 0},
                                           RestoreCase{"CutFile", 100, 50, 50},
                                           RestoreCase{"CutToNothing", 100, 0, 100}),
                         [](const auto& info) { return info.param.name; });

TEST(BackupRestoreRefused, WrongTagLeavesTheDeviceAlone) {
    Rig rig("g12/mem=8k");
    ASSERT_TRUE(rig.commands->SetActiveProfile(rig.path, 2));
    test::TempFolder folder;
    auto bad = BackupFile(4, {1, 2, 3, 4});
    bad[10] = 'X';
    const int notifies = rig.State().notifyUpdates;
    auto r = rig.Restore(folder.Write("bad.bf", bad));
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.message().starts_with("invalid format !! (it is not a backup file"))
        << r.message();
    EXPECT_EQ(rig.Device().Stats().memoryWrites, 0u);
    EXPECT_EQ(rig.State().profile, 2);
    EXPECT_EQ(rig.State().notifyUpdates, notifies);
    EXPECT_FALSE(rig.Restore(folder.File("none.bf")).ok());
}

// On a 64 KiB device the last piece must stop at the top: past it no address fits.
TEST(BackupRoundTrip, SaveScribbleRestoreGivesTheSameMemory) {
    Rig rig("g12/mem=64k");
    const auto original = Pattern(0x10000, 0x11);
    rig.Device().PokeMemory(0, original);
    test::TempFolder folder;
    ASSERT_TRUE(rig.Save(0xFFFF, folder.File("t.bf")).ok());
    EXPECT_EQ(folder.Read("t.bf"), BackupFile(0x10000, original));
    rig.Device().PokeMemory(0, Pattern(0x10000, 0xC3));
    auto r = rig.Restore(folder.File("t.bf"));
    ASSERT_TRUE(r.ok()) << r.message();
    EXPECT_EQ(r->writtenBytes, 0x10000u);
    EXPECT_EQ(rig.Device().PeekMemory(0, 0x10000), original);
}

std::vector<uint8_t> WithTail(std::vector<uint8_t> file, const std::vector<uint8_t>& tail) {
    file.insert(file.end(), tail.begin(), tail.end());
    return file;
}

// What speaks against a restore, from the decoded file and the device's size.
TEST(BackupJudge, FindsEveryConcernAndForceOverridesThem) {
    using C = RestoreConcern;
    struct Row {
        const char* name;
        std::vector<uint8_t> file;  // the whole backup file
        std::optional<uint32_t> deviceTop;
        std::vector<C> concerns;
        const char* text;  // in the refusal
    };
    const std::vector<uint8_t> marked = {0x12, 1, 2, 3};
    const std::vector<uint8_t> blank = {0xFF, 0xFF, 0xFF, 0xFF};
    const Row rows[] = {
        {"fits", BackupFile(4, marked), 3, {}, ""},
        {"other size", BackupFile(4, marked), 7, {C::OtherSize}, "holds 4 bytes"},
        {"size unknown", BackupFile(4, marked), std::nullopt, {C::UnknownSize}, "not known"},
        {"no marker", BackupFile(4, blank), 3, {C::NoMarker}, "is 0xFF, not the configuration"},
        {"cut short", BackupFile(4, {0x12, 1}), 3, {C::CutShort}, "holds 2 of its 4"},
        {"bytes after the memory",
         WithTail(BackupFile(4, marked), {7, 7, 7}),
         3,
         {C::ExtraBytes},
         "3 bytes follow its 4 memory bytes"},
        {"all", BackupFile(8, {0x00, 1}), 3, {C::OtherSize, C::NoMarker, C::CutShort}, "0x0"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto contents = DecodeBackupFile(r.file);
        ASSERT_TRUE(contents.ok()) << contents.message();
        std::vector<C> found;
        for (const RestoreFinding& f : JudgeRestore(*contents, r.deviceTop)) {
            found.push_back(f.concern);
        }
        EXPECT_EQ(found, r.concerns);
        const Status refused = CheckRestore(*contents, r.deviceTop, false);
        EXPECT_EQ(refused.ok(), r.concerns.empty());
        if (!refused.ok()) {
            EXPECT_EQ(refused.kind(), ErrorKind::BadInput);
            EXPECT_NE(refused.message().find(r.text), std::string::npos) << refused.message();
            // Both programs show this text: it names no qvmctl option.
            EXPECT_EQ(refused.message().find("--force"), std::string::npos);
        }
        EXPECT_TRUE(CheckRestore(*contents, r.deviceTop, true).ok());
    }
}

}  // namespace
}  // namespace qvm
