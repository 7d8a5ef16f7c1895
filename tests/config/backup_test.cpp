// Backup files against the simulated firmware: the exact header, what a restore writes
// and where, files that are refused or cut short, and a full save and restore.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "config/backup.h"
#include "support/sim_rig.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

// Passes every access on and records the writes.
class RecordingMemory final : public MemoryAccess {
  public:
    explicit RecordingMemory(MemoryAccess& inner) : inner_(inner) {}
    bool ReadMemory(const std::string& path, uint32_t address, std::span<uint8_t> dest,
                    bool useCache) override {
        return inner_.ReadMemory(path, address, dest, useCache);
    }
    bool WriteMemoryBlock(const std::string& path, uint32_t address,
                          std::span<const uint8_t> data) override {
        writes.push_back({address, data.size()});
        return inner_.WriteMemoryBlock(path, address, data);
    }
    bool WriteMemory(const std::string& path, uint32_t address,
                     std::span<const uint8_t> data) override {
        writes.push_back({address, data.size()});
        return inner_.WriteMemory(path, address, data);
    }
    bool WriteMemoryByte(const std::string& path, uint32_t address, uint8_t value) override {
        writes.push_back({address, 1});
        return inner_.WriteMemoryByte(path, address, value);
    }
    std::vector<std::pair<uint32_t, std::size_t>> writes;

  private:
    MemoryAccess& inner_;
};

struct Rig : test::SimRig {
    std::unique_ptr<RecordingMemory> memory;

    explicit Rig(const std::string& devices)
        : SimRig(devices), memory(std::make_unique<RecordingMemory>(*commands)) {}

    Result<RestoreReport> Restore(const std::string& file, int* reloads = nullptr) {
        return RestoreBackup(*memory, *commands, path, file, clock, [reloads] {
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
    ASSERT_TRUE(SaveBackup(*rig.memory, *rig.commands, rig.path, 0x1FFF, folder.File("a.bf"),
                           [&](int done, int total) {
                               progress.push_back({done, total});
                           })
                    .ok());
    const auto file = folder.Read("a.bf");
    ASSERT_EQ(file.size(), 22u + 8192u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + 18, file.begin() + 22),
              (std::vector<uint8_t>{0x00, 0x20, 0x00, 0x00}));
    EXPECT_EQ(file, BackupFile(0x2000, memory));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::pair<int, int>{8192, 8192}));
    for (std::size_t i = 1; i < progress.size(); ++i) {
        EXPECT_LE(progress[i - 1].first, progress[i].first);
    }
    EXPECT_TRUE(rig.memory->writes.empty());
}

// On a 64 KiB device the last piece must stop at the top: past it no address fits.
TEST(BackupSave, LargestMemoryEndsAtItsTop) {
    Rig rig("g12/mem=64k");
    const auto memory = Pattern(0x10000, 9);
    rig.Device().PokeMemory(0, memory);
    test::TempFolder folder;
    const Status s =
        SaveBackup(*rig.memory, *rig.commands, rig.path, 0xFFFF, folder.File("big.bf"));
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(folder.Read("big.bf"), BackupFile(0x10000, memory));
}

// Detaches the device just before the read at `leaveAt`.
class LeavingMemory final : public MemoryAccess {
  public:
    LeavingMemory(MemoryAccess& inner, SimDevice& device, uint32_t leaveAt)
        : inner_(inner), device_(device), leaveAt_(leaveAt) {}
    bool ReadMemory(const std::string& path, uint32_t address, std::span<uint8_t> dest,
                    bool useCache) override {
        if (address >= leaveAt_) device_.Detach();
        return inner_.ReadMemory(path, address, dest, useCache);
    }
    bool WriteMemoryBlock(const std::string& path, uint32_t address,
                          std::span<const uint8_t> data) override {
        return inner_.WriteMemoryBlock(path, address, data);
    }
    bool WriteMemory(const std::string& path, uint32_t address,
                     std::span<const uint8_t> data) override {
        return inner_.WriteMemory(path, address, data);
    }
    bool WriteMemoryByte(const std::string& path, uint32_t address, uint8_t value) override {
        return inner_.WriteMemoryByte(path, address, value);
    }

