// The button page's label boxes, one row of rungs per layout.
#include "present/button_geometry.h"

namespace qvm {
namespace {

// Hotspot geometry: where each button position's label sits on the button page. The
// drawn mouse takes the middle of the page (x 344..680, y 112..548) with the page's
// control row below it, so labels stand in two columns beside the mouse: x 80..320 left
// of it and x 704..944 right of it. Each column is a ladder of rungs 40 pixels apart,
// rising from y 528 (rung 0, 36 high; the others 30 high, so neighbours keep a gap of at
// least 4 pixels) up to rung 10 at y 128. A button on the mouse's thumb side (left
// button, side buttons, the side-key grid) is labelled in the left column, the others in
// the right one; within a column each label sits on the rung nearest the height of its
// button on the drawing, in the drawing's top-to-bottom order, so leader lines run
// nearly level and do not cross. Where two buttons share a height (the left button beside
// a top button), the label whose button lies farther in stands farther from that height;
// where a line would pass over another button's dot (the down-DPI button above the right
// side's forward button on layout 12), the two labels trade rungs. Layout 0 keeps its left
// button on rung 0; its leader runs under the body. Positions a layout does not show have
// empty boxes, which nothing can hit.
enum class Column { Left, Right };
constexpr Column L = Column::Left;
constexpr Column R = Column::Right;

struct Placement {
    Column column;
    int rung;
};

constexpr float kColumnLeftX = 80;
constexpr float kColumnRightX = 704;
constexpr float kColumnWidth = 240;
constexpr float kRungZeroY = 528;
constexpr float kRungZeroHeight = 36;
constexpr float kRungPitch = 40;
constexpr float kRungHeight = 30;
constexpr int kMaxPlacements = 14;

struct GeometryRow {
    int count;
    std::array<Placement, kMaxPlacements> places;
};

// Per layout, by button position: column and rung.
// clang-format off
constexpr GeometryRow kGeometryPlacements[kLayoutCount] = {
    {10, {{{L,  0}, {R,  7}, {R,  9}, {L,  5}, {L,  6}, {R,  6}, {R,  5}, {L,  9}, {R,  8}, {R,  4}}}},  // layout 0
    {12, {{{L,  8}, {R,  7}, {R,  9}, {L,  5}, {L,  6}, {R,  6}, {R,  5}, {L,  9}, {R,  8}, {L,  7}, {L,  4}, {R,  4}}}},  // layout 1
    {10, {{{L,  7}, {R,  8}, {R,  9}, {L,  4}, {L,  5}, {R,  7}, {R,  6}, {L,  8}, {L,  6}, {R,  5}}}},  // layout 2
    { 9, {{{L,  7}, {R,  6}, {R,  8}, {L,  5}, {L,  6}, {R,  5}, {R,  4}, {L,  8}, {R,  7}}}},  // layout 3
    {12, {{{L,  8}, {R,  8}, {R,  9}, {L,  6}, {L,  5}, {L,  4}, {L,  3}, {L,  2}, {L,  1}, {R,  7}, {R,  6}, {R,  5}}}},  // layout 4
    {10, {{{L,  8}, {R,  8}, {R,  9}, {L,  5}, {L,  6}, {R,  7}, {R,  6}, {L,  7}, {L,  4}, {R,  5}}}},  // layout 5
    {11, {{{L,  8}, {R,  7}, {R,  9}, {L,  5}, {L,  6}, {L,  4}, {R,  6}, {R,  5}, {L,  9}, {R,  8}, {L,  7}}}},  // layout 6
    { 8, {{{L,  8}, {R,  7}, {R,  8}, {L,  5}, {L,  6}, {R,  6}, {R,  5}, {R,  4}}}},  // layout 7
    {14, {{{L, 10}, {R,  8}, {R,  9}, {R,  7}, {R,  6}, {L,  8}, {L,  7}, {L,  6}, {L,  5}, {L,  4}, {L,  3}, {L,  2}, {L,  1}, {L,  0}}}},  // layout 8
    {10, {{{L,  8}, {R,  8}, {R,  9}, {L,  5}, {L,  6}, {R,  4}, {R,  5}, {R,  7}, {R,  6}, {R,  3}}}},  // layout 9
    { 9, {{{L,  7}, {R,  8}, {R,  9}, {L,  4}, {L,  5}, {L,  8}, {L,  6}, {R,  7}, {R,  6}}}},  // layout 10
    {14, {{{L, 10}, {R,  8}, {R,  9}, {R,  7}, {R,  6}, {L,  8}, {L,  7}, {L,  6}, {L,  5}, {L,  4}, {L,  3}, {L,  2}, {L,  1}, {L,  0}}}},  // layout 11
    {12, {{{L,  8}, {R,  7}, {R,  9}, {L,  5}, {L,  6}, {R,  3}, {R,  5}, {R,  6}, {R,  4}, {L,  9}, {R,  8}, {R,  2}}}},  // layout 12
    {10, {{{L,  8}, {R,  7}, {R,  9}, {L,  5}, {L,  6}, {R,  6}, {R,  5}, {L,  9}, {R,  8}, {L,  7}}}},  // layout 13
};
// clang-format on

constexpr std::array<Hotspot, kLayoutPositions> Expand(const GeometryRow& row) {
    std::array<Hotspot, kLayoutPositions> out{};
    for (int i = 0; i < row.count; ++i) {
        const Placement& p = row.places[i];
        out[i] = {p.column == Column::Left ? kColumnLeftX : kColumnRightX,
                  kRungZeroY - kRungPitch * static_cast<float>(p.rung), kColumnWidth,
                  p.rung == 0 ? kRungZeroHeight : kRungHeight};
    }
    return out;
}

constexpr std::array<std::array<Hotspot, kLayoutPositions>, kLayoutCount> ExpandAll() {
    std::array<std::array<Hotspot, kLayoutPositions>, kLayoutCount> rows{};
    for (int i = 0; i < kLayoutCount; ++i) rows[i] = Expand(kGeometryPlacements[i]);
    return rows;
}
constexpr std::array<std::array<Hotspot, kLayoutPositions>, kLayoutCount> kGeometryRows =
    ExpandAll();

}  // namespace

const std::array<Hotspot, kLayoutPositions>& ButtonHotspots(int layoutIndex) {
    return kGeometryRows.at(static_cast<std::size_t>(layoutIndex));
}

}  // namespace qvm
