#include "ui/profile_tabs.h"

#include <algorithm>

#include <QAccessible>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include "lang/ui_strings.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {

namespace {
constexpr int kTabGap = 6;
constexpr int kStripWidth = 6;
constexpr int kPenSize = 18;
constexpr int kMarkerSize = 18;
constexpr int kNameFont = 3;     // shared font: Tahoma 12
constexpr int kAppFont = 2;      // shared font: Tahoma 10, the bound program's line
constexpr int kColourText = 46;  // button_str: "Colour"
constexpr int kAssignText = 52;  // msg_str: "Assign an executable file to current profile."
constexpr double kCornerRadius = 5.0;

// The pen symbol: a pencil slanted up to the right, its tip at the lower left.
void DrawPen(QPainter& painter, const QRectF& r, const QColor& colour) {
    painter.save();
    painter.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const QPointF tip(r.left() + 3, r.bottom() - 3);
    const QPointF neck = tip + QPointF(3, -3);  // where the point meets the body
    const QPointF end(r.right() - 3, r.top() + 3);
    const QPointF left(-1.8, -1.8);  // half the body's width, across the pencil
    QPolygonF outline;
    outline << tip << neck - left << end - left << end + left << neck + left << tip;
    painter.drawPolyline(outline);
    painter.restore();
}

// The marker of a bound program: a circle with a cross, as a click on it undoes the binding.
void DrawMarker(QPainter& painter, const QRectF& r, const QColor& colour) {
    painter.save();
    painter.setPen(QPen(colour, 1.4, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF circle = r.adjusted(1.5, 1.5, -1.5, -1.5);
    painter.drawEllipse(circle);
    const QRectF cross = r.adjusted(6, 6, -6, -6);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.topRight(), cross.bottomLeft());
    painter.restore();
}
}  // namespace

ProfileTabs::ProfileTabs(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setMouseTracking(false);
    setFocusPolicy(Qt::StrongFocus);
    SetFocused(-1);
}

void ProfileTabs::SetProfiles(std::vector<ProfileTab> profiles, int active) {
    if (profiles.size() > static_cast<std::size_t>(kProfileCount)) profiles.resize(kProfileCount);
    profiles_ = std::move(profiles);
    active_ = active >= 0 && active < Count() ? active : -1;
    // The frame stays on its tab while that tab exists; else it goes to the active one.
    SetFocused(focused_ >= 0 && focused_ < Count() ? focused_ : active_);
    update();
}

void ProfileTabs::SetFocused(int profile) {
    focused_ = Count() == 0 ? -1 : std::clamp(profile, 0, Count() - 1);
    const QString word = ToQ(Ui().profile_str);
    QString name = word;
    if (focused_ >= 0) {
        name = QStringLiteral("%1 %2: %3").arg(word).arg(focused_ + 1).arg(Tab(focused_).name);
        if (focused_ == active_) name += QStringLiteral(", ") + Word(kWordActiveProfile);
    }
    if (name != accessibleName()) {
        setAccessibleName(name);
        QAccessibleEvent changed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
    update();
}

QRect ProfileTabs::TabRect(int profile) const {
    const int width = (this->width() - (kProfileCount - 1) * kTabGap) / kProfileCount;
    return QRect(profile * (width + kTabGap), 0, width, height());
}

QRect ProfileTabs::PenRect(int profile) const {
    const QRect tab = TabRect(profile);
    return QRect(tab.right() - kPenSize - 6, tab.center().y() - kPenSize / 2, kPenSize, kPenSize);
}

QRect ProfileTabs::MarkerRect(int profile) const {
    if (!Bound(profile)) return {};
    const QRect pen = PenRect(profile);
    return QRect(pen.left() - kMarkerSize - 4, pen.top(), kMarkerSize, kMarkerSize);
}

std::optional<int> ProfileTabs::TabAt(const QPoint& point) const {
    for (int p = 0; p < Count(); ++p) {
        if (TabRect(p).contains(point)) return p;
    }
    return std::nullopt;
}

void ProfileTabs::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int p = 0; p < kProfileCount; ++p) {
        const QRectF tab = QRectF(TabRect(p)).adjusted(0.5, 0.5, -0.5, -0.5);
        const bool present = p < Count();
        const bool active = p == active_;
        QPainterPath shape;
        shape.addRoundedRect(tab, kCornerRadius, kCornerRadius);
        painter.fillPath(shape, active ? skin::kPanelRaised : skin::kPanel);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(active ? skin::kAccent : skin::kPanelEdge, active ? 2.0 : 1.0));
        painter.drawPath(shape);
        if (!present) continue;

