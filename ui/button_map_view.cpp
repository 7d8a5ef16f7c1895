// The button page's picture: drawn mouse, leader lines, rounded labels, quick-binding
// symbols, the binding banner and the drop target of dragged functions.
#include "ui/button_map_view.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVariant>
#include <algorithm>
#include <functional>
#include <utility>

#include "lang/ui_strings.h"
#include "present/button_geometry.h"
#include "ui/function_drag.h"
#include "ui/mouse_art.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

// Window regions of the button page (1024 x 600 main window).
const QRectF kMouseArea(344, 112, 336, 436);
// Over the back of the mouse, between the label columns, so neither the label being
// bound nor its button is hidden.
const QRectF kBindingBanner(344, 424, 336, 120);
constexpr QSize kCancelSize(96, 28);
constexpr int kBannerPadding = 10;
constexpr qreal kAnchorHitRadius = 9;  // a click this close to a button's dot hits it
// msg_str entry under the binding prompt, and button_str "Cancel".
constexpr std::size_t kStopBindingMsg = 69;
constexpr std::size_t kCancelText = 8;
constexpr int kSymbolInset = 4;  // the key symbol's square keeps this from the label edge
constexpr qreal kAnchorDot = 3.5;
constexpr double kSoleLeftClickOpacity = 0.5;
// The drag hover target lives in a dynamic property, so the view's declared state stays
// what its header shows.
constexpr const char* kDropHoverProperty = "qvmDropHover";

// Passes the events the view has no handler of its own for (drag leave, tool tips) to
// a function of the view. Owned by the view as its child.
class ExtraEvents : public QObject {
  public:
    ExtraEvents(QObject* parent, std::function<bool(QEvent*)> handler)
        : QObject(parent), handler_(std::move(handler)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && handler_(event)) return true;
        return QObject::eventFilter(watched, event);
    }

  private:
    std::function<bool(QEvent*)> handler_;
};

std::optional<int> DropHover(const QWidget& view) {
    const QVariant value = view.property(kDropHoverProperty);
    if (!value.isValid() || value.toInt() < 0) return std::nullopt;
    return value.toInt();
}

bool IsSoleLeftClick(const std::vector<ButtonLabel>& labels, int position) {
    return std::any_of(labels.begin(), labels.end(), [position](const ButtonLabel& label) {
        return label.position == position && label.soleLeftClick;
    });
}

}  // namespace

ButtonMapView::ButtonMapView(QWidget* parent) : QWidget(parent) {
    setAcceptDrops(true);
    setMouseTracking(false);
    setProperty(kDropHoverProperty, -1);
    auto* extra = new ExtraEvents(this, [this](QEvent* event) {
        if (event->type() == QEvent::DragLeave) {
            setProperty(kDropHoverProperty, -1);
            update();
            return false;
        }
        if (event->type() != QEvent::ToolTip) return false;
        auto* help = static_cast<QHelpEvent*>(event);
        const std::optional<int> position = PositionAt(help->pos());
        QString text;
        if (position) {
            for (const ButtonLabel& label : labels_) {
                if (label.position == *position) {
                    text = label.toolTip.isEmpty() ? label.text : label.toolTip;
                }
            }
        }
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this, LabelRect(*position));
        }
        return true;
    });
    installEventFilter(extra);
}

void ButtonMapView::SetLayout(std::optional<ModelLayout> layout) {
    layout_ = std::move(layout);
    update();
}

void ButtonMapView::SetLabels(std::vector<ButtonLabel> labels) {
    labels_ = std::move(labels);
    update();
}

void ButtonMapView::SetSelected(std::optional<int> position) {
    selected_ = position;
    update();
}

void ButtonMapView::SetBinding(std::optional<int> position, const QString& prompt,
                               const QString& note) {
    binding_ = position;
    bindingPrompt_ = prompt;
    bindingNote_ = note;
    update();
}

void ButtonMapView::SetNoDeviceText(const QString& text) {
    noDeviceText_ = text;
    update();
}

QRectF ButtonMapView::HotspotInView(int position) const {
    if (!layout_ || position < 0 || position >= kLayoutPositions) return {};
    const Hotspot& h = ButtonHotspots(layout_->LayoutIndex)[static_cast<size_t>(position)];
    if (h.w <= 0 || h.h <= 0) return {};
    const QPoint offset = window() == this ? QPoint() : mapTo(window(), QPoint());
    return QRectF(h.x - offset.x(), h.y - offset.y(), h.w, h.h);
}

QRect ButtonMapView::LabelRect(int position) const {
    if (!layout_ || position < 0 || position >= std::min(layout_->ButtonCount, kLayoutPositions)) {
        return {};
    }
    return HotspotInView(position).toRect();
}

