#include "ui/input_source.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qvm::ui {

namespace {

// X button numbers of the buttons Qt reports.
constexpr int kXButtonLeft = 1;
constexpr int kXButtonMiddle = 2;
constexpr int kXButtonRight = 3;
constexpr int kXWheelForward = 4;
constexpr int kXWheelBack = 5;
constexpr int kXButtonBack = 8;
constexpr int kXButtonForward = 9;

constexpr int kWheelNotch = 120;  // Qt's angle delta of one wheel notch

int XButtonOf(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return kXButtonLeft;
        case Qt::MiddleButton:
            return kXButtonMiddle;
        case Qt::RightButton:
            return kXButtonRight;
        case Qt::BackButton:
            return kXButtonBack;
        case Qt::ForwardButton:
            return kXButtonForward;
        default:
            return 0;
    }
}

bool IsKeyEvent(QEvent::Type type) {
    return type == QEvent::KeyPress || type == QEvent::KeyRelease ||
           type == QEvent::ShortcutOverride;
}

bool IsMouseEvent(QEvent::Type type) {
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
           type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove ||
           type == QEvent::Wheel;
}

QString PlatformReason(const QString& platform) {
    if (platform == QLatin1String("wayland")) {
        return QStringLiteral(
            "on Wayland the desktop does not let a program see input made in other "
            "programs' windows");
    }
    return QStringLiteral("the '%1' display platform gives no input from other windows")
        .arg(platform);
}

// True when a mouse event is meant for one of the lease's mouse-free widgets. Qt shows the
// event to the window before the widget: there the widget is found by position.
bool ForMouseFreeWidget(const LeaseOptions& options, QObject* watched, QEvent* event) {
    if (options.mouseFree.empty()) return false;
    QWidget* target = qobject_cast<QWidget*>(watched);
    if (target == nullptr) {
        const auto* pointer = static_cast<const QSinglePointEvent*>(event);
        target = QApplication::widgetAt(pointer->globalPosition().toPoint());
    }
    if (target == nullptr) return false;
    return std::any_of(options.mouseFree.begin(), options.mouseFree.end(),
                       [target](const QPointer<QWidget>& free) {
                           return free && (free == target || free->isAncestorOf(target));
                       });
}

}  // namespace

QPoint GlobalToScreenPixels(const QPoint& global) {
    const QScreen* screen = QGuiApplication::screenAt(global);
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return global;
    const QPoint origin = screen->geometry().topLeft();
    return origin + (QPointF(global - origin) * screen->devicePixelRatio()).toPoint();
}

QPoint ScreenPixelsToGlobal(const QPoint& pixels) {
    const QScreen* found = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        const QRect inPixels(geometry.topLeft(), geometry.size() * screen->devicePixelRatio());
        if (inPixels.contains(pixels)) {
            found = screen;
            break;
        }
    }
    if (found == nullptr) return pixels;
    const QPoint origin = found->geometry().topLeft();
    return origin + (QPointF(pixels - origin) / found->devicePixelRatio()).toPoint();
}

// ---------------------------------------------------------------------------------------
// InputLease

InputLease::InputLease(InputSource& source, LeaseOptions options, QWidget* grabWidget)
    : source_(&source), options_(options), grabWidget_(grabWidget) {}

InputLease::~InputLease() {
    if (source_) source_->Drop(this);
}

Status InputLease::SetKeyboardGrab(bool on) {
    if (!on) {
        regrab_ = false;
        if (grabbed_ && source_) source_->ReleaseGrab(*this);
        grabbed_ = false;
        return {};
    }
    if (grabbed_) return {};
    if (!source_) return MakeError(ErrorKind::Other, "the input source has closed");
    if (source_->Current() != this) {
        return MakeError(ErrorKind::DeviceBusy,
                         "the keyboard is taken by another part of the program");
    }
    if (Status ok = source_->TakeGrab(*this); !ok) return ok;
    grabbed_ = true;
    return {};
}

bool InputLease::KeyboardGrabbed() const {
    return grabbed_;
}

bool InputLease::WholeDesktop() const {
    return source_ && source_->WholeDesktop();
}

// ---------------------------------------------------------------------------------------
// InputSource

InputSource::InputSource(std::unique_ptr<DesktopInput> desktop, QString why, QObject* parent)
    : QObject(parent), desktop_(std::move(desktop)), why_(std::move(why)) {
    if (desktop_ && desktop_->Fd() < 0) {
        why_ = QStringLiteral("the desktop input source has no descriptor to wait on");
        desktop_.reset();
    }
    if (desktop_) {
        notifier_ = std::make_unique<QSocketNotifier>(desktop_->Fd(), QSocketNotifier::Read);
        notifier_->setEnabled(false);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &InputSource::ReadDesktop);
    }
}