        const ProfileTab& info = profiles_[static_cast<std::size_t>(p)];
        const QRectF strip(tab.left() + 8, tab.top() + 8, kStripWidth, tab.height() - 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(info.colour);
        painter.drawRoundedRect(strip, 2, 2);

        const bool bound = Bound(p);
        const int textEnd = bound ? MarkerRect(p).left() : PenRect(p).left();
        const QRectF text(strip.right() + 8, tab.top(), textEnd - strip.right() - 12, tab.height());
        const QColor ink = active ? skin::kText : skin::kTextDim;
        painter.setFont(skin::SharedFont(kNameFont));
        painter.setPen(ink);
        const QString name = painter.fontMetrics().elidedText(info.name, Qt::ElideRight,
                                                              static_cast<int>(text.width()));
        if (bound) {
            // Two lines: the profile's name above, the bound program's below in small text.
            const QRectF upper(text.left(), tab.top() + 1, text.width(), tab.height() / 2);
            const QRectF lower(text.left(), upper.bottom(), text.width(), tab.height() / 2 - 2);
            painter.drawText(upper, Qt::AlignBottom | Qt::AlignLeft, name);
            painter.setFont(skin::SharedFont(kAppFont));
            painter.setPen(active ? skin::kAccentBright : skin::kTextDim);
            painter.drawText(lower, Qt::AlignTop | Qt::AlignLeft,
                             painter.fontMetrics().elidedText(info.app, Qt::ElideRight,
                                                              static_cast<int>(text.width())));
            DrawMarker(painter, MarkerRect(p), ink);
        } else {
            painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft, name);
        }
        DrawPen(painter, PenRect(p), ink);
        if (hasFocus() && p == focused_) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(skin::kAccentBright, 1.0, Qt::DashLine));
            painter.drawRoundedRect(tab.adjusted(3, 3, -3, -3), kCornerRadius - 2,
                                    kCornerRadius - 2);
        }
    }
}

void ProfileTabs::keyPressEvent(QKeyEvent* event) {
    if (focused_ < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Left:
            SetFocused(focused_ - 1);
            break;
        case Qt::Key_Right:
            SetFocused(focused_ + 1);
            break;
        case Qt::Key_Home:
            SetFocused(0);
            break;
        case Qt::Key_End:
            SetFocused(Count() - 1);
            break;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (focused_ != active_) emit activateRequested(focused_);
            break;
        case Qt::Key_F2:
            emit renameRequested(focused_);
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void ProfileTabs::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void ProfileTabs::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void ProfileTabs::mousePressEvent(QMouseEvent* event) {
    const auto p = TabAt(event->position().toPoint());
    if (!p || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    SetFocused(*p);
    if (MarkerRect(*p).contains(event->position().toPoint())) {
        emit unbindRequested(*p);
    } else if (PenRect(*p).contains(event->position().toPoint())) {
        emit renameRequested(*p);
    } else if (*p != active_) {
        emit activateRequested(*p);
    }
}

void ProfileTabs::mouseDoubleClickEvent(QMouseEvent* event) {
    const auto p = TabAt(event->position().toPoint());
    if (p && event->button() == Qt::LeftButton &&
        !PenRect(*p).contains(event->position().toPoint()) &&
        !MarkerRect(*p).contains(event->position().toPoint()))
        emit renameRequested(*p);
}

void ProfileTabs::contextMenuEvent(QContextMenuEvent* event) {
    // The menu key opens it at the framed tab, a right click at the tab under the pointer.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        if (focused_ >= 0) OfferMenu(focused_, mapToGlobal(TabRect(focused_).center()));
        return;
    }
    if (const auto p = TabAt(event->pos())) OfferMenu(*p, event->globalPos());
}

void ProfileTabs::OfferMenu(int profile, const QPoint& globalPos) {
    QMenu menu(this);
    QAction* colour = menu.addAction(ToQ(Ui().button_str[kColourText]));
    QAction* bind = menu.addAction(ToQ(Ui().msg_str[kAssignText]));
    QAction* chosen = menu.exec(globalPos);
    if (chosen == colour) emit colourRequested(profile);
    if (chosen == bind) emit bindRequested(profile);
}

bool ProfileTabs::event(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QWidget::event(event);
    const QPoint at = static_cast<QHelpEvent*>(event)->pos();
    const auto p = TabAt(at);
    if (!p || !Bound(*p)) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    const ProfileTab& tab = Tab(*p);
    const QString text = MarkerRect(*p).contains(at) ? Word(kWordUnbindTip, {tab.app.toStdString()})
                                                     : tab.app + QStringLiteral("\n") + tab.appPath;
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, this);
    return true;
}

}  // namespace qvm::ui
