// Images of each layout class written byte by byte into a simulated mouse, then loaded:
// every field must come out where the class keeps it.
#include <gtest/gtest.h>

#include "image_rig.h"

namespace qvm {
namespace {

struct Poke {
    uint32_t address;
    std::vector<uint8_t> bytes;
};

struct DecodeCase {
    const char* name;
    const char* devices;
    std::vector<Poke> pokes;
    std::optional<int> currentStage;  // only where the image carries it
    DpiStage stage3;
    bool snapping;
    int rateCode;
    std::array<bool, 5> flags;
    bool profile1Off;
    Rgb profile1Colour;
    ButtonSlot profile1Button2;
    std::array<uint8_t, 21> cycles0;
};

// Common to every case: profile 1 is called "Ab", its button 2 is Ctrl + C, profile 0's
// key-cycle list holds two keys and profile 1's claims 9 (too many: read as empty).
const std::array<uint8_t, 21> kCycles0 = {2, 0x01, 0x04, 0x00, 0x05, 0, 0,    0,    0,    0,   0,
                                          0, 0,    0,    0,    0,    0, 0xDE, 0xAD, 0xBE, 0xEF};
const std::vector<uint8_t> kAb = {0x41, 0x00, 0x62, 0x00, 0x00, 0x00};

std::vector<Poke> Cycles(uint32_t first, uint32_t second) {
    return {{first, {kCycles0.begin(), kCycles0.end()}}, {second, {9, 0x02, 0x07}}};
}

std::vector<Poke> Join(std::vector<Poke> a, const std::vector<Poke>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const DecodeCase kCases[] = {
    {"ClassA",
     "g0",
     Join({{0x00,
            {0x12, 0x00, 0x03, 0x05, 0x10, 0x10, 0x20, 0x20, 0x40, 0x40, 0x60, 0x50, 0x50, 0x50,
             0x00, 0x31}},
           {0x70, {0x12, 0x00, 0x00, 0x39}},
           {0x7E, kAb},
           {0x92, {5}},
           {0xA2, {0x01}},
           {0xB2, {0x06}},
           {0xC2, {0x00}}},
          Cycles(0x390, 0x3A5)),
     std::nullopt,
     {0x60, 0x50},
     true,
     3,
     {true, false, true, false, false},
     true,
     {85, 170, 255},
     {5, 0x01, 0x06, 0},
     kCycles0},
    {"ClassB",
     "g5",
     Join({{0x00,
            {0x12, 0x00, 0xFB, 0x10, 0x10, 0x20, 0x20, 0x40, 0x40, 0x60, 0x50, 0x50, 0x50, 0x20,
             0x30, 0x12}},
           {0xA0, {0x80, 0x00, 0x0F, 0x11, 0x22, 0x33}},
           {0xA6, kAb},
           {0xC2, {5}},
           {0xDA, {0x01}},
           {0xF2, {0x06}},
           {0x10A, {0x00}}},
          Cycles(0x3F0, 0x405)),
     3,
     {0x60, 0x50},
     false,
     3,
     {false, true, false, false, true},
     true,
     {0x11, 0x22, 0x33},
     {5, 0x01, 0x06, 0},
     kCycles0},
    {"ClassC",
     "g12",
     Join({{0x00,
            {0x12, 0x00, 0x02, 0x10, 0x10, 0x20, 0x20, 0x40, 0x40, 0x60, 0x50, 0x50, 0x50, 0x20,
             0x71, 0x1F}},
           {0xC0, {0x7F, 0x00, 0x0F, 0x11, 0x22, 0x33}},
           {0xC6, kAb},
           {0xE2, {5}},
           {0x102, {0x01}},
           {0x122, {0x06}},
           {0x142, {0x00}}},
          Cycles(0x490, 0x4A5)),
     2,
     {0x60, 0x50},
     true,
     7,
     {true, true, true, true, true},
     false,
     {0x11, 0x22, 0x33},
     {5, 0x01, 0x06, 0},
     kCycles0},
};

class ImageDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ImageDecode, FieldsComeFromTheirClassOffsets) {
    const DecodeCase& c = GetParam();
    test::ImageRig rig(c.devices);
    for (const Poke& p : c.pokes) rig.Poke(p.address, p.bytes);
    rig.Load();
    const auto image = rig.Image();
    ASSERT_TRUE(image->loaded);

    if (c.currentStage) {
        EXPECT_EQ(image->currentDpiStage, *c.currentStage);
    }
    EXPECT_EQ(image->dpiStages[3], c.stage3);
    EXPECT_EQ(image->angleSnapping, c.snapping);
    EXPECT_EQ(image->reportRateCode, c.rateCode);
    EXPECT_EQ(image->stageFlags, c.flags);

    const ProfileInfo& p1 = image->profiles[1];
    EXPECT_EQ(p1.off, c.profile1Off);
    EXPECT_EQ(p1.colour, c.profile1Colour);
    EXPECT_EQ(p1.name, "Ab");
    EXPECT_EQ(image->profiles[2].name, "Profile3");
    EXPECT_EQ(image->buttons[1][2].slot, c.profile1Button2);
    EXPECT_EQ(image->buttons[1][2].text, "Ctrl + C");

    EXPECT_EQ(image->keyCycles[0].bytes, c.cycles0);
    EXPECT_EQ(image->keyCycles[0].Count(), 2);
    EXPECT_EQ(image->keyCycles[0].Usage(1), 0x05);
    EXPECT_EQ(image->keyCycles[1].Count(), 0);

    // A stored type 0 is shown as the button's default, which the device lists itself.
    EXPECT_EQ(rig.Peek(0x00, 1)[0], 0x12);
    EXPECT_EQ(image->buttons[0][0].slot, (ButtonSlot{4, 0x01, 0, 0}));
    EXPECT_EQ(image->buttons[0][0].text, "Left click");
    EXPECT_EQ(image->defaultTypes[1], 4);
    // Past the class's buttons every slot holds the default list's "No function".
    if (image->ButtonCount() < kMaxButtons) {
        EXPECT_EQ(image->buttons[0][kMaxButtons - 1].slot, (ButtonSlot{1, 0, 0, 0}));
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, ImageDecode, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
