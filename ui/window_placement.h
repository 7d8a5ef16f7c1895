// Where a companion window opens beside the main window: on the main window's screen,
// next to it rather than over it, so that what it is dropped on stays in view.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace qvm::ui {

// The top-left corner for a window of `size` (its frame included) beside `anchor` (the
// main window's frame) within `room` (the available area of the anchor's screen), `gap`
// pixels away from it: at its right when it fits there, else at its left, else against
// the screen edge on the side with more room, where it covers the least of the anchor.
// Its top is `gap` below the anchor's, moved up as far as needed to stay on the screen.
QPoint PlaceBeside(const QRect& anchor, const QSize& size, const QRect& room, int gap);

}  // namespace qvm::ui
