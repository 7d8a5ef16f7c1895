// The on-screen keyboard of the button settings window, loaded from keyboard.ini.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qvm {

struct KeyRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const KeyRect&) const = default;
};

struct KeyboardKey {
    std::string name;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int scanCode = 0;  // set-1 scan code, extended keys as 0xE000 + code
    int state = 0;     // pressed/selected; changed by the button settings window
    int smallFont = 0;
    int keepName = 0;        // non-zero: the file's name stays even if a standard one exists
    int usage = 0;           // HID keyboard usage
    int consumerUsage = 0;   // non-zero for a consumer-control key
    int consumerIndex = -1;  // row of consumerUsage in the consumer-key table, -1 when none
    KeyRect rect;            // on screen, inset from the key's box
};

inline constexpr std::size_t kMaxKeyboardKeys = 200;
inline constexpr int kFirstKeySection = 1;
inline constexpr int kLastKeySection = 139;

struct KeyboardLayout {
    int originX = 0;  // of the keyboard inside its panel
    int originY = 0;
    std::vector<KeyboardKey> keys;
    std::string warning;  // the file's problems, empty when it was read cleanly
};

// Key names come from the function catalogue; an empty result means "no name".
struct KeyNaming {
    std::function<std::string(int usage)> standardName;
    std::function<std::string(int consumerUsage)> consumerName;
};

// A missing file gives an empty layout.
KeyboardLayout LoadKeyboardLayout(const std::string& path, const KeyNaming& naming);

}  // namespace qvm