std::unique_ptr<InputSource> InputSource::Open(QObject* parent) {
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb")) {
        return std::make_unique<InputSource>(nullptr, PlatformReason(platform), parent);
    }
    auto desktop = OpenDesktopInput(qEnvironmentVariable("DISPLAY").toStdString());
    if (!desktop) {
        return std::make_unique<InputSource>(nullptr, QString::fromStdString(desktop.message()),
                                             parent);
    }
    return std::make_unique<InputSource>(std::move(*desktop), QString(), parent);
}

InputSource::~InputSource() {
    // Leases that outlive the source go quiet; a grab one of them holds ends here.
    for (const QPointer<InputLease>& lease : leases_) {
        if (!lease) continue;
        if (lease->grabbed_) ReleaseGrab(*lease);
        lease->grabbed_ = false;
        lease->regrab_ = false;
        lease->source_ = nullptr;
    }
    leases_.clear();
    StopListening();
}

QString InputSource::FallbackNotice() {
    if (WholeDesktop() || noticeGiven_) return {};
    noticeGiven_ = true;
    return QStringLiteral(
               "Only keys and clicks made in this program's windows are recorded and bound: "
               "%1.")
        .arg(why_);
}

std::unique_ptr<InputLease> InputSource::Take(const LeaseOptions& options, QWidget* grabWidget) {
    if (InputLease* previous = Current()) {
        // The older holder goes quiet; its grab comes back when the new lease is dropped.
        if (previous->grabbed_) {
            ReleaseGrab(*previous);
            previous->grabbed_ = false;
            previous->regrab_ = true;
        }
    }
    const QPointer<InputLease> quieted(Current());
    std::unique_ptr<InputLease> lease(new InputLease(*this, options, grabWidget));
    leases_.emplace_back(lease.get());
    StartListening();
    if (options.grabKeyboard) {
        // Best effort: a caller that must know asks SetKeyboardGrab itself.
        if (Status grabbed = lease->SetKeyboardGrab(true); !grabbed) {
            std::fprintf(stderr, "qvm-gaming: %s\n", grabbed.message().c_str());
        }
    }
    if (quieted) emit quieted->silenced();
    return lease;
}

std::optional<QPoint> InputSource::PointerPosition() const {
    if (!desktop_) return QCursor::pos();
    const std::optional<DesktopPoint> at = desktop_->PointerPosition();
    if (!at) return std::nullopt;
    return ScreenPixelsToGlobal(QPoint(at->x, at->y));
}

InputLease* InputSource::Current() const {
    for (auto it = leases_.rbegin(); it != leases_.rend(); ++it) {
        if (*it) return it->data();
    }
    return nullptr;
}

void InputSource::Drop(InputLease* lease) {
    const bool wasCurrent = Current() == lease;
    if (lease->grabbed_) ReleaseGrab(*lease);
    lease->grabbed_ = false;
    leases_.erase(std::remove_if(leases_.begin(), leases_.end(),
                                 [lease](const QPointer<InputLease>& held) {
                                     return !held || held.data() == lease;
                                 }),
                  leases_.end());
    InputLease* next = Current();
    if (!next) {
        StopListening();
        return;
    }
    if (wasCurrent && next->regrab_) {
        next->regrab_ = false;
        if (Status grabbed = next->SetKeyboardGrab(true); !grabbed) {
            std::fprintf(stderr, "qvm-gaming: %s\n", grabbed.message().c_str());
        }
    }
}

void InputSource::StartListening() {
    if (!filtering_) {
        // Without the desktop source the program's own events are the input; with it they
        // are only swallowed as the lease asks (the raw events report them).
        qApp->installEventFilter(this);
        filtering_ = true;
    }
    if (desktop_ && !desktop_->Listening()) {
        if (Status on = desktop_->Listen(true); !on) {
            // The display refused: the program's own windows are still seen.
            why_ = QString::fromStdString(on.message());
            notifier_.reset();
            desktop_.reset();
            return;
        }
        notifier_->setEnabled(true);
    }
}

void InputSource::StopListening() {
    if (filtering_ && qApp) {
        qApp->removeEventFilter(this);
    }
    filtering_ = false;
    wheelRest_ = 0;
    lastDelivery_ = {};
    lastReceiver_ = nullptr;
    if (desktop_ && desktop_->Listening()) {
        notifier_->setEnabled(false);
        (void)desktop_->Listen(false);  // stopping cannot leave anything selected that matters
    }
}

Status InputSource::TakeGrab(InputLease& lease) {
    if (desktop_) return desktop_->GrabKeyboard();
    if (!lease.grabWidget_) {
        return MakeError(ErrorKind::BadInput, "no window was given to take the keyboard");
    }
    lease.grabWidget_->grabKeyboard();
    return {};
}

