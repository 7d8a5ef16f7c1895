#include "ui/keyboard_access.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <optional>
#include <vector>

#include "ui/button_map_view.h"
#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {

namespace {

constexpr const char* kAppliedProperty = "qvmKeyboardAccess";
constexpr int kFrameMargin = 2;

// The dashed frame over the label the keyboard is on; draws only, takes no input.
class LabelFocusFrame : public QWidget {
  public:
    explicit LabelFocusFrame(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(QPen(skin::kAccentBright, 2.0, Qt::DashLine));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    }
};

// Walks the labels of one ButtonMapView from the keyboard. A child of the view.
class LabelKeyboard : public QObject {
  public:
    explicit LabelKeyboard(ButtonMapView& view)
        : QObject(&view), view_(&view), frame_(new LabelFocusFrame(&view)) {
        view.setFocusPolicy(Qt::StrongFocus);
        view.setAccessibleDescription(Word(kWordButtonLabelsKeys));
        view.installEventFilter(this);
        Rename();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != view_) return false;
        switch (event->type()) {
            case QEvent::FocusIn:
                if (!current_ || !Exists(*current_)) current_ = First();
                Show();
                return false;
            case QEvent::FocusOut:
                frame_->hide();
                return false;
            case QEvent::Paint:
                // The labels may have changed (another device, a refresh).
                if (current_ && !Exists(*current_)) current_ = First();
                if (view_->hasFocus()) Show();
                return false;
            case QEvent::KeyPress:
                return Key(*static_cast<QKeyEvent*>(event));
            default:
                return false;
        }
    }

  private:
    std::vector<int> Positions() const {
        std::vector<int> out;
        for (const ButtonLabel& label : view_->Labels()) {
            if (!view_->LabelRect(label.position).isNull()) out.push_back(label.position);
        }
        return out;
    }
    bool Exists(int position) const {
        for (int p : Positions()) {
            if (p == position) return true;
        }
        return false;
    }
    std::optional<int> First() const {
        const std::vector<int> all = Positions();
        if (all.empty()) return std::nullopt;
        return all.front();
    }
    void Step(int by) {
        const std::vector<int> all = Positions();
        if (all.empty()) return;
        int index = 0;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (current_ && all[i] == *current_) index = static_cast<int>(i);
        }
        const int count = static_cast<int>(all.size());
        index = std::clamp(index + by, 0, count - 1);
        current_ = all[static_cast<std::size_t>(index)];
        Show();
    }
    bool Key(QKeyEvent& key) {
        const bool control = key.modifiers().testFlag(Qt::ControlModifier);
        switch (key.key()) {
            case Qt::Key_Left:
            case Qt::Key_Up:
                Step(-1);
                return true;
            case Qt::Key_Right:
            case Qt::Key_Down:
                Step(1);
                return true;
            case Qt::Key_Home:
                Step(-kLayoutPositions);
                return true;
            case Qt::Key_End:
                Step(kLayoutPositions);
                return true;
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                if (!current_) return false;
                emit view_->buttonClicked(*current_);
                return true;
            case Qt::Key_B:
                if (!control || !current_ || view_->QuickBindRect(*current_).isNull()) return false;
                emit view_->quickBindClicked(*current_);
                return true;
            default:
                return false;
        }
    }
    void Show() {
        if (!current_) {
            frame_->hide();
            Rename();
            return;
        }
        const QRect label = view_->LabelRect(*current_);
        frame_->setGeometry(
            label.adjusted(-kFrameMargin, -kFrameMargin, kFrameMargin, kFrameMargin));
        frame_->show();
        frame_->raise();
        Rename();
    }
    void Rename() {
        QString name = Word(kWordButtonLabels);
        if (current_) {
            for (const ButtonLabel& label : view_->Labels()) {
                if (label.position == *current_) name += ": " + label.text;
            }
        }
        if (name == view_->accessibleName()) return;
        view_->setAccessibleName(name);
        QAccessibleEvent changed(view_, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }

    QPointer<ButtonMapView> view_;
    LabelFocusFrame* frame_;  // a child of the view
    std::optional<int> current_;
};

