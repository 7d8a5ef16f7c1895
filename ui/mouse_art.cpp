// The drawn mice. Every drawing lives in a local frame of 240 x 400 units (the body
// centred on x = 150, room for an exploded side-key panel at the left) that is scaled
// uniformly into the area. A layout is a body shape plus the list of parts its button
// positions show; each part knows where it sits on the body and how it is drawn.
#include "ui/mouse_art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <vector>

#include "device/model_table.h"
#include "ui/mouse_art_layouts.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

using namespace art;

QPainterPath BodyPath(const BodyShape& b) {
    const qreal h = b.bottom - b.top;
    auto y = [&](qreal f) { return b.top + f * h; };
    QPainterPath path;
    path.moveTo(kCentreX, b.top);
    // Right side, front to back.
    path.cubicTo(kCentreX + b.halfFront * 0.7, b.top, kCentreX + b.halfFront, y(0.08),
                 kCentreX + b.halfFront, y(0.25));
    path.cubicTo(kCentreX + b.halfFront, y(0.4), kCentreX + b.halfWaist, y(0.45),
                 kCentreX + b.halfWaist, y(0.55));
    path.cubicTo(kCentreX + b.halfWaist, y(0.65), kCentreX + b.halfBack, y(0.7),
                 kCentreX + b.halfBack, y(0.8));
    path.cubicTo(kCentreX + b.halfBack, y(0.95), kCentreX + b.halfBack * 0.5, b.bottom, kCentreX,
                 b.bottom);
    // Left side, back to front, with the thumb rest's flare.
    const qreal waist = b.halfWaist + b.thumbFlare * 0.5;
    const qreal back = b.halfBack + b.thumbFlare;
    path.cubicTo(kCentreX - back * 0.5, b.bottom, kCentreX - back, y(0.95), kCentreX - back,
                 y(0.8));
    path.cubicTo(kCentreX - back, y(0.7), kCentreX - waist, y(0.65), kCentreX - waist, y(0.55));
    path.cubicTo(kCentreX - waist, y(0.45), kCentreX - b.halfFront, y(0.4), kCentreX - b.halfFront,
                 y(0.25));
    path.cubicTo(kCentreX - b.halfFront, y(0.08), kCentreX - b.halfFront * 0.7, b.top, kCentreX,
                 b.top);
    path.closeSubpath();
    return path;
}

// The region of a main button: the body in front of the seam, one half of it.
QPainterPath MainButtonPath(const BodyShape& b, bool left) {
    // The seam behind the main buttons dips towards the centre line.
    const qreal seam = At(b, kSeamAt);
    constexpr qreal kGap = 1.5;
    constexpr qreal kSeamRise = 18;
    QPainterPath half;
    if (left) {
        half.moveTo(0, 0);
        half.lineTo(kCentreX - kGap, 0);
        half.lineTo(kCentreX - kGap, seam);
        half.quadTo(kCentreX - 50, seam, 0, seam - kSeamRise);
    } else {
        half.moveTo(kCentreX + kGap, 0);
        half.lineTo(kFrameWidth, 0);
        half.lineTo(kFrameWidth, seam - kSeamRise);
        half.quadTo(kCentreX + 50, seam, kCentreX + kGap, seam);
    }
    half.closeSubpath();
    return BodyPath(b).intersected(half);
}

struct Paint {
    QColor fill;
    QColor edge;
};

Paint PartPaint(bool lit) {
    if (lit) return {skin::kAccent, skin::kAccentBright};
    return {QColor(58, 62, 72), QColor(92, 97, 110)};
}

void FillPart(QPainter& p, const QPainterPath& path, bool lit) {
    const Paint paint = PartPaint(lit);
    QLinearGradient g(path.boundingRect().topLeft(), path.boundingRect().bottomLeft());
    g.setColorAt(0, paint.fill.lighter(125));
    g.setColorAt(1, paint.fill);
    p.setBrush(g);
    p.setPen(QPen(paint.edge, 1.2));
    p.drawPath(path);
}

QPainterPath Pill(const QPointF& centre, qreal w, qreal h) {
    QPainterPath path;
    path.addRoundedRect(QRectF(centre.x() - w / 2, centre.y() - h / 2, w, h), std::min(w, h) / 2,
                        std::min(w, h) / 2);
    return path;
}

