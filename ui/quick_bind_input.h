// Quick binding on the Qt side: while a button is being bound, every key and mouse press
// made in the program's windows goes to app/quick_binding's QuickBinding instead of the
// widgets, and a 100 ms timer counts the 10 seconds down.
//
// Keys: QKeyEvent::nativeScanCode() is the X keycode on xcb and Wayland (evdev code + 8);
// it becomes a set-1 scan code through app/linux_keycodes. Mouse presses: left 1, right 2,
// middle 4, back 8, forward 16.
//
// A press for which the stop test (SetStopTest) answers true cancels instead of binding:
// the page points it at the banner's cancel control and the key symbol being bound.
//
// Only input that reaches this program's windows is seen: keys and clicks made while
// another program has the focus (XInput2 raw events on the root window) are not taken.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

#include "present/quick_binding.h"

namespace qvm::ui {

class QuickBindInput : public QObject {
    Q_OBJECT
  public:
    explicit QuickBindInput(QObject* parent = nullptr);
    ~QuickBindInput() override;

    // Starts binding configuration slot `button`, shown at label `position`; a binding in
    // progress is replaced. Installs the application event filter and starts the timer.
    Status Start(int position, int button);
    // Ends a binding in progress without binding anything.
    void Cancel();
    // Which mouse presses (in global coordinates) cancel rather than bind.
    void SetStopTest(std::function<bool(const QPoint& globalPos)> stops);

    bool Active() const { return binding_.Active(); }
    // The label position being bound, none when idle.
    std::optional<int> Position() const;
    // "%d sec, Press keyboard or click mouse button for binding" with the seconds left.
    QString Prompt() const;

  signals:
    // The countdown moved (the prompt's seconds may have changed).
    void prompted(const QString& prompt);
    // The binding ended with a function for the button.
    void bound(int position, int button, qvm::ButtonSlot slot);
    // The binding ended, bound or not.
    void ended();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Handle(const QuickBindingResult& result);
    void Stop();

    QuickBinding binding_;
    QTimer timer_;
    int position_ = -1;
    bool filtering_ = false;
    std::function<bool(const QPoint&)> stops_;
};

// The set-1 scan code of a Qt key event's native scan code; none for keys without one.
std::optional<int> Set1ScanCodeOfNative(quint32 nativeScanCode);
// The quick-binding mask of a Qt mouse button; 0 for buttons that cannot be bound.
uint32_t BindingMaskOf(Qt::MouseButton button);

}  // namespace qvm::ui
