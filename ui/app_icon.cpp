// The program's icon, drawn in a 256-unit square and scaled to the size asked for. The
// shipped scalable icon (data/icons/.../qvm-gaming.svg) is the same drawing.
#include "ui/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "ui/skin.h"

namespace qvm::ui {
namespace {

constexpr qreal kUnits = 256;
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QPainterPath MouseOutline() {
    QPainterPath path;
    path.moveTo(128, 44);
    path.cubicTo(168, 44, 188, 74, 188, 112);
    path.lineTo(188, 150);
    path.cubicTo(188, 192, 162, 216, 128, 216);
    path.cubicTo(94, 216, 68, 192, 68, 150);
    path.lineTo(68, 112);
    path.cubicTo(68, 74, 88, 44, 128, 44);
    path.closeSubpath();
    return path;
}

}  // namespace

QPixmap DrawAppIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kUnits, size / kUnits);

    // Rounded square in the accent colour, lighter at the top.
    QLinearGradient ground(0, 0, 0, kUnits);
    ground.setColorAt(0, skin::kAccentBright);
    ground.setColorAt(1, skin::kAccent.darker(130));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ground);
    painter.drawRoundedRect(QRectF(8, 8, 240, 240), 52, 52);

    // The mouse: dark body, a split between the two buttons, the wheel.
    painter.setBrush(QColor(20, 21, 26));
    painter.setPen(
        QPen(QColor(255, 255, 255, 230), 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(MouseOutline());
    painter.setPen(QPen(QColor(255, 255, 255, 230), 8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(128, 50), QPointF(128, 86));
    painter.drawLine(QPointF(74, 118), QPointF(182, 118));
    painter.setPen(Qt::NoPen);
    painter.setBrush(skin::kAccent);
    painter.drawRoundedRect(QRectF(118, 80, 20, 34), 10, 10);
    // A light strip at the back, the gaming touch.
    painter.setBrush(skin::kAccentBright);
    painter.drawRoundedRect(QRectF(104, 178, 48, 10), 5, 5);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (int size : kIconSizes) icon.addPixmap(DrawAppIcon(size));
    return icon;
}

}  // namespace qvm::ui
