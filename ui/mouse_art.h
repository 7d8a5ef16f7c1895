// The drawn mice of the button page: one stylised top view per button layout (0..13),
// vector-drawn, with the buttons the layout has (side buttons, DPI buttons, wheel tilt,
// extra top buttons, a side key grid for the many-button layouts).
#pragma once

#include <QPointF>
#include <QRectF>
#include <vector>

class QPainter;

namespace qvm::ui {

// Draws the mouse of the layout centred in area, keeping its proportions. The button at
// highlightedPosition (if it is one of the layout's) is lit in the accent colour.
// Unknown layouts draw nothing.
void DrawMouse(QPainter& painter, int layoutIndex, const QRectF& area,
               int highlightedPosition = -1);

// Where on the drawing (in area's coordinates) the button of that position sits, so a
// leader line can run from its label to it. Positions the drawing has no button for
// (and unknown layouts) give the centre of the mouse's body.
QPointF ButtonAnchor(int layoutIndex, int position, const QRectF& area);

// The leader line from a label box to its button's anchor, as points of a polyline: out of
// the label's inner edge, a short level run, then on to the anchor. A line that would climb
// steeply (a label far below its button) runs level to beneath the anchor and rises
// straight to it instead, so it does not sweep across the side buttons' lines.
std::vector<QPointF> LeaderPath(const QRectF& label, const QPointF& anchor);

// How many positions the layout's drawing shows buttons for (0 for unknown layouts).
int DrawnButtonCount(int layoutIndex);

}  // namespace qvm::ui