QString AccessibleNameOf(QWidget& widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&widget);
    return face != nullptr ? face->text(QAccessible::Name) : widget.accessibleName();
}

// The label that names `widget` as its buddy, in the same window.
QString BuddyText(const QWidget& widget) {
    const QWidget* window = widget.window();
    if (window == nullptr) return {};
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (label->buddy() == &widget) return label->text().remove('&');
    }
    return {};
}

void NameIfUnnamed(QWidget& widget) {
    if (!AccessibleNameOf(widget).trimmed().isEmpty()) return;
    QString name = widget.toolTip();
    if (name.isEmpty()) name = BuddyText(widget);
    if (!name.isEmpty()) widget.setAccessibleName(name);
}

// Of an exclusive group (page tabs, radio buttons) Tab reaches the checked button and the
// arrow keys the others. Qt settles that only when a button of the group takes the focus,
// so a button checked by the program (a page shown from the tray, a stage set by the
// device) would leave the group out of the Tab order: here the checked one joins it.
void FollowExclusiveGroup(QAbstractButton& button) {
    if (!button.isCheckable()) return;
    const auto joinWhenChecked = [target = &button](bool checked) {
        if (checked && !(target->focusPolicy() & Qt::TabFocus)) {
            target->setFocusPolicy(Qt::FocusPolicy(target->focusPolicy() | Qt::TabFocus));
        }
    };
    QObject::connect(&button, &QAbstractButton::toggled, &button, joinWhenChecked);
    joinWhenChecked(button.isChecked());
}

class KeyboardAccessFilter : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Polish || event->type() == QEvent::Show) {
            if (auto* widget = qobject_cast<QWidget*>(watched)) MakeKeyboardReachable(*widget);
        }
        return false;
    }
};

}  // namespace

bool IsControl(const QWidget& widget) {
    if (qobject_cast<const QAbstractItemView*>(&widget) != nullptr) return true;
    if (qobject_cast<const QAbstractButton*>(&widget) != nullptr) return true;
    if (qobject_cast<const QAbstractSlider*>(&widget) != nullptr) {
        // A scroll bar goes with its view, which has the focus.
        return widget.inherits("QSlider") || widget.inherits("QDial");
    }
    if (qobject_cast<const QComboBox*>(&widget) != nullptr) return true;
    if (qobject_cast<const QAbstractSpinBox*>(&widget) != nullptr) return true;
    if (const auto* edit = qobject_cast<const QLineEdit*>(&widget)) {
        // The line edit inside a spin box or a combo box is reached through it.
        return qobject_cast<const QAbstractSpinBox*>(edit->parentWidget()) == nullptr &&
               qobject_cast<const QComboBox*>(edit->parentWidget()) == nullptr;
    }
    return qobject_cast<const ButtonMapView*>(&widget) != nullptr;
}

void MakeKeyboardReachable(QWidget& widget) {
    if (!IsControl(widget)) return;
    if (!widget.property(kAppliedProperty).toBool()) {
        widget.setProperty(kAppliedProperty, true);
        if (!(widget.focusPolicy() & Qt::TabFocus)) widget.setFocusPolicy(Qt::StrongFocus);
        if (auto* view = qobject_cast<ButtonMapView*>(&widget)) new LabelKeyboard(*view);
        if (auto* button = qobject_cast<QAbstractButton*>(&widget)) FollowExclusiveGroup(*button);
    }
    // Again at every show: a tool tip or a title may have come since.
    NameIfUnnamed(widget);
}

void InstallKeyboardAccess(QApplication& app) {
    if (app.property(kAppliedProperty).toBool()) return;
    app.setProperty(kAppliedProperty, true);
    app.installEventFilter(new KeyboardAccessFilter(&app));
    for (QWidget* widget : QApplication::allWidgets()) MakeKeyboardReachable(*widget);
}

}  // namespace qvm::ui
