// The shipped on-screen keyboard: every key sends the usage of its scan code, no two keys
// overlap, and the whole keyboard fits the button settings window's panel.
#include <gtest/gtest.h>

#include <set>

#include "config/catalogue.h"
#include "lang/keyboard_layout.h"
#include "lang/scancodes.h"

namespace qvm {
namespace {

constexpr int kPanelWidth = 900;
constexpr int kPanelHeight = 260;
constexpr std::size_t kUsKeyCount = 104;

KeyboardLayout Shipped() {
    const KeyNaming naming{[](int usage) { return std::string(KeyName(usage)); },
                           [](int usage) { return ConsumerName(usage); }};
    return LoadKeyboardLayout(std::string(QVM_SOURCE_DATA_DIR) + "/keyboard.ini", naming);
}

bool Overlap(const KeyRect& a, const KeyRect& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST(ShippedKeyboard, EveryKeySendsTheUsageOfItsScanCode) {
    const KeyboardLayout layout = Shipped();
    EXPECT_TRUE(layout.warning.empty()) << layout.warning;
    ASSERT_EQ(layout.keys.size(), kUsKeyCount);
    std::set<int> codes;
    std::set<int> usages;
    for (const KeyboardKey& key : layout.keys) {
        SCOPED_TRACE(key.name + " " + std::to_string(key.scanCode));
        EXPECT_FALSE(key.name.empty());
        EXPECT_NE(key.usage, 0);
        EXPECT_EQ(key.usage, ScanCodeToUsage(key.scanCode));
        EXPECT_EQ(key.consumerUsage, 0);
        EXPECT_TRUE(codes.insert(key.scanCode).second) << "scan code used twice";
        EXPECT_TRUE(usages.insert(key.usage).second) << "usage used twice";
    }
}

TEST(ShippedKeyboard, KeysFitThePanelWithoutOverlapping) {
    const KeyboardLayout layout = Shipped();
    ASSERT_FALSE(layout.keys.empty());
    for (std::size_t i = 0; i < layout.keys.size(); ++i) {
        const KeyboardKey& a = layout.keys[i];
        SCOPED_TRACE(a.name);
        EXPECT_LT(a.rect.left, a.rect.right);
        EXPECT_LT(a.rect.top, a.rect.bottom);
        EXPECT_GE(a.rect.left, 0);
        EXPECT_GE(a.rect.top, 0);
        EXPECT_LE(a.rect.right, kPanelWidth);
        EXPECT_LE(a.rect.bottom, kPanelHeight);
        for (std::size_t j = i + 1; j < layout.keys.size(); ++j) {
            EXPECT_FALSE(Overlap(a.rect, layout.keys[j].rect))
                << "overlaps " << layout.keys[j].name;
        }
    }
}

}  // namespace
}  // namespace qvm
