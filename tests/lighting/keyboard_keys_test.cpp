// The shipped key picture against the device's key addressing: every lit key once, by its
// usage, and exactly the game keys of kind 3 that RESET lights red.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "lighting/keyboard_keys.h"

namespace qvm {
namespace {

TEST(KeyboardKeys, ShippedPictureGivesEachUsageOnceAndTheGameKeys) {
    const KeyNaming naming{[](int) { return std::string(); }, [](int) { return std::string(); }};
    const KeyboardLayout layout =
        LoadKeyboardLayout(std::string(QVM_SOURCE_DATA_DIR) + "/keyboard.ini", naming);
    ASSERT_TRUE(layout.warning.empty()) << layout.warning;
    const std::vector<KeyOfKind> keys = LightingKeys(layout);

    std::set<int> usages;
    std::set<int> game;
    int modifiers = 0;
    for (const KeyOfKind& k : keys) {
        EXPECT_NE(k.key, 0);
        EXPECT_TRUE(usages.insert(k.key).second) << "usage " << int(k.key) << " twice";
        if (k.kind == kResetRedKeyKind) game.insert(k.key);
        modifiers += k.kind == static_cast<uint8_t>(LightKeyKind::Modifier);
    }
    // A full-size keyboard: most of its 104 keys are lit.
    EXPECT_GE(keys.size(), 100u);
    EXPECT_EQ(game, (std::set<int>{0x04, 0x07, 0x16, 0x1A, 0x4F, 0x50, 0x51, 0x52}));
    EXPECT_EQ(modifiers, 8);
}

}  // namespace
}  // namespace qvm
