// What each single-setting write leaves in the simulated device memory: exact addresses
// and bytes, written out by hand. The decode test pins each class's addresses; here each
// setting's encoding is checked once, in the classes where it differs.
#include <gtest/gtest.h>

#include <functional>

#include "image_rig.h"

namespace qvm {
namespace {

struct MemoryBytes {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

using Op = std::function<Status(ConfigModel&)>;

struct WriteCase {
    const char* name;
    const char* devices;
    std::vector<MemoryBytes> before;  // poked before the load
    Op op;
    std::vector<MemoryBytes> after;
};

Op Stage(int k, int x, int y) {
    return [=](ConfigModel& m) { return m.SetDpiStage(k, x, y); };
}
Op Rate(int code) {
    return [=](ConfigModel& m) { return m.SetReportRate(code); };
}
Op Snap(bool on) {
    return [=](ConfigModel& m) { return m.SetAngleSnapping(on); };
}
Op Flags() {
    return [](ConfigModel& m) { return m.SetStageFlags({true, false, true, false, true}); };
}
Op Slot() {
    return [](ConfigModel& m) { return m.SetButtonSlot(1, 2, {5, 0x01, 0x06, 0x00}); };
}
Op Name() {
    return [](ConfigModel& m) { return m.SetProfileName(1, "Ab"); };
}
Op Colour(uint8_t r, uint8_t g, uint8_t b) {
    return [=](ConfigModel& m) { return m.SetProfileColour(1, r, g, b); };
}
Op AssignDefault() {
    return [](ConfigModel& m) { return m.AssignButton(0, 3, 0, 0x55, 0x55, 0x55); };
}
Op CurrentStage() {
    return [](ConfigModel& m) { return m.SetCurrentDpiStage(3); };
}

const std::vector<uint8_t> kAbField = {0x41, 0x00, 0x62, 0x00, 0, 0, 0, 0, 0,
                                       0,    0,    0,    0,    0, 0, 0, 0, 0};

const WriteCase kWriteCases[] = {
    {"B_Stage2", "g5", {}, Stage(2, 20, 30), {{0x07, {20, 30}}}},
    {"C_StageClamped", "g12", {}, Stage(9, 20, 30), {{0x0B, {20, 30}}}},
    {"A_Rate", "g0", {{0x0F, {0x8B}}}, Rate(3), {{0x0F, {0xBB}}}},
    {"B_Rate", "g5", {{0x0E, {0x8B}}}, Rate(3), {{0x0E, {0xBB}}, {0x0F, {0x00}}}},
    {"C_Rate", "g12", {{0x0E, {0xFF}}}, Rate(0), {{0x0E, {0x8F}}}},
    {"B_SnapOn", "g5", {{0x0E, {0x50}}}, Snap(true), {{0x0E, {0x51}}}},
    {"A_Flags", "g0", {}, Flags(), {{0x03, {0x05}}}},
    {"B_Flags", "g5", {}, Flags(), {{0x0F, {0x15}}}},
    {"C_Slot", "g12", {}, Slot(), {{0xE2, {5}}, {0x102, {0x01}}, {0x122, {0x06}}, {0x142, {0}}}},
    {"B_Name", "g5", {}, Name(), {{0xA6, kAbField}}},
    {"A_Colour", "g0", {}, Colour(1, 2, 3), {{0x73, {0x39, 85, 170, 255}}}},
    // "Default" reaches the device as the default's own bytes (button 3: backward).
    {"B_Default", "g5", {}, AssignDefault(), {{0x43, {4}}, {0x5B, {0x08}}, {0x73, {0}}}},
    // The 9-byte class also stores the current stage in memory.
    {"A_CurrentStage", "g0", {}, CurrentStage(), {{0x02, {3}}}},
};

class ImageWrites : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ImageWrites, LandAtTheClassAddresses) {
    const WriteCase& c = GetParam();
    test::ImageRig rig(c.devices);
    for (const MemoryBytes& b : c.before) rig.Poke(b.address, b.bytes);
    rig.Load();
    const Status s = c.op(*rig.model);
    ASSERT_TRUE(s.ok()) << s.message();
    for (const MemoryBytes& b : c.after) {
        EXPECT_EQ(rig.Peek(b.address, b.bytes.size()), b.bytes) << std::hex << b.address;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, ImageWrites, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Bad input is refused with a message and nothing reaches the device.
struct RefusedCase {
    const char* name;
    const char* devices;
    Op op;
};

const RefusedCase kRefused[] = {
    {"DpiZero", "g12", Stage(0, 0, 16)},
    {"DpiAboveStepCount", "g12", Stage(0, 16, 161)},
    {"NegativeStage", "g5", Stage(-1, 16, 16)},
    {"RateCode8", "g5", Rate(8)},
    {"ClassAColourAbove3", "g0", Colour(4, 0, 0)},
    {"ButtonPastClassA", "g0", [](ConfigModel& m) { return m.AssignButton(0, 16, 4, 1, 0, 0); }},
    {"ProfileFive", "g12", [](ConfigModel& m) { return m.SetProfileName(5, "x"); }},
    {"ActiveProfileFive", "g12", [](ConfigModel& m) { return m.SetActiveProfile(5); }},
    {"NineCycleKeys", "g12",
     [](ConfigModel& m) {
         return m.SetKeyCycleList(0, std::vector<KeyCycleEntry>(9, {0, 4}));
     }},
    {"CycleListOfProfileFive", "g12",
     [](ConfigModel& m) {
         return m.SetKeyCycleList(5, std::vector<KeyCycleEntry>(1, {0, 4}));
     }},
};

class ImageRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ImageRefused, LeavesTheDeviceUnchanged) {
    const RefusedCase& c = GetParam();
    test::ImageRig rig(c.devices);
    rig.Load();
    const auto memory = rig.Peek(0, 0x800);
    const auto before = rig.Image();
    const Status s = c.op(*rig.model);
    EXPECT_FALSE(s.ok());
    EXPECT_FALSE(s.message().empty());
    EXPECT_EQ(rig.Peek(0, 0x800), memory);
    EXPECT_EQ(rig.Image(), before);
}

INSTANTIATE_TEST_SUITE_P(BadInput, ImageRefused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

// Every write reports a device that no longer answers.
TEST(ImageWritesFailing, ReportWhenTheDeviceIsGone) {
    const Op ops[] = {Stage(1, 20, 20),
                      Rate(2),
                      Slot(),
                      Name(),
                      Colour(1, 2, 3),
                      CurrentStage(),
                      [](ConfigModel& m) { return m.SetActiveProfile(2); },
                      [](ConfigModel& m) {
                          const std::vector<KeyCycleEntry> keys = {{0, 0x04}};
                          return m.SetKeyCycleList(0, keys);
                      }};
    for (const char* devices : {"g0", "g5", "g12"}) {
        test::ImageRig rig(devices);
        rig.Load();
        rig.Device().Detach();
        for (const Op& op : ops) {
            const Status s = op(*rig.model);
            EXPECT_FALSE(s.ok()) << devices;
        }
    }
}

}  // namespace
}  // namespace qvm
