#include "ui/window_placement.h"

#include <algorithm>

namespace qvm::ui {

QPoint PlaceBeside(const QRect& anchor, const QSize& size, const QRect& room, int gap) {
    const int right = anchor.right() + 1 + gap;  // left edge of a window at the right
    const int left = anchor.left() - gap - size.width();
    // Rightmost left edge that keeps the window on the screen (the left edge when it is
    // wider than the screen: its title bar stays reachable).
    const int lastX = std::max(room.left(), room.right() + 1 - size.width());
    int x = 0;
    if (right <= lastX) {
        x = right;
    } else if (left >= room.left()) {
        x = left;
    } else {
        const int roomRight = room.right() - anchor.right();
        const int roomLeft = anchor.left() - room.left();
        x = roomRight >= roomLeft ? lastX : room.left();
    }
    const int lastY = std::max(room.top(), room.bottom() + 1 - size.height());
    const int y = std::clamp(anchor.top() + gap, room.top(), lastY);
    return {x, y};
}

}  // namespace qvm::ui
