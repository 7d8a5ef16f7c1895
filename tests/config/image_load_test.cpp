// Loading and resetting against simulated mice: memory size, uninitialised devices,
// long names, the state after a reset, a device leaving mid-load and readers during a
// load.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "image_rig.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

// A device with size marks is measured by them, even where the first bytes of the memory
// would repeat elsewhere; without marks, by where those bytes repeat.
// Learnt by reading alone: no size mark is written.
TEST(ImageMemoryTop, MarksWinOverRepeatedBytes) {
    struct Case {
        const char* devices;
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pokes;
        uint32_t top;
    };
    const Case cases[] = {
        {"g5/mem=8k", {}, 0x1FFF},
        {"g12/mem=16k", {}, 0x3FFF},
        // The header copied to 0x4000 of a 32k memory: taken for a 16k memory...
        {"g5/mem=32k", {{0x4000, {}}}, 0x3FFF},
        // ...unless the size marks at its real top say otherwise.
        {"g5/mem=32k", {{0x4000, {}}, {0x7FFE, {0x12, 0x12}}}, 0x7FFF},
        // One byte of the 64 that differs is enough to tell the sizes apart.
        {"g0/mem=64k", {{0x8000, {}}, {0x803F, {0x99}}}, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.devices);
        test::ImageRig rig(c.devices);
        for (const auto& [address, bytes] : c.pokes) {
            rig.Poke(address, bytes.empty() ? rig.Peek(0, 64) : bytes);
        }
        rig.Load();
        EXPECT_EQ(rig.Image()->memoryTop, c.top);
        EXPECT_EQ(rig.Device().Stats().memoryWrites, 0u);
    }
}

TEST(ImageProbe, MarkerWrittenOnceAtTheTop) {
    test::ImageRig rig("g5/mem=16k");
    auto first = ProbeMacroMemoryEnd(*rig.commands, rig.path);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(rig.Peek(0x3FFE, 2), (std::vector<uint8_t>{0x12, 0x12}));
    // A stale marker one size down does not fool a later probe.
    rig.Poke(0x1FFF, {0x00});
    rig.Poke(0x1FFE, {0x00});
    auto second = ProbeMacroMemoryEnd(*rig.commands, rig.path);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(*second, 0x3FFFu);
}

// A memory without a configuration is reported, left as it is and shows nothing; the
// reset alone initialises it.
TEST(ImageLoad, UninitialisedMemoryIsReportedAndLeftAlone) {
    struct Case {
        const char* devices;
        std::optional<uint32_t> top;  // still learnt, for a backup or a restore
    };
    const Case cases[] = {{"g12/mem=8k/blank", 0x1FFF}, {"g0/blank", std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.devices);
        test::ImageRig rig(c.devices);
        const auto before = rig.Peek(0, 0x2000);
        const Status s = rig.model->LoadConfiguration();
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.kind(), ErrorKind::Uninitialised);
        EXPECT_NE(s.message().find("'qvmctl reset' initialises it"), std::string::npos);
        EXPECT_EQ(rig.Device().Stats().memoryWrites, 0u);
        EXPECT_EQ(rig.Peek(0, 0x2000), before);
        EXPECT_FALSE(rig.Image()->loaded);
        EXPECT_EQ(rig.Image()->memoryTop, c.top);
    }
}

TEST(ImageLoad, LongNamesKeepNineButShowThirteen) {
    test::ImageRig rig("g5");
    rig.Poke(0x26 + 18, {0x5A, 0x00});  // a character past the host's nine
    rig.Load();
    ASSERT_TRUE(rig.model->SetProfileName(0, "ABCDEFGHIJKL").ok());
    EXPECT_EQ(rig.Image()->profiles[0].name, "ABCDEFGHI");
    EXPECT_EQ(rig.Peek(0x26, 20), (std::vector<uint8_t>{'A', 0, 'B', 0, 'C', 0, 'D', 0, 'E',  0,
                                                        'F', 0, 'G', 0, 'H', 0, 'I', 0, 0x5A, 0}));

    const std::vector<uint8_t> thirteen = {'N', 0, 'O', 0, 'P', 0, 'Q', 0, 'R', 0, 'S', 0, 'T', 0,
                                           'U', 0, 'V', 0, 'W', 0, 'X', 0, 'Y', 0, 'Z', 0};
    rig.Poke(0x26, thirteen);
    rig.Load();
    EXPECT_EQ(rig.Image()->profiles[0].name, "NOPQRSTUVWXYZ");
}

