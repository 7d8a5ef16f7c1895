#include "lang/keyboard_layout.h"

#include <gtest/gtest.h>

#include "lang/ui_strings.h"
#include "support/temp_folder.h"

namespace qvm {
namespace {

using test::TempFolder;

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

// Numbers no keyboard can hold: the key that holds one is left out and reported, the
// rest of the file is used, and nothing overflows on the way (the sanitizers watch).
struct ExtremeKeyCase {
    const char* key;  // in [KEY 1]
    const char* value;
};

TEST(KeyboardLayoutTest, OutOfRangeNumbersLeaveTheirKeyOut) {
    const ExtremeKeyCase cases[] = {
        {"x", "99999999999"},         {"width", "2147483647"}, {"height", "-1"},
        {"code", "0x1FFFF"},          {"hwcode", "256"},       {"chwcode", "0x10000"},
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

}  // namespace
}  // namespace qvm