  private:
    MemoryAccess& inner_;
    SimDevice& device_;
    uint32_t leaveAt_;
};

// What a stopped backup tells the user: a device that left is said to have left, without
// the address the read stopped at; a device that stays silent keeps the address.
TEST(BackupSave, StoppedBackupSaysWhy) {
    struct Case {
        const char* name;
        const char* devices;
        uint32_t leaveAt;  // UINT32_MAX: the device stays
        const char* says;
        bool address;  // the message names the address the read stopped at
    };
    const Case cases[] = {
        {"leaves at the start", "g12/mem=8k", 0, "the device left during the backup (0 % read)",
         false},
        {"leaves half way", "g12/mem=8k", 0x1000, "the device left during the backup (50 % read)",
         false},
        {"silent", "g12/mem=8k/noreply", UINT32_MAX, "reading the device memory at 0x", true},
    };
    for (const Case& c : cases) {
        Rig rig(c.devices);
        LeavingMemory memory(*rig.commands, rig.Device(), c.leaveAt);
        test::TempFolder folder;
        const Status s = SaveBackup(memory, *rig.commands, rig.path, 0x1FFF, folder.File("x.bf"));
        ASSERT_FALSE(s.ok()) << c.name;
        EXPECT_NE(s.message().find(c.says), std::string::npos) << c.name << ": " << s.message();
        EXPECT_EQ(s.message().find("0x") != std::string::npos, c.address)
            << c.name << ": " << s.message();
        EXPECT_EQ(s.kind() == ErrorKind::DeviceGone, c.leaveAt != UINT32_MAX) << c.name;
        EXPECT_FALSE(std::filesystem::exists(folder.File("x.bf"))) << c.name;
    }
}

TEST(BackupSave, FailedReadOrFolderLeavesTheOldFile) {
    test::TempFolder folder;
    const std::string target = folder.Write("old.bf", std::vector<uint8_t>{1, 2, 3});
    Rig silent("g12/mem=8k/noreply");
    EXPECT_FALSE(SaveBackup(*silent.memory, *silent.commands, silent.path, 0x1FFF, target).ok());
    EXPECT_EQ(folder.Read("old.bf"), (std::vector<uint8_t>{1, 2, 3}));

    Rig rig("g12/mem=8k");
    const auto r =
        SaveBackup(*rig.memory, *rig.commands, rig.path, 0x1FFF, folder.File("missing/sub/x.bf"));
    EXPECT_FALSE(r.ok());
}

