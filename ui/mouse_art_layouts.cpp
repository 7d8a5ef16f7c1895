// The drawn mice's data: body shapes, the parts of each layout and their places.
#include "ui/mouse_art_layouts.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "device/model_table.h"

namespace qvm::ui::art {
namespace {

constexpr BodyShape kClassic{14, 392, 74, 70, 76, 0};
constexpr BodyShape kErgonomic{14, 392, 72, 68, 74, 14};
constexpr BodyShape kCompact{44, 356, 68, 64, 70, 0};
constexpr BodyShape kAmbidextrous{14, 392, 66, 58, 68, 0};

const std::array<LayoutArt, kLayoutCount>& Layouts() {
    using P = Part;
    static const std::array<LayoutArt, kLayoutCount> layouts = {{
        {kClassic,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::DpiUp, P::DpiDown, P::TiltLeft,
          P::TiltRight, P::Profile}},
        {kErgonomic,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::DpiUp, P::DpiDown, P::TiltLeft,
          P::TiltRight, P::Sniper, P::Thumb3, P::Profile}},
        {kClassic,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::DpiUp, P::DpiDown, P::TopFront,
          P::TopRear, P::Profile}},
        {kCompact,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::DpiUp, P::DpiDown, P::TiltLeft,
          P::TiltRight}},
        // The side keys stand in one column of the exploded panel, in the labels' order down
        // the left column, so every leader line reaches its key without passing over another.
        {kClassic,
         1,
         {P::Left, P::Right, P::Wheel, P::Grid1, P::Grid2, P::Grid3, P::Grid4, P::Grid5, P::Grid6,
          P::DpiUp, P::DpiDown, P::Profile}},
        {kErgonomic,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::DpiUp, P::DpiDown, P::Sniper,
          P::Thumb3, P::Profile}},
        {kClassic,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::Thumb3, P::DpiUp, P::DpiDown,
          P::TiltLeft, P::TiltRight, P::Sniper}},
        {kCompact,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::DpiUp, P::DpiDown, P::Profile}},
        {kClassic,
         1,
         {P::Left, P::Right, P::Wheel, P::DpiUp, P::DpiDown, P::Grid1, P::Grid2, P::Grid3, P::Grid4,
          P::Grid5, P::Grid6, P::Grid7, P::Grid8, P::Grid9}},
        {kAmbidextrous,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::RightBack, P::RightForward, P::DpiUp,
          P::DpiDown, P::Profile}},
        {kClassic,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::TopFront, P::TopRear, P::DpiUp,
          P::Profile}},
        {kClassic,
         1,
         {P::Left, P::Right, P::Wheel, P::DpiUp, P::DpiDown, P::Grid1, P::Grid2, P::Grid3, P::Grid4,
          P::Grid5, P::Grid6, P::Grid7, P::Grid8, P::Grid9}},
        {kAmbidextrous,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::RightBack, P::RightForward, P::DpiUp,
          P::DpiDown, P::TiltLeft, P::TiltRight, P::Profile}},
        {kErgonomic,
         0,
         {P::Left, P::Right, P::Wheel, P::Back, P::Forward, P::DpiUp, P::DpiDown, P::TiltLeft,
          P::TiltRight, P::Sniper}},
    }};
    return layouts;
}

// Shares of the body length where parts sit.
constexpr qreal kWheelAt = 0.15;
constexpr qreal kDpiUpAt = 0.28;
constexpr qreal kDpiDownAt = 0.33;
constexpr qreal kProfileAt = 0.45;
constexpr qreal kTopFrontAt = 0.2;
constexpr qreal kTopRearAt = 0.28;
constexpr qreal kSniperAt = 0.33;
constexpr qreal kForwardAt = 0.42;
constexpr qreal kBackAt = 0.51;
constexpr qreal kThumb3At = 0.6;
constexpr qreal kTiltOffset = 17;
constexpr qreal kWheelLengthShare = 0.12;
constexpr qreal kWheelAnchorShare = 0.3;

