#include "lang/keyboard_layout.h"

#include <gtest/gtest.h>

#include "lang/ui_strings.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::TempFolder;

constexpr char kLayout[] =
    "[SET]\nx=10\ny=20\n"
    // Standard name "Esc" is shorter than "Escape": it replaces it.
    "[KEY 1]\nname=Escape\ncode=0x01\nx=0\ny=0\nwidth=40\nheight=30\n"
    // Standard name "Enter" is longer than "Ent": the file's name stays.
    "[KEY 2]\nname=Ent\ncode=0x1c\nx=50\ny=0\nwidth=60\nheight=30\nsmall_font=1\n"
    // modify keeps the file's name; hwcode given, so code is not converted.
    "[KEY 3]\nname=Q\nmodify=1\ncode=0x10\nhwcode=0x99\nx=0\ny=40\nwidth=30\nheight=30\n"
    // Extended code: keypad Enter.
    "[KEY 5]\nname=Enter\ncode=0xE01C\nx=0\ny=80\nwidth=30\nheight=60\n"
    // No name and no chwcode: skipped.
    "[KEY 6]\ncode=0x1E\n"
    // Consumer keys: the first fixes the row's y; boxes come from the consumer row.
    "[KEY 7]\nchwcode=0xE2\nx=500\ny=300\nwidth=1\nheight=1\n"
    "[KEY 8]\nname=ignored\nchwcode=0xB5\ny=999\n"
    "[KEY 9]\nchwcode=0x1234\ny=5\n"
    "[KEY 140]\nname=beyond\ncode=0x02\n";

KeyNaming FakeNaming() {
    return {[](int usage) -> std::string {
                switch (usage) {
                    case 0x29:
                        return "Esc";
                    case 0x28:
                        return "Enter";
                    case 0x58:
                        return "";  // no standard name
                    default:
                        return "U" + std::to_string(usage);
                }
            },
            [](int usage) { return "C" + std::to_string(usage); }};
}

struct KeyExpectation {
    std::string name;
    int usage;
    int scanCode;
    int consumerUsage;
    int consumerIndex;
    KeyRect rect;
};

