// Keyboard reach, a visible focus and accessible names for every window of the program.
//
// InstallKeyboardAccess puts one filter on the application. Every widget, when it is
// polished (before it is first shown), gets:
// - a focus policy that Tab reaches when it is a control (push buttons, check boxes,
//   radio buttons, sliders, spin boxes, combo boxes, line edits, item views) and had
//   none or only a click focus;
// - an accessible name when Qt's accessibility interface finds none for it: its tool
//   tip, else the text of the label whose buddy it is.
// Of an exclusive group of checkable buttons the checked one is always a Tab stop; the
// arrow keys reach the others.
// The drawn labels of the button map (ButtonMapView) become one stop of the Tab order:
// the arrow keys (and Home/End) move a dashed frame from label to label, Enter or Space
// opens the framed button's settings as a click does, Ctrl+B starts quick binding as its
// key symbol does, and the accessible name follows the framed label.
#pragma once

class QApplication;
class QWidget;

namespace qvm::ui {

class ButtonMapView;

// Installs the filter once (later calls do nothing) and applies it to every widget that
// already exists.
void InstallKeyboardAccess(QApplication& app);

// What the filter does to one widget (exposed for the windows built before it ran).
void MakeKeyboardReachable(QWidget& widget);

// True for the widgets the filter treats as controls.
bool IsControl(const QWidget& widget);

}  // namespace qvm::ui