void InputSource::ReleaseGrab(InputLease& lease) {
    if (desktop_) {
        desktop_->ReleaseKeyboard();
        return;
    }
    if (lease.grabWidget_ && QWidget::keyboardGrabber() == lease.grabWidget_) {
        lease.grabWidget_->releaseKeyboard();
    }
}

void InputSource::ReadDesktop() {
    if (!desktop_) return;
    const std::vector<DesktopEvent> events = desktop_->Read();
    // Raw events carry no position: it is asked once per batch, when an event needs it.
    std::optional<std::optional<QPoint>> position;
    const auto where = [&] {
        if (!position) position = PointerPosition();
        return *position;
    };
    for (const DesktopEvent& event : events) {
        // A slot may drop the lease (a finished capture); the next event goes to whoever
        // holds the source then.
        InputLease* lease = Current();
        if (!lease) return;
        switch (event.kind) {
            case DesktopEvent::Kind::KeyDown:
            case DesktopEvent::Kind::KeyUp:
                emit lease->key(event.code, event.kind == DesktopEvent::Kind::KeyDown);
                break;
            case DesktopEvent::Kind::ButtonDown:
            case DesktopEvent::Kind::ButtonUp:
                emit lease->button(event.code, event.kind == DesktopEvent::Kind::ButtonDown,
                                   where());
                break;
            case DesktopEvent::Kind::Motion:
                emit lease->motion(where());
                break;
        }
        if (!desktop_) return;
    }
}

bool InputSource::FirstDelivery(QWidget* widget, QEvent* event) {
    // Qt passes an event that a widget ignores on to its parent, the mouse events as new
    // copies: a delivery to an ancestor of the last receiver with the same contents is the
    // same event again.
    Delivery delivery{static_cast<int>(event->type()), 0, 0, {}};
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        delivery.timestamp = key->timestamp();
        delivery.code = key->nativeScanCode();
    } else {
        const auto* pointer = static_cast<const QSinglePointEvent*>(event);
        delivery.timestamp = pointer->timestamp();
        delivery.code = static_cast<quint64>(pointer->button());
        delivery.globalPos = pointer->globalPosition();
    }
    const bool again = delivery == lastDelivery_ && lastReceiver_ && widget != lastReceiver_ &&
                       widget->isAncestorOf(lastReceiver_);
    lastDelivery_ = delivery;
    lastReceiver_ = widget;
    return !again;
}

bool InputSource::eventFilter(QObject* watched, QEvent* event) {
    InputLease* lease = Current();
    const QEvent::Type type = event->type();
    const bool keyEvent = IsKeyEvent(type);
    const bool mouseEvent = IsMouseEvent(type);
    if (!lease || (!keyEvent && !mouseEvent)) return QObject::eventFilter(watched, event);
    const LeaseOptions options = lease->options_;
    const bool swallow = keyEvent ? options.swallowKeys
                                  : options.swallowMouse && type != QEvent::MouseMove &&
                                        !ForMouseFreeWidget(options, watched, event);
    // A swallowed event is accepted too, so that Qt does not offer it to the parents;
    // an accepted shortcut override keeps the program's shortcuts from acting on the key.
    if (swallow) event->accept();
    if (type == QEvent::ShortcutOverride) return swallow;
    // With the desktop source the raw events report everything: Qt's are only swallowed.
    if (desktop_) return swallow;
    // Qt hands one event to the window, then to the widget and, while it is ignored, to
    // each parent in turn. The window passes it on; only the first widget's copy counts.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    if (!FirstDelivery(widget, event)) return swallow;

    QPointer<InputLease> alive(lease);
    switch (type) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat() && key->nativeScanCode() != 0) {
                emit lease->key(static_cast<int>(key->nativeScanCode()), type == QEvent::KeyPress);
            }
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (const int button = XButtonOf(mouse->button()); button != 0) {
                emit lease->button(button, type != QEvent::MouseButtonRelease,
                                   mouse->globalPosition().toPoint());
            }
            break;
        }
        case QEvent::MouseMove:
            emit lease->motion(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
            break;
        case QEvent::Wheel: {
            // One button 4 or 5 press per notch, as X reports a wheel; a touchpad's small
            // steps add up to notches.
            auto* wheel = static_cast<QWheelEvent*>(event);
            const QPoint at = wheel->globalPosition().toPoint();
            wheelRest_ += wheel->angleDelta().y();
            while (alive && std::abs(wheelRest_) >= kWheelNotch) {
                const bool forward = wheelRest_ > 0;
                wheelRest_ += forward ? -kWheelNotch : kWheelNotch;
                const int button = forward ? kXWheelForward : kXWheelBack;
                emit alive->button(button, true, at);
                if (alive) emit alive->button(button, false, at);
            }
            break;
        }
        default:
            break;
    }
    return swallow;
}

}  // namespace qvm::ui