QPointF GridCentre(const BodyShape& b, int columns, Part part) {
    const int k = static_cast<int>(part) - static_cast<int>(Part::Grid1);
    const int column = k % columns;
    const int row = k / columns;
    return {kGridLeft + kGridCell / 2 + 3 + column * kGridPitch,
            At(b, kGridTopAt) + kGridCell / 2 + 4 + row * kGridRowPitch};
}

}  // namespace

const LayoutArt* FindLayout(int layoutIndex) {
    if (layoutIndex < 0 || layoutIndex >= kLayoutCount) return nullptr;
    return &Layouts()[static_cast<size_t>(layoutIndex)];
}

qreal At(const BodyShape& b, qreal f) {
    return b.top + f * (b.bottom - b.top);
}

// Half width of the body's left (thumb) or right side at share f, following the
// outline's control points closely enough to seat side buttons on the edge.
qreal HalfWidth(const BodyShape& b, qreal f, bool left) {
    const qreal flare = left ? b.thumbFlare : 0;
    struct Knot {
        qreal f;
        qreal w;
    };
    const Knot knots[] = {{0.0, 0},
                          {0.08, b.halfFront * 0.8},
                          {0.25, b.halfFront},
                          {0.55, b.halfWaist + flare * 0.5},
                          {0.8, b.halfBack + flare},
                          {1.0, 0}};
    for (size_t i = 1; i < std::size(knots); ++i) {
        if (f <= knots[i].f) {
            const qreal t = (f - knots[i - 1].f) / (knots[i].f - knots[i - 1].f);
            return knots[i - 1].w + t * (knots[i].w - knots[i - 1].w);
        }
    }
    return 0;
}

QPointF WheelCentre(const BodyShape& b) {
    return {kCentreX, At(b, kWheelAt)};
}

qreal WheelLength(const BodyShape& b) {
    return (b.bottom - b.top) * kWheelLengthShare;
}

bool IsGrid(Part part) {
    return part >= Part::Grid1 && part <= Part::Grid9;
}

// Anchor of a part in local units.
QPointF LocalAnchor(const LayoutArt& art, Part part) {
    const BodyShape& b = art.body;
    switch (part) {
        case Part::Left:
            return {kCentreX - b.halfFront * 0.5, At(b, 0.2)};
        case Part::Right:
            return {kCentreX + b.halfFront * 0.5, At(b, 0.2)};
        case Part::Wheel:
            // On the wheel's front half: a line to its middle would run through the tilt
            // buttons' anchors, which stand level with it.
            return WheelCentre(b) - QPointF(0, WheelLength(b) * kWheelAnchorShare);
        case Part::TiltLeft:
            return {kCentreX - kTiltOffset, At(b, kWheelAt)};
        case Part::TiltRight:
            return {kCentreX + kTiltOffset, At(b, kWheelAt)};
        case Part::DpiUp:
            return {kCentreX, At(b, kDpiUpAt)};
        case Part::DpiDown:
            return {kCentreX, At(b, kDpiDownAt)};
        case Part::Profile:
            return {kCentreX, At(b, kProfileAt)};
        case Part::TopFront:
            return {kCentreX - HalfWidth(b, kTopFrontAt, true) + 14, At(b, kTopFrontAt)};
        case Part::TopRear:
            return {kCentreX - HalfWidth(b, kTopRearAt, true) + 14, At(b, kTopRearAt)};
        case Part::Sniper:
            return {kCentreX - HalfWidth(b, kSniperAt, true) - 2, At(b, kSniperAt)};
        case Part::Forward:
            return {kCentreX - HalfWidth(b, kForwardAt, true) - 1, At(b, kForwardAt)};
        case Part::Back:
            return {kCentreX - HalfWidth(b, kBackAt, true) - 1, At(b, kBackAt)};
        case Part::Thumb3:
            return {kCentreX - HalfWidth(b, kThumb3At, true) - 1, At(b, kThumb3At)};
        case Part::RightForward:
            return {kCentreX + HalfWidth(b, kForwardAt, false) + 1, At(b, kForwardAt)};
        case Part::RightBack:
            return {kCentreX + HalfWidth(b, kBackAt, false) + 1, At(b, kBackAt)};
        default:
            return GridCentre(b, std::max(art.gridColumns, 1), part);
    }
}

}  // namespace qvm::ui::art