struct RestoreCase {
    std::string name;
    uint32_t declared;
    std::size_t present;
    std::vector<std::pair<uint32_t, std::size_t>> writes;
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
    EXPECT_EQ(rig.memory->writes, c.writes);
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

INSTANTIATE_TEST_SUITE_P(
    Files, BackupRestore,
    ::testing::Values(RestoreCase{"Empty", 0, 0, {}, 0},
                      RestoreCase{"ShortLastPiece", 70, 70, {{0, 32}, {32, 32}, {64, 6}}, 0},
                      RestoreCase{"WholePieces", 64, 64, {{0, 32}, {32, 32}}, 0},
                      RestoreCase{"OneByte", 1, 1, {{0, 1}}, 0},
                      RestoreCase{"CutFile", 100, 50, {{0, 32}, {32, 18}}, 50},
                      RestoreCase{"CutToNothing", 100, 0, {}, 100}),
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
    EXPECT_TRUE(rig.memory->writes.empty());
    EXPECT_EQ(rig.State().profile, 2);
    EXPECT_EQ(rig.State().notifyUpdates, notifies);
    EXPECT_FALSE(rig.Restore(folder.File("none.bf")).ok());
}

struct LightingCase {
    std::string devices;
    int refreshes;  // the refresh command exists for generations 3 to 10 only
    bool effectSet;
};

class BackupLighting : public ::testing::TestWithParam<LightingCase> {};

TEST_P(BackupLighting, EffectFollowsTheFile) {
    const LightingCase& c = GetParam();
    Rig rig(c.devices);
    auto data = Pattern(64, 1);
    data[0x11] = 3;
    test::TempFolder folder;
    const SimMouseState before = rig.State();
    ASSERT_TRUE(rig.Restore(folder.Write("l.bf", BackupFile(64, data))).ok());
    const SimMouseState after = rig.State();
    EXPECT_EQ(after.lightingRefreshes - before.lightingRefreshes, c.refreshes);
    EXPECT_EQ(after.lightingEffect == 3, c.effectSet);
    EXPECT_EQ(after.reloads - before.reloads, 1);
}

INSTANTIATE_TEST_SUITE_P(Generations, BackupLighting,
                         ::testing::Values(LightingCase{"g5x", 1, true},
                                           LightingCase{"g5", 0, false},
                                           LightingCase{"g12", 0, true},
                                           LightingCase{"g0", 0, false}));

TEST(BackupRoundTrip, SaveScribbleRestoreGivesTheSameMemory) {
    Rig rig("g12/mem=8k");
    const auto original = Pattern(0x2000, 0x11);
    rig.Device().PokeMemory(0, original);
    test::TempFolder folder;
    ASSERT_TRUE(SaveBackup(*rig.memory, *rig.commands, rig.path, 0x1FFF, folder.File("t.bf")).ok());
    rig.Device().PokeMemory(0, Pattern(0x2000, 0xC3));
    auto r = rig.Restore(folder.File("t.bf"));
    ASSERT_TRUE(r.ok()) << r.message();
    EXPECT_EQ(r->writtenBytes, 0x2000u);
    EXPECT_EQ(rig.Device().PeekMemory(0, 0x2000), original);
}

TEST(BackupRoundTrip, FailedReloadIsReportedAfterProfileZero) {
    Rig rig("g12/mem=8k");
    ASSERT_TRUE(rig.commands->SetActiveProfile(rig.path, 4));
    test::TempFolder folder;
    auto r = RestoreBackup(*rig.memory, *rig.commands, rig.path,
                           folder.Write("f.bf", BackupFile(2, {0x12, 0})), rig.clock,
                           [] { return Status(MakeError("bad image")); });
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.message().find("bad image"), std::string::npos);
    EXPECT_EQ(rig.State().profile, 0);
}

TEST(BackupCompatible, SizeMustMatchUnlessForced) {
    struct Row {
        uint32_t fileBytes;
        uint32_t deviceTop;
        bool force;
        bool ok;
    };
    const Row rows[] = {
        {0x2000, 0x1FFF, false, true}, {0x4000, 0x1FFF, false, false},
        {0x4000, 0x1FFF, true, true},  {0, 0x1FFF, false, false},
        {0, 0xFFFFFFFF, false, false}, {0x1FFF, 0x1FFF, false, false},
    };
    for (const Row& r : rows) {
        const Status s = CheckRestoreCompatible(r.fileBytes, r.deviceTop, r.force);
        EXPECT_EQ(s.ok(), r.ok) << r.fileBytes << " into top " << r.deviceTop;
        if (!s.ok()) {
            // Both programs show this text: it names the sizes, not a qvmctl option.
            EXPECT_NE(s.message().find(std::to_string(r.fileBytes) + " bytes"), std::string::npos);
            EXPECT_EQ(s.message().find("--force"), std::string::npos) << s.message();
        }
    }
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
        {"cut to nothing", BackupFile(4, {}), 3, {C::CutShort}, "holds 0 of its 4"},
        {"all", BackupFile(8, {0x00, 1}), 3, {C::OtherSize, C::NoMarker, C::CutShort}, "0x0"},
        {"empty", BackupFile(0, {}), 3, {C::OtherSize}, "holds 0 bytes"},
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
        }
        EXPECT_TRUE(CheckRestore(*contents, r.deviceTop, true).ok());
    }
}

}  // namespace
}  // namespace qvm
