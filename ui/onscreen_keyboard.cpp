#include "ui/onscreen_keyboard.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {
namespace {

// HID usages of the eight modifier keys: left Ctrl, Shift, Alt, Win, then the right ones,
// in the order of the modifier byte's bits.
constexpr int kFirstModifierUsage = 0xE0;
constexpr int kLastModifierUsage = 0xE7;
constexpr int kKeyFont = 3;  // Tahoma 12
// Key labels at the layout's own scale, in pixels.
constexpr double kLabelPixels = 12.0;
constexpr double kSmallLabelPixels = 10.0;
constexpr double kCornerRadius = 4.0;
constexpr int kMinimumLabelPixels = 6;
// Below this share of the layout's size the labels can no longer be read.
constexpr double kMinimumScale = 0.5;

}  // namespace

uint8_t ModifierBitOfUsage(int usage) {
    if (usage < kFirstModifierUsage || usage > kLastModifierUsage) return 0;
    return static_cast<uint8_t>(1u << (usage - kFirstModifierUsage));
}

OnscreenKeyboard::OnscreenKeyboard(KeyboardLayout layout, QWidget* parent)
    : QWidget(parent), layout_(std::move(layout)) {
    int right = 0;
    int bottom = 0;
    for (const KeyboardKey& key : layout_.keys) {
        right = std::max(right, key.x + key.width);
        bottom = std::max(bottom, key.y + key.height);
    }
    // The layout's origin is its margin inside the panel; the same margin closes it off
    // on the right and at the bottom.
    extent_ = QSize(right + 2 * layout_.originX, bottom + 2 * layout_.originY);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize OnscreenKeyboard::sizeHint() const {
    return extent_;
}

QSize OnscreenKeyboard::minimumSizeHint() const {
    return extent_ * kMinimumScale;
}

void OnscreenKeyboard::ClearLatches() {
    latched_ = 0;
    update();
}

void OnscreenKeyboard::SetHighlight(uint8_t modifiers, int usage) {
    highlightModifiers_ = modifiers;
    highlightUsage_ = usage;
    update();
}

double OnscreenKeyboard::Scale() const {
    if (extent_.isEmpty()) return 1.0;
    return std::min(static_cast<double>(width()) / extent_.width(),
                    static_cast<double>(height()) / extent_.height());
}

QRect OnscreenKeyboard::KeyRectOnWidget(std::size_t index) const {
    const KeyRect& r = layout_.keys.at(index).rect;
    const double scale = Scale();
    // The panel is centred in the widget.
    const double left = (width() - extent_.width() * scale) / 2.0;
    const double top = (height() - extent_.height() * scale) / 2.0;
    const QPointF topLeft(left + r.left * scale, top + r.top * scale);
    const QPointF bottomRight(left + r.right * scale, top + r.bottom * scale);
    return QRectF(topLeft, bottomRight).toRect();
}

std::optional<std::size_t> OnscreenKeyboard::KeyAt(QPoint point) const {
    for (std::size_t i = 0; i < layout_.keys.size(); ++i) {
        if (KeyRectOnWidget(i).contains(point)) return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> OnscreenKeyboard::FindUsage(int usage) const {
    for (std::size_t i = 0; i < layout_.keys.size(); ++i) {
        const KeyboardKey& key = layout_.keys[i];
        if (key.consumerUsage == 0 && key.usage == usage) return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> OnscreenKeyboard::FindConsumerUsage(int usage) const {
    for (std::size_t i = 0; i < layout_.keys.size(); ++i) {
        if (layout_.keys[i].consumerUsage == usage) return i;
    }
    return std::nullopt;
}

void OnscreenKeyboard::ClickKey(std::size_t index) {
    const KeyboardKey& key = layout_.keys.at(index);
    if (key.consumerUsage != 0) {
        emit consumerKey(key.consumerUsage);
        return;
    }
    if (const uint8_t bit = ModifierBitOfUsage(key.usage); bit != 0) {
        latched_ ^= bit;
        update();
        emit modifiersLatched(latched_);
        return;
    }
    if (key.usage == 0) return;  // a key the file gives no usage for sends nothing
    const uint8_t modifiers = latched_;
    latched_ = 0;
    update();
    emit keyCombination(modifiers, key.usage);
}

bool OnscreenKeyboard::Highlighted(const KeyboardKey& key) const {
    if (key.consumerUsage != 0) return false;
    if (const uint8_t bit = ModifierBitOfUsage(key.usage); bit != 0)
        return ((latched_ | highlightModifiers_) & bit) != 0;
    return key.usage != 0 && key.usage == highlightUsage_;
}

void OnscreenKeyboard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = Scale();
    const double left = (width() - extent_.width() * scale) / 2.0;
    const double top = (height() - extent_.height() * scale) / 2.0;
    skin::DrawPanel(painter, QRectF(left, top, extent_.width() * scale, extent_.height() * scale));

    QFont font = skin::SharedFont(kKeyFont);
    for (std::size_t i = 0; i < layout_.keys.size(); ++i) {
        const KeyboardKey& key = layout_.keys[i];
        const QRectF box = KeyRectOnWidget(i);
        const bool lit = Highlighted(key);
        QPainterPath path;
        path.addRoundedRect(box, kCornerRadius * scale, kCornerRadius * scale);
        painter.fillPath(path, lit ? skin::kAccent : skin::kPanelRaised);
        painter.setPen(QPen(lit ? skin::kAccentBright : skin::kPanelEdge, 1.0));
        painter.drawPath(path);

        const double pixels = (key.smallFont != 0 ? kSmallLabelPixels : kLabelPixels) * scale;
        font.setPixelSize(std::max(kMinimumLabelPixels, static_cast<int>(pixels)));
        painter.setFont(font);
        painter.setPen(lit ? skin::kLabelDark : skin::kText);
        painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, ToQ(key.name));
    }
}

void OnscreenKeyboard::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (const auto index = KeyAt(event->position().toPoint())) ClickKey(*index);
    event->accept();
}

}  // namespace qvm::ui