TEST(ImageReset, SelectsStageOneAndProfileZeroAndDropsPendingWrites) {
    test::ImageRig rig("g5");
    rig.Load();
    ASSERT_TRUE(rig.model->SetActiveProfile(3).ok());
    ASSERT_TRUE(rig.model->SetCurrentDpiStage(3).ok());
    ASSERT_TRUE(rig.model->AssignButton(0, 1, 5, 0, 0x04, 0).ok());
    ASSERT_TRUE(rig.model->Deferred().ChangeReportRate(6).ok());

    std::vector<int> percents;
    ASSERT_TRUE(
        rig.model->ResetConfiguration(ResetColours::Defaults, [&](int p) { percents.push_back(p); })
            .ok());
    const auto image = rig.Image();
    EXPECT_EQ(image->currentDpiStage, 1);
    EXPECT_EQ(image->currentProfile, 0);
    EXPECT_EQ(rig.Device().MouseState().stage, 1);
    EXPECT_EQ(rig.Device().MouseState().profile, 0);
    // The button is back to its factory function and the pending rate never lands.
    EXPECT_EQ(image->buttons[0][1].slot, (ButtonSlot{4, 0x02, 0, 0}));
    EXPECT_FALSE(rig.model->Deferred().Pending());
    EXPECT_EQ(image->reportRateCode, 1);
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
}

// A reset initialises even a blank memory, and shows what it wrote.
TEST(ImageReset, WritesTheFactoryImage) {
    struct Case {
        const char* devices;
        int enableColour;
        uint32_t address;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        // marker, 0, stage 1 (selected after the reset), five pairs (id1 0x0F), 0, options,
        // stage flags
        {"g5/blank",
         0,
         0x00,
         {0x12, 0, 1, 16, 16, 32, 32, 64, 64, 144, 144, 80, 80, 0, 0x10, 0x00}},
        {"g12/blank/id1=3",
         0,
         0x00,
         {0x12, 0, 1, 16, 16, 32, 32, 64, 64, 164, 164, 80, 80, 0, 0x10, 0}},
        // marker, 0, stage 1, flags, five pairs (id1 0x0F), 0, options
        {"g0", 0, 0x00, {0x12, 0, 1, 0, 16, 16, 32, 32, 64, 64, 144, 144, 80, 80, 0, 0x10}},
        {"g5", 0, 0xA0, {0, 0, 0x07, 0, 255, 0, 0}},  // profile 1: control, colour, name
        // Class A: on pair, then the default colour, or with colours off the one it had.
        {"g0", 1, 0x70, {0x12, 0x12, 0, 0x0C, 0, 0, 0}},
        {"g0", 0, 0xD0, {0x12, 0x12, 0, 0x21, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        test::ImageRig rig(c.devices);
        if (rig.Device().Config().generation == 0) {
            rig.Load();
            ASSERT_TRUE(rig.model->SetProfileColour(2, 1, 0, 2).ok());
        }
        rig.Poke(c.address, std::vector<uint8_t>(c.bytes.size(), 0x77));
        const ResetColours colours =
            c.enableColour != 0 ? ResetColours::Defaults : ResetColours::KeepCurrent;
        ASSERT_TRUE(rig.model->ResetConfiguration(colours).ok());
        EXPECT_EQ(rig.Peek(c.address, c.bytes.size()), c.bytes) << c.devices;
        EXPECT_EQ(rig.Peek(0x1FFF, 1)[0], 0x00) << c.devices;
        EXPECT_TRUE(rig.Image()->loaded) << c.devices;
    }
}

TEST(ImageLoad, ReadersNeverSeeAHalfLoadedImage) {
    test::ImageRig rig("g12");
    rig.Load();
    std::atomic<bool> done{false};
    std::atomic<int> checked{0};
    std::jthread reader([&] {
        while (!done.load()) {
            const auto image = rig.Image();
            const ImageLayout& l = image->Layout();
            // Every decoded value agrees with the bytes it came from.
            EXPECT_EQ(image->bytes.size(), l.readLength);
            for (std::size_t k = 0; k < 5; ++k) {
                EXPECT_EQ(image->dpiStages[k].x, image->bytes[l.dpiBase + 2 * k]);
            }
            EXPECT_FALSE(image->buttons[0][0].text.empty());
            checked.fetch_add(1);
        }
    });
    // Keep loading until the reader has looked many times, whatever the scheduling.
    for (int round = 1; round <= 6 || (checked.load() < 50 && round < 5000); ++round) {
        const auto v = static_cast<uint8_t>(round % 100 + 1);
        rig.Poke(0x03, {v, v, static_cast<uint8_t>(v + 1)});
        rig.Load();
    }
    done = true;
    reader.join();
    EXPECT_GT(checked.load(), 0);
}

}  // namespace
}  // namespace qvm