TEST(KeyboardLayoutTest, LoadsKeysAsTheFileDescribes) {
    TempFolder dir;
    SetUi(UiStrings{});
    const KeyboardLayout layout =
        LoadKeyboardLayout(dir.Write("keyboard.ini", std::string(kLayout)), FakeNaming());
    EXPECT_EQ(layout.warning, "");
    EXPECT_EQ(layout.originX, 10);
    EXPECT_EQ(layout.originY, 20);
    // Rectangles: left = x + 10 + 2, top = y + 20 + 2, right = x + w + 10 - 3, bottom = y + h + 20
    // - 3.
    const KeyExpectation expected[] = {
        {"Esc", 0x29, 0x01, 0, -1, {12, 22, 47, 47}},
        {"Ent", 0x28, 0x1C, 0, -1, {62, 22, 117, 47}},
        {"Q", 0x99, 0x10, 0, -1, {12, 62, 37, 87}},
        {"Enter", 0x58, 0xE01C, 0, -1, {12, 102, 37, 157}},
        {"C226", 0, 0, 0xE2, 4, {12, 322, 70, 348}},
        {"C181", 0, 0, 0xB5, 10, {87, 322, 145, 348}},
        {"C4660", 0, 0, 0x1234, -1, {162, 322, 220, 348}},
    };
    ASSERT_EQ(layout.keys.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const KeyboardKey& key = layout.keys[i];
        const KeyExpectation& e = expected[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(key.name, e.name);
        EXPECT_EQ(key.usage, e.usage);
        EXPECT_EQ(key.scanCode, e.scanCode);
        EXPECT_EQ(key.consumerUsage, e.consumerUsage);
        EXPECT_EQ(key.consumerIndex, e.consumerIndex);
        EXPECT_EQ(key.rect, e.rect);
        EXPECT_EQ(key.state, 0);
    }
    EXPECT_EQ(layout.keys[1].smallFont, 1);
    EXPECT_EQ(layout.keys[2].keepName, 1);
    // Consumer keys: fixed size, running x, the first consumer key's y.
    EXPECT_EQ(layout.keys[5].x, 75);
    EXPECT_EQ(layout.keys[5].y, 300);
    EXPECT_EQ(layout.keys[5].width, 63);
    EXPECT_EQ(layout.keys[5].height, 31);
}

TEST(KeyboardLayoutTest, MissingFileGivesEmptyLayout) {
    TempFolder dir;
    const KeyboardLayout layout = LoadKeyboardLayout(dir.File("keyboard.ini"), FakeNaming());
    EXPECT_TRUE(layout.keys.empty());
    EXPECT_EQ(layout.warning, "");
}

// Numbers no keyboard can hold: the key that holds one is left out and reported, the
// rest of the file is used, and nothing overflows on the way (the sanitizers watch).
struct ExtremeKeyCase {
    const char* key;  // in [KEY 1]
    const char* value;
};

TEST(KeyboardLayoutTest, OutOfRangeNumbersLeaveTheirKeyOut) {
    const ExtremeKeyCase cases[] = {
        {"x", "2147483647"},
        {"x", "99999999999"},
        {"y", "-2147483648"},
        {"width", "2147483647"},
        {"height", "-1"},
        {"code", "0x1FFFF"},
        {"code", "0xFFFFFFFF"},
        {"hwcode", "256"},
        {"chwcode", "0x10000"},
        {"chwcode", "-5"},
        {"small_font", "4294967296"},
    };
    SetUi(UiStrings{});
    for (const ExtremeKeyCase& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        TempFolder dir;
        // The bad value first: of two equal keys, the first is the one read.
        const std::string text = "[SET]\nx=10\ny=20\n[KEY 1]\n" + std::string(c.key) + "=" +
                                 c.value +
                                 "\nname=Bad\ncode=0x02\nx=0\ny=0\nwidth=30\nheight=30\n"
                                 "[KEY 2]\nname=Good\nmodify=1\ncode=0x03\nx=40\ny=0\nwidth=30\n"
                                 "height=30\n";
        const KeyboardLayout layout =
            LoadKeyboardLayout(dir.Write("keyboard.ini", text), FakeNaming());
        ASSERT_EQ(layout.keys.size(), 1u);
        EXPECT_EQ(layout.keys[0].name, "Good");
        EXPECT_EQ(layout.keys[0].rect, (KeyRect{52, 22, 77, 47}));
        EXPECT_NE(layout.warning.find("[KEY 1] " + std::string(c.key) + " " + c.value),
                  std::string::npos)
            << layout.warning;
    }
}

TEST(KeyboardLayoutTest, OutOfRangeOriginIsReportedAndZero) {
    TempFolder dir;
    SetUi(UiStrings{});
    const KeyboardLayout layout = LoadKeyboardLayout(
        dir.Write("keyboard.ini", std::string("[SET]\nx=2147483647\ny=-2147483648\n"
                                              "[KEY 1]\nname=K\ncode=0x02\nx=2147483\ny=5\n"
                                              "width=10000\nheight=10\n")),
        FakeNaming());
    EXPECT_EQ(layout.originX, 0);
    EXPECT_EQ(layout.originY, 0);
    EXPECT_NE(layout.warning.find("[SET] x 2147483647"), std::string::npos) << layout.warning;
    EXPECT_NE(layout.warning.find("[SET] y -2147483648"), std::string::npos) << layout.warning;
    EXPECT_NE(layout.warning.find("[KEY 1] x 2147483"), std::string::npos) << layout.warning;
    EXPECT_TRUE(layout.keys.empty());
}

}  // namespace
}  // namespace qvm
