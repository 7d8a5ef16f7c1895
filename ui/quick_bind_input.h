// Quick binding on the Qt side: while a button is being bound, the program's input source
// (ui/input_source.h) is held with the keys and mouse presses swallowed and the keyboard
// grabbed, so every key and mouse press goes to present/quick_binding's QuickBinding
// instead of the widgets or a desktop shortcut, and a 100 ms timer counts the 10 seconds
// down. On X11 that is input made in any window; elsewhere the program's own windows.
//
// Keys arrive as X keycodes (evdev code + 8) and become set-1 scan codes through
// lang/linux_keycodes. Mouse presses (X buttons 1, 3, 2, 8, 9): left 1, right 2, middle 4,
// back 8, forward 16.
//
// A left press for which the stop test (SetStopTest) answers true cancels instead of
// binding: the page points it at the banner's cancel control and the key symbol being
// bound.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "present/quick_binding.h"
#include "ui/input_source.h"

namespace qvm::ui {

class QuickBindInput : public QObject {
    Q_OBJECT
  public:
    // `grabWidget` takes the keyboard where the whole desktop cannot be seen.
    QuickBindInput(InputSource& source, QWidget* grabWidget, QObject* parent = nullptr);
    ~QuickBindInput() override;

    // Starts binding configuration slot `button`, shown at label `position`; a binding in
    // progress is replaced. Takes the input source and starts the timer.
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
    // During the first binding of a run in which only this program's windows are seen,
    // a short line saying so for the banner (the reason goes to standard error).
    QString Note() const { return note_; }

  signals:
    // The countdown moved (the prompt's seconds may have changed).
    void prompted(const QString& prompt);
    // The binding ended with a function for the button.
    void bound(int position, int button, qvm::ButtonSlot slot);
    // The binding ended, bound or not.
    void ended();

  private:
    void Handle(const QuickBindingResult& result);
    void OnKey(int x11Keycode, bool down);
    void OnButton(int xButton, bool down, std::optional<QPoint> globalPos);
    void Stop();

    InputSource& source_;
    QPointer<QWidget> grabWidget_;
    std::unique_ptr<InputLease> lease_;  // held while binding
    QuickBinding binding_;
    QTimer timer_;
    int position_ = -1;
    QString note_;
    std::function<bool(const QPoint&)> stops_;
};

// The set-1 scan code of a Qt key event's native scan code; none for keys without one.
std::optional<int> Set1ScanCodeOfNative(quint32 nativeScanCode);
// The quick-binding mask of an X button number; 0 for buttons that cannot be bound.
uint32_t BindingMaskOfXButton(int xButton);

}  // namespace qvm::ui
