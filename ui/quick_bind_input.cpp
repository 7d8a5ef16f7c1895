#include "ui/quick_bind_input.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "lang/linux_keycodes.h"
#include "lang/ui_strings.h"
#include "ui/qt_text.h"

namespace qvm::ui {

std::optional<int> Set1ScanCodeOfNative(quint32 nativeScanCode) {
    return EvdevToSet1ScanCode(X11KeycodeToEvdev(static_cast<int>(nativeScanCode)));
}

uint32_t BindingMaskOf(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return 0x01;
        case Qt::RightButton:
            return 0x02;
        case Qt::MiddleButton:
            return 0x04;
        case Qt::BackButton:
            return 0x08;
        case Qt::ForwardButton:
            return 0x10;
        default:
            return 0;
    }
}

QuickBindInput::QuickBindInput(QObject* parent) : QObject(parent) {
    timer_.setInterval(QuickBinding::kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        Handle(binding_.Tick());
        if (binding_.Active()) emit prompted(Prompt());
    });
}

QuickBindInput::~QuickBindInput() {
    Stop();
}

Status QuickBindInput::Start(int position, int button) {
    if (Status ok = binding_.Start(button); !ok) return ok;
    position_ = position;
    if (!filtering_) {
        qApp->installEventFilter(this);
        filtering_ = true;
    }
    timer_.start();
    emit prompted(Prompt());
    return {};
}

void QuickBindInput::Cancel() {
    if (binding_.Active()) Handle(binding_.Cancel());
}

void QuickBindInput::SetStopTest(std::function<bool(const QPoint&)> stops) {
    stops_ = std::move(stops);
}

std::optional<int> QuickBindInput::Position() const {
    if (!binding_.Active()) return std::nullopt;
    return position_;
}

QString QuickBindInput::Prompt() const {
    return ToQ(QuickBindingPrompt(Ui(), binding_.SecondsLeft()));
}

void QuickBindInput::Stop() {
    timer_.stop();
    if (filtering_) {
        qApp->removeEventFilter(this);
        filtering_ = false;
    }
}

void QuickBindInput::Handle(const QuickBindingResult& result) {
    if (!result.Ended()) return;
    const int position = position_;
    Stop();
    position_ = -1;
    if (result.kind == QuickBindingResult::Kind::kBound) {
        emit bound(position, result.button, result.slot);
    }
    emit ended();
}

bool QuickBindInput::eventFilter(QObject* watched, QEvent* event) {
    if (!binding_.Active()) return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            // A held key repeats; only its first press and its release count.
            if (!key->isAutoRepeat()) {
                if (auto code = Set1ScanCodeOfNative(key->nativeScanCode())) {
                    Handle(event->type() == QEvent::KeyPress ? binding_.KeyDown(*code)
                                                             : binding_.KeyUp(*code));
                }
            }
            return true;  // keys made while binding never reach the widgets
        }
        case QEvent::ShortcutOverride:
            event->accept();  // no shortcut fires while a key is being bound
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton && stops_ &&
                stops_(mouse->globalPosition().toPoint())) {
                Cancel();
            } else {
                Handle(binding_.MouseButtons(BindingMaskOf(mouse->button())));
            }
            return true;
        }
        case QEvent::MouseButtonRelease:
            return true;
        default:
            return QObject::eventFilter(watched, event);
    }
}

}  // namespace qvm::ui
