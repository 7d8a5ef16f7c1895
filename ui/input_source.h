// Where the macro recorder and quick binding take the user's input from. On X11 it is the
// whole desktop (XInput 2 raw events, platform/desktop_input.h), so keys and clicks made in
// any window are seen; elsewhere (Wayland) it is the Qt events of this program's own
// windows, and FallbackNotice says so once.
//
// One InputSource serves the program; a user takes it with Take and holds the returned
// InputLease while it wants input. Only the newest lease gets events. Dropping the lease
// stops listening and releases the keyboard: closing the editor, a lost device or an
// exception can never leave the keyboard grabbed (and the display server drops the grab
// if the program dies).
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "platform/desktop_input.h"

class QWidget;

namespace qvm::ui {

class InputSource;

struct LeaseOptions {
    // Keys typed while the lease is held do not reach this program's widgets (nor, with
    // the keyboard grabbed, any other window or desktop shortcut).
    bool swallowKeys = true;
    // Mouse presses in this program's windows do not reach the widgets either (quick
    // binding, a capture); a recording leaves the mouse free so that Stop can be pressed.
    bool swallowMouse = false;
    // Widgets whose mouse presses are never swallowed (the editor's Record and Stop).
    std::vector<QPointer<QWidget>> mouseFree;
    // Take the whole keyboard while the lease is held (see InputLease::SetKeyboardGrab).
    bool grabKeyboard = true;
};

// Events of one holder of the source. Keys are X keycodes (evdev + 8), auto-repeats
// removed; buttons are X button numbers (1 left, 2 middle, 3 right, 4/5 one wheel notch
// forward/back, 8/9 back/forward), each with the pointer's global position when known.
class InputLease : public QObject {
    Q_OBJECT
  public:
    ~InputLease() override;
    // Grabs or releases the keyboard while the lease stays (the recorder keeps it a moment
    // after a captured key so that the key's release does not reach another window).
    Status SetKeyboardGrab(bool on);
    bool KeyboardGrabbed() const;
    bool WholeDesktop() const;

  signals:
    void key(int x11Keycode, bool down);
    void button(int xButton, bool down, std::optional<QPoint> globalPos);
    void motion(std::optional<QPoint> globalPos);
    // A newer lease took the source: this one gets no events (and holds no grab) until
    // the newer one is dropped.
    void silenced();

  private:
    friend class InputSource;
    InputLease(InputSource& source, LeaseOptions options, QWidget* grabWidget);
    QPointer<InputSource> source_;
    LeaseOptions options_;
    QPointer<QWidget> grabWidget_;  // the widget that takes the keyboard without X11
    bool grabbed_ = false;
    bool regrab_ = false;  // silenced while grabbed: grab again when current once more
};

class InputSource : public QObject {
    Q_OBJECT
  public:
    // `desktop` null: this program's own windows only (`why` says why, for the notice).
    InputSource(std::unique_ptr<DesktopInput> desktop, QString why, QObject* parent = nullptr);
    // Opens the desktop source of the display Qt runs on; falls back when there is none.
    static std::unique_ptr<InputSource> Open(QObject* parent = nullptr);
    ~InputSource() override;

    bool WholeDesktop() const { return desktop_ != nullptr; }
    // "Only keys and clicks made in this program's windows are recorded: ..." once per
    // run, empty after the first call and whenever the whole desktop is seen.
    QString FallbackNotice();

    // Starts delivering events to the new lease; an older lease goes quiet until the new
    // one is dropped. `grabWidget` takes the keyboard where the desktop source is missing.
    std::unique_ptr<InputLease> Take(const LeaseOptions& options, QWidget* grabWidget);

    std::optional<QPoint> PointerPosition() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class InputLease;
    void Drop(InputLease* lease);
    void ReadDesktop();
    InputLease* Current() const;
    void StartListening();
    void StopListening();
    Status TakeGrab(InputLease& lease);
    void ReleaseGrab(InputLease& lease);
    // False for the second and later deliveries of one event (to the parents of a widget
    // that ignored it).
    bool FirstDelivery(QWidget* widget, QEvent* event);

    std::unique_ptr<DesktopInput> desktop_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QString why_;
    bool noticeGiven_ = false;
    std::vector<QPointer<InputLease>> leases_;  // newest last
    bool filtering_ = false;                    // the application event filter is installed
    int wheelRest_ = 0;                         // wheel turn short of a whole notch, fallback only
    // The last event taken from the program's windows, to know it when Qt offers it to
    // the receiver's parent.
    struct Delivery {
        int type = 0;
        quint64 timestamp = 0;
        quint64 code = 0;
        QPointF globalPos;
        bool operator==(const Delivery&) const = default;
    };
    Delivery lastDelivery_;
    QPointer<QWidget> lastReceiver_;
};

// Qt's global positions are scaled where Qt scales the screen; the display server, the
// recorder and the mouse count screen pixels. Each screen keeps its origin.
QPoint GlobalToScreenPixels(const QPoint& global);
QPoint ScreenPixelsToGlobal(const QPoint& pixels);

}  // namespace qvm::ui
