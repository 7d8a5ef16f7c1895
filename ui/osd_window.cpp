#include "ui/osd_window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>

#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

// Layout of the display, in the window's logical pixels.
constexpr int kPadding = 16;
constexpr int kBlockGap = 8;
constexpr int kProfileRowHeight = 36;
constexpr int kSwatchSize = 28;
constexpr int kSwatchGap = 12;
constexpr int kAxisColumn = 22;  // "X" / "Y" before the bars
constexpr int kBarHeight = 8;
constexpr int kValueGap = 12;
constexpr int kValueWidth = 72;
constexpr int kAngleRowHeight = 30;
constexpr int kWidth = 2 * kPadding + kAxisColumn + kOsdBarLength + kValueGap + kValueWidth;
// Centres of the bar rows inside the DPI block: one bar, or X above Y.
constexpr int kSingleBarCentre = kOsdDpiBlockHeight / 2;
constexpr int kXBarCentre = 14;
constexpr int kYBarCentre = 36;
// Shared skin fonts (see skin.h): Tahoma 20, 16, bold 14 and 12.
constexpr int kNameFont = 1;
constexpr int kAngleFont = 0;
constexpr int kValueFont = 8;
constexpr int kSmallFont = 3;
// The display sits centred across the screen, with its centre this far down the screen's
// free area: in the lower third, clear of what the user works on.
constexpr double kCentreHeightShare = 5.0 / 6.0;

int BlockHeights(const OsdContent& content) {
    int height = 0;
    int blocks = 0;
    const auto add = [&](bool present, int h) {
        if (!present) return;
        height += h;
        ++blocks;
    };
    add(content.profile.has_value(), kProfileRowHeight);
    add(content.dpi.has_value(), content.dpi ? content.dpi->height : 0);
    add(!content.angleSnapping.empty(), kAngleRowHeight);
    return height + kBlockGap * std::max(blocks - 1, 0);
}

void DrawProfile(QPainter& painter, const OsdProfileBlock& profile, int top) {
    const QRectF swatch(kPadding, top + (kProfileRowHeight - kSwatchSize) / 2.0, kSwatchSize,
                        kSwatchSize);
    painter.setPen(QPen(skin::kPanelEdge, 1));
    painter.setBrush(QColor(profile.colour.red, profile.colour.green, profile.colour.blue));
    painter.drawRoundedRect(swatch, 4, 4);
    const int nameLeft = kPadding + kSwatchSize + kSwatchGap;
    const QRect nameRect(nameLeft, top, kWidth - kPadding - nameLeft, kProfileRowHeight);
    painter.setFont(skin::SharedFont(kNameFont));
    painter.setPen(skin::kText);
    const QString name =
        painter.fontMetrics().elidedText(ToQ(profile.name), Qt::ElideRight, nameRect.width());
    painter.drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft, name);
}

void DrawBar(QPainter& painter, const OsdDpiBar& bar, const QString& axis, int centre) {
    if (!axis.isEmpty()) {
        painter.setFont(skin::SharedFont(kSmallFont));
        painter.setPen(skin::kTextDim);
        painter.drawText(QRect(kPadding, centre - 10, kAxisColumn, 20), Qt::AlignCenter, axis);
    }
    const int left = kPadding + kAxisColumn;
    const QRectF track(left, centre - kBarHeight / 2.0, kOsdBarLength, kBarHeight);
    painter.setPen(Qt::NoPen);
    painter.setBrush(skin::kPanelRaised);
    painter.drawRoundedRect(track, kBarHeight / 2.0, kBarHeight / 2.0);
    if (bar.length > 0) {
        painter.setBrush(skin::kAccent);
        painter.drawRoundedRect(QRectF(track.topLeft(), QSizeF(bar.length, kBarHeight)),
                                kBarHeight / 2.0, kBarHeight / 2.0);
    }
    painter.setFont(skin::SharedFont(kValueFont));
    painter.setPen(skin::kText);
    painter.drawText(QRect(left + kOsdBarLength + kValueGap, centre - 12, kValueWidth, 24),
                     Qt::AlignVCenter | Qt::AlignLeft, ToQ(bar.text));
}

