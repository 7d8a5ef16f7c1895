// The data behind the drawn mice: the body shapes, which part each button position of a
// layout shows, and where each part sits. Coordinates are local units of a 240 x 400
// frame with the body centred on x = 150; the drawing code scales the frame into its area.
#pragma once

#include <QPointF>
#include <QtGlobal>
#include <vector>

namespace qvm::ui::art {

inline constexpr qreal kFrameWidth = 240;
inline constexpr qreal kFrameHeight = 400;
inline constexpr qreal kCentreX = 150;

enum class Part {
    Left,
    Right,
    Wheel,
    TiltLeft,
    TiltRight,
    DpiUp,
    DpiDown,
    Profile,
    TopFront,
    TopRear,
    Forward,
    Back,
    Thumb3,
    Sniper,
    RightForward,
    RightBack,
    Grid1,
    Grid2,
    Grid3,
    Grid4,
    Grid5,
    Grid6,
    Grid7,
    Grid8,
    Grid9,
};

// Proportions of a body: front and back in local units, half widths at the shoulder,
// waist and back, and how far the left side flares out into a thumb rest.
struct BodyShape {
    qreal top;
    qreal bottom;
    qreal halfFront;
    qreal halfWaist;
    qreal halfBack;
    qreal thumbFlare;
};

struct LayoutArt {
    BodyShape body;
    int gridColumns;          // 0: no side-key panel
    std::vector<Part> parts;  // by button position
};

// The layout's drawing data; nullptr for indexes outside 0..13.
const LayoutArt* FindLayout(int layoutIndex);

// y of a share f of the body's length.
qreal At(const BodyShape& b, qreal f);
// Half width of the body's left (thumb) or right side at share f.
qreal HalfWidth(const BodyShape& b, qreal f, bool left);
// Middle and length of the wheel as drawn.
QPointF WheelCentre(const BodyShape& b);
qreal WheelLength(const BodyShape& b);
bool IsGrid(Part part);
// Where a part sits (its centre; the tip of the body's edge for side buttons).
QPointF LocalAnchor(const LayoutArt& art, Part part);

// Shares of the body length and sizes the drawing shares with the anchors.
inline constexpr qreal kSeamAt = 0.36;
inline constexpr qreal kGridTopAt = 0.43;
inline constexpr qreal kGridLeft = 4;
inline constexpr qreal kGridCell = 18;
inline constexpr qreal kGridPitch = 21;
inline constexpr qreal kGridRowPitch = 24;

}  // namespace qvm::ui::art