QPainterPath Arrow(const QPointF& tip, qreal dir) {
    QPainterPath path;
    path.moveTo(tip);
    path.lineTo(tip.x() - dir * 8, tip.y() - 7);
    path.lineTo(tip.x() - dir * 8, tip.y() + 7);
    path.closeSubpath();
    return path;
}

void DrawBody(QPainter& p, const LayoutArt& art) {
    const BodyShape& b = art.body;
    const QPainterPath body = BodyPath(b);
    // Soft shadow under the body.
    p.setPen(Qt::NoPen);
    const QPointF shadowCentre(kCentreX + 5, At(b, 0.56));
    const qreal shadowHalfHeight = (b.bottom - b.top) * 0.52;
    QRadialGradient shadow(shadowCentre, shadowHalfHeight);
    shadow.setColorAt(0.7, QColor(0, 0, 0, 140));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    p.setBrush(shadow);
    p.drawEllipse(shadowCentre, b.halfBack + 14, shadowHalfHeight);

    QLinearGradient shell(QPointF(kCentreX - b.halfBack, 0), QPointF(kCentreX + b.halfBack, 0));
    shell.setColorAt(0, QColor(30, 32, 38));
    shell.setColorAt(0.45, QColor(52, 55, 64));
    shell.setColorAt(1, QColor(24, 26, 31));
    p.setBrush(shell);
    p.setPen(QPen(QColor(96, 101, 114), 1.5));
    p.drawPath(body);

    // The accent light strip along the back and the logo slot.
    const QPointF logo(kCentreX, At(b, 0.78));
    QRadialGradient glow(logo, 26);
    glow.setColorAt(0, skin::kAccent);
    glow.setColorAt(0.35,
                    QColor(skin::kAccent.red(), skin::kAccent.green(), skin::kAccent.blue(), 90));
    glow.setColorAt(1, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(logo, 26, 26);
    QPainterPath mark;
    mark.moveTo(logo + QPointF(-9, 6));
    mark.lineTo(logo + QPointF(0, -8));
    mark.lineTo(logo + QPointF(9, 6));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 230, 220), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(mark);

    QPainterPath strip;
    const qreal y0 = At(b, 0.9);
    strip.moveTo(kCentreX - b.halfBack * 0.55, y0);
    strip.quadTo(kCentreX, y0 + 14, kCentreX + b.halfBack * 0.55, y0);
    p.setPen(QPen(skin::kAccent, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(strip);

    // Centre line between the main buttons.
    p.setPen(QPen(QColor(12, 12, 14), 2));
    p.drawLine(QPointF(kCentreX, b.top + 2), QPointF(kCentreX, At(b, kSeamAt) - 8));
}

void DrawGridPanel(QPainter& p, const LayoutArt& art, int partCount) {
    const BodyShape& b = art.body;
    const int rows = (partCount + art.gridColumns - 1) / art.gridColumns;
    const QRectF panel(kGridLeft, At(b, kGridTopAt), art.gridColumns * kGridPitch + 6,
                       rows * kGridRowPitch + 6);
    // Dashed connector: the panel is an exploded view of the thumb side.
    p.setPen(QPen(QColor(96, 101, 114), 1, Qt::DashLine));
    p.drawLine(QPointF(panel.right(), panel.top() + 6),
               QPointF(kCentreX - HalfWidth(b, kGridTopAt, true), At(b, kGridTopAt) + 6));
    p.drawLine(QPointF(panel.right(), panel.bottom() - 6),
               QPointF(kCentreX - HalfWidth(b, 0.6, true), At(b, 0.6)));
    p.setPen(QPen(QColor(96, 101, 114), 1.2));
    p.setBrush(QColor(30, 32, 38));
    p.drawRoundedRect(panel, 6, 6);
}

void DrawPart(QPainter& p, const LayoutArt& art, Part part, bool lit) {
    const BodyShape& b = art.body;
    const QPointF c = LocalAnchor(art, part);
    switch (part) {
        case Part::Left:
        case Part::Right: {
            FillPart(p, MainButtonPath(b, part == Part::Left), lit);
            return;
        }
        case Part::Wheel: {
            const QPointF mid = WheelCentre(b);
            const qreal len = WheelLength(b);
            FillPart(p, Pill(mid, 16, len), lit);
            p.setPen(QPen(QColor(0, 0, 0, 120), 1));
            for (int i = -3; i <= 3; ++i) {
                const qreal y = mid.y() + i * len / 8;
                p.drawLine(QPointF(mid.x() - 6, y), QPointF(mid.x() + 6, y));
            }
            return;
        }
        case Part::TiltLeft:
            FillPart(p, Arrow(c + QPointF(-4, 0), -1), lit);
            return;
        case Part::TiltRight:
            FillPart(p, Arrow(c + QPointF(4, 0), 1), lit);
            return;
        case Part::DpiUp:
        case Part::DpiDown:
            FillPart(p, Pill(c, 16, 11), lit);
            return;
        case Part::Profile: {
            QPainterPath round;
            round.addEllipse(c, 8, 8);
            FillPart(p, round, lit);
            return;
        }
        case Part::TopFront:
        case Part::TopRear:
            FillPart(p, Pill(c, 12, 22), lit);
            return;
        case Part::Sniper: {
            QPainterPath round;
            round.addEllipse(c, 7, 9);
            const Paint paint = lit ? PartPaint(true) : Paint{skin::kDanger, QColor(255, 120, 130)};
            p.setBrush(paint.fill);
            p.setPen(QPen(paint.edge, 1.2));
            p.drawPath(round);
            return;
        }
        case Part::Forward:
        case Part::Back:
        case Part::Thumb3:
        case Part::RightForward:
        case Part::RightBack:
            FillPart(p, Pill(c, 11, 30), lit);
            return;
        default: {
            QPainterPath key;
            key.addRoundedRect(
                QRectF(c.x() - kGridCell / 2, c.y() - kGridCell / 2, kGridCell, kGridCell), 3, 3);
            FillPart(p, key, lit);
            return;
        }
    }
}

QTransform FrameToArea(const QRectF& area) {
    const qreal scale = std::min(area.width() / kFrameWidth, area.height() / kFrameHeight);
    const qreal dx = area.left() + (area.width() - kFrameWidth * scale) / 2;
    const qreal dy = area.top() + (area.height() - kFrameHeight * scale) / 2;
    return QTransform(scale, 0, 0, scale, dx, dy);
}

}  // namespace

void DrawMouse(QPainter& painter, int layoutIndex, const QRectF& area, int highlightedPosition) {
    const LayoutArt* art = FindLayout(layoutIndex);
    if (art == nullptr) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setTransform(FrameToArea(area), true);
    DrawBody(painter, *art);
    const int count = static_cast<int>(art->parts.size());
    if (art->gridColumns > 0) {
        const auto grids = std::count_if(art->parts.begin(), art->parts.end(), IsGrid);
        DrawGridPanel(painter, *art, static_cast<int>(grids));
    }
    for (int position = 0; position < count; ++position) {
        DrawPart(painter, *art, art->parts[static_cast<size_t>(position)],
                 position == highlightedPosition);
    }
    painter.restore();
}

QPointF ButtonAnchor(int layoutIndex, int position, const QRectF& area) {
    const LayoutArt* art = FindLayout(layoutIndex);
    const QTransform toArea = FrameToArea(area);
    if (art == nullptr || position < 0 || position >= static_cast<int>(art->parts.size())) {
        return toArea.map(QPointF(kCentreX, kFrameHeight / 2));
    }
    return toArea.map(LocalAnchor(*art, art->parts[static_cast<size_t>(position)]));
}

std::vector<QPointF> LeaderPath(const QRectF& label, const QPointF& anchor) {
    constexpr qreal kLevelRun = 12;        // straight run out of the label
    constexpr qreal kSteepestRise = 1.75;  // rise over run beyond which the line turns a corner
    const bool labelLeftOfButton = label.center().x() < anchor.x();
    const QPointF start(labelLeftOfButton ? label.right() + 1 : label.left(), label.center().y());
    const QPointF bend(start.x() + (labelLeftOfButton ? kLevelRun : -kLevelRun), start.y());
    const qreal run = std::abs(anchor.x() - bend.x());
    const qreal rise = std::abs(anchor.y() - bend.y());
    if (rise > kSteepestRise * run) return {start, bend, QPointF(anchor.x(), start.y()), anchor};
    return {start, bend, anchor};
}

int DrawnButtonCount(int layoutIndex) {
    const LayoutArt* art = FindLayout(layoutIndex);
    return art == nullptr ? 0 : static_cast<int>(art->parts.size());
}

}  // namespace qvm::ui