QRect ButtonMapView::QuickBindRect(int position) const {
    const QRect label = LabelRect(position);
    if (label.isNull()) return {};
    if (IsSoleLeftClick(labels_, position)) return {};
    const int side = label.height() - 2 * kSymbolInset;
    return QRect(label.right() - kSymbolInset - side + 1, label.top() + kSymbolInset, side, side);
}

QRect ButtonMapView::BindingCancelRect() const {
    if (!binding_ || !layout_) return {};
    const QPoint offset = window() == this ? QPoint() : mapTo(window(), QPoint());
    const QRect banner = kBindingBanner.translated(-offset).toRect();
    return QRect(QPoint(banner.right() - kBannerPadding - kCancelSize.width() + 1,
                        banner.bottom() - kBannerPadding - kCancelSize.height() + 1),
                 kCancelSize);
}

bool ButtonMapView::StopsBinding(const QPoint& point) const {
    if (!binding_) return false;
    return BindingCancelRect().contains(point) || QuickBindRect(*binding_).contains(point);
}

QRectF ButtonMapView::MouseAreaInView() const {
    const QPoint offset = window() == this ? QPoint() : mapTo(window(), QPoint());
    return kMouseArea.translated(-offset);
}

QPoint ButtonMapView::AnchorPoint(int position) const {
    if (LabelRect(position).isNull()) return {};
    return ButtonAnchor(layout_->LayoutIndex, position, MouseAreaInView()).toPoint();
}

std::optional<int> ButtonMapView::AnchorAt(const QPoint& point) const {
    if (!layout_) return std::nullopt;
    const QRectF mouseArea = MouseAreaInView();
    std::optional<int> nearest;
    qreal best = kAnchorHitRadius * kAnchorHitRadius;
    const int count = std::min(layout_->ButtonCount, kLayoutPositions);
    for (int position = 0; position < count; ++position) {
        if (LabelRect(position).isNull()) continue;
        const QPointF d = ButtonAnchor(layout_->LayoutIndex, position, mouseArea) - point;
        const qreal distance = d.x() * d.x() + d.y() * d.y();
        if (distance <= best) {
            best = distance;
            nearest = position;
        }
    }
    return nearest;
}

std::optional<int> ButtonMapView::PositionAt(const QPoint& point) const {
    if (!layout_) return std::nullopt;
    const int count = std::min(layout_->ButtonCount, kLayoutPositions);
    for (int position = 0; position < count; ++position) {
        if (LabelRect(position).contains(point)) return position;
    }
    return std::nullopt;
}

void ButtonMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (isWindow()) skin::DrawBackground(painter, rect());
    const QRectF mouseArea = MouseAreaInView();

    if (!layout_) {
        const QString text = noDeviceText_.isEmpty() ? ToQ(Ui().msg_str[10]) : noDeviceText_;
        painter.setFont(skin::SharedFont(1));
        painter.setPen(skin::kTextDim);
        painter.drawText(mouseArea, Qt::AlignCenter | Qt::TextWordWrap, text);
        return;
    }

    const std::optional<int> hover = DropHover(*this);
    const int lit = hover ? *hover : (binding_ ? *binding_ : selected_.value_or(-1));
    DrawMouse(painter, layout_->LayoutIndex, mouseArea, lit);

    auto labelOf = [this](int position) -> const ButtonLabel* {
        for (const ButtonLabel& label : labels_) {
            if (label.position == position) return &label;
        }
        return nullptr;
    };

    auto drawPosition = [&](int position) {
        const QRect box = LabelRect(position);
        if (box.isNull()) return;
        const ButtonLabel* label = labelOf(position);
        const bool sole = label != nullptr && label->soleLeftClick;
        const bool highlighted = position == lit;
        const QPointF anchor = ButtonAnchor(layout_->LayoutIndex, position, mouseArea);

        painter.save();
        if (sole) painter.setOpacity(kSoleLeftClickOpacity);
        const QColor lineColour = highlighted ? skin::kAccent : QColor(110, 116, 130, 200);
        painter.setPen(
            QPen(lineColour, highlighted ? 1.6 : 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        const std::vector<QPointF> leader = LeaderPath(box, anchor);
        painter.drawPolyline(leader.data(), static_cast<int>(leader.size()));
        painter.setBrush(highlighted ? skin::kAccent : skin::kText);
        painter.setPen(QPen(QColor(0, 0, 0, 160), 1));
        painter.drawEllipse(anchor, kAnchorDot, kAnchorDot);

        const QString text = label != nullptr ? label->text : QString();
        const QRect symbol =
            sole ? QRect(box.right() - kSymbolInset - (box.height() - 2 * kSymbolInset) + 1,
                         box.top() + kSymbolInset, box.height() - 2 * kSymbolInset,
                         box.height() - 2 * kSymbolInset)
                 : QuickBindRect(position);
        skin::DrawRoundedLabel(painter, box, text, highlighted, symbol.width() + kSymbolInset);
        const QColor symbolColour = highlighted ? skin::kLabelDark : skin::kTextDim;
        if (sole) {
            skin::DrawLockSymbol(painter, symbol, symbolColour);
        } else {
            skin::DrawKeySymbol(painter, symbol, symbolColour);
        }
        painter.restore();
    };

    const int count = std::min(layout_->ButtonCount, kLayoutPositions);
    for (int position = 0; position < count; ++position) {
        if (position != lit) drawPosition(position);
    }
    // The lit one last, so its leader line lies over the others.
    if (lit >= 0 && lit < count && !binding_) drawPosition(lit);

    if (binding_) {
        painter.fillRect(rect(), QColor(0, 0, 0, 150));
        drawPosition(*binding_);
        DrawBanner(painter);
    }
}

// The binding banner: key symbol, the countdown prompt, how to stop, and the cancel
// control at its lower right.
void ButtonMapView::DrawBanner(QPainter& painter) const {
    const QPoint offset = window() == this ? QPoint() : mapTo(window(), QPoint());
    const QRectF banner = kBindingBanner.translated(-offset);
    skin::DrawPanel(painter, banner);
    painter.setPen(QPen(skin::kAccent, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(banner.adjusted(1, 1, -1, -1), 8, 8);
    skin::DrawKeySymbol(painter, QRectF(banner.left() + 14, banner.top() + 14, 32, 32),
                        skin::kAccent);
    const QRect cancel = BindingCancelRect();
    painter.setPen(skin::kText);
    painter.setFont(skin::SharedFont(4));
    const QRectF prompt(banner.left() + 60, banner.top() + kBannerPadding,
                        banner.width() - 60 - kBannerPadding, 44);
    painter.drawText(prompt, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, bindingPrompt_);
    painter.setFont(skin::SharedFont(3));
    const QRectF hint(banner.left() + kBannerPadding, prompt.bottom() + 4,
                      cancel.left() - banner.left() - 2 * kBannerPadding,
                      banner.bottom() - prompt.bottom() - 4 - kBannerPadding);
    painter.drawText(hint, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap,
                     bindingNote_.isEmpty() ? ToQ(Ui().msg_str[kStopBindingMsg]) : bindingNote_);
    skin::DrawRoundedLabel(painter, cancel, ToQ(Ui().button_str[kCancelText]), false);
}

void ButtonMapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint point = event->position().toPoint();
    const std::optional<int> position = PositionAt(point);
    if (!position) {
        // The dot on the drawn mouse stands for the button as its label does.
        if (const std::optional<int> anchor = AnchorAt(point)) {
            event->accept();
            emit buttonClicked(*anchor);
            return;
        }
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    if (QuickBindRect(*position).contains(point)) {
        emit quickBindClicked(*position);
    } else {
        emit buttonClicked(*position);
    }
}

void ButtonMapView::contextMenuEvent(QContextMenuEvent* event) {
    std::optional<int> position = PositionAt(event->pos());
    if (!position) position = AnchorAt(event->pos());
    if (!position && event->reason() == QContextMenuEvent::Keyboard) position = selected_;
    if (!position) {
        event->ignore();
        return;
    }
    event->accept();
    emit menuRequested(*position, event->globalPos());
}

void ButtonMapView::dragEnterEvent(QDragEnterEvent* event) {
    if (layout_ && ReadFunctionMime(event->mimeData())) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ButtonMapView::dragMoveEvent(QDragMoveEvent* event) {
    const QPoint point = event->position().toPoint();
    const std::optional<int> under = PositionAt(point);
    const int hover = under && !IsSoleLeftClick(labels_, *under) ? *under : -1;
    if (property(kDropHoverProperty).toInt() != hover) {
        setProperty(kDropHoverProperty, hover);
        update();
    }
    if (hover >= 0) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ButtonMapView::dropEvent(QDropEvent* event) {
    setProperty(kDropHoverProperty, -1);
    update();
    const std::optional<int> position = PositionAt(event->position().toPoint());
    const std::optional<DraggedFunction> function = ReadFunctionMime(event->mimeData());
    if (!position || !function) {
        event->ignore();
        return;
    }
    if (IsSoleLeftClick(labels_, *position)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit functionDropped(*position, function->slot, function->name);
}

}  // namespace qvm::ui