void DrawDpi(QPainter& painter, const OsdDpiBlock& dpi, int top) {
    if (dpi.y) {
        DrawBar(painter, dpi.x, QStringLiteral("X"), top + kXBarCentre);
        DrawBar(painter, *dpi.y, QStringLiteral("Y"), top + kYBarCentre);
    } else {
        DrawBar(painter, dpi.x, QString(), top + kSingleBarCentre);
    }
    if (!dpi.hint.empty()) {
        painter.setFont(skin::SharedFont(kSmallFont));
        painter.setPen(skin::kTextDim);
        const QRect hint(kPadding, top + kOsdDpiBlockHeight, kWidth - 2 * kPadding,
                         dpi.height - kOsdDpiBlockHeight);
        painter.drawText(hint, Qt::AlignCenter, ToQ(dpi.hint));
    }
}

}  // namespace

OsdWindow::OsdWindow(HostStatus& status, std::function<OsdSource()> source)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput),
      status_(status),
      source_(std::move(source)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus);
    setFocusPolicy(Qt::NoFocus);
    resize(ContentSize());
    timer_.setInterval(kOsdPassMs);
    connect(&timer_, &QTimer::timeout, this, &OsdWindow::RunPass);
}

void OsdWindow::Start(int countdownPasses) {
    fader_.Start(countdownPasses);
    if (fader_.Active() && !timer_.isActive()) timer_.start();
}

void OsdWindow::RunPass() {
    const OsdPass pass = fader_.Pass();
    if (pass.redraw) {
        content_ = BuildOsdContent(status_.Snapshot(), source_ ? source_() : OsdSource{});
        if (!pass.show && size() != ContentSize()) {
            // New content while up: the display grows or shrinks about its centre.
            const QPoint centre = geometry().center();
            QRect placed(QPoint(0, 0), ContentSize());
            placed.moveCenter(centre);
            setGeometry(placed);
        }
    }
    if (pass.show) {
        PlaceOnPointerScreen();
        show();
    }
    if (pass.redraw) update();
    if (pass.hidden) {
        hide();
        status_.ClearChangeFlags();
    }
    if (!fader_.Active()) timer_.stop();
    if (pass.hidden) emit hidden();
}

QSize OsdWindow::ContentSize() const {
    return QSize(kWidth, 2 * kPadding + BlockHeights(content_));
}

void OsdWindow::PlaceOnPointerScreen() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    const QSize size = ContentSize();
    if (screen == nullptr) {
        resize(size);
        return;
    }
    setScreen(screen);
    const QRect area = screen->availableGeometry();
    const int x = area.left() + (area.width() - size.width()) / 2;
    const int centreY = area.top() + static_cast<int>(area.height() * kCentreHeightShare);
    const int y = std::clamp(centreY - size.height() / 2, area.top(),
                             std::max(area.top(), area.bottom() + 1 - size.height()));
    setGeometry(QRect(QPoint(x, y), size));
}

void OsdWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (content_.Empty()) return;
    // The fade is drawn into the pixels: a compositor blends them with what lies below;
    // without one the display fades through black inside its own rectangle.
    painter.setOpacity(static_cast<double>(fader_.Opacity()) / kOsdFullOpacity);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    skin::DrawPanel(painter, QRectF(rect()));

    int top = kPadding;
    if (content_.profile) {
        DrawProfile(painter, *content_.profile, top);
        top += kProfileRowHeight + kBlockGap;
    }
    if (content_.dpi) {
        DrawDpi(painter, *content_.dpi, top);
        top += content_.dpi->height + kBlockGap;
    }
    if (!content_.angleSnapping.empty()) {
        painter.setFont(skin::SharedFont(kAngleFont));
        painter.setPen(skin::kText);
        painter.drawText(QRect(kPadding, top, kWidth - 2 * kPadding, kAngleRowHeight),
                         Qt::AlignCenter, ToQ(content_.angleSnapping));
    }
}

}  // namespace qvm::ui
