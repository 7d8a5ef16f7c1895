// ButtonPage: page 0 of the main window, "Button settings". The drawn mouse of the active
// model with the function of every button at its hotspot (ButtonMapView), and a row of
// controls below it: "Default" (the selected button gets its own function back), the help
// overlay toggle, "Macro list" and "Macro edit" (the macro editor).
//
// A click on a button's label (or its dot on the drawn mouse) selects it and opens the
// button settings dialog; OK assigns the chosen function (and the key-cycle list when it
// changed) through the controller, "Default" in the dialog gives the button its own
// function back. A right click on a label selects it and opens its menu: the settings
// dialog and "Default". The key symbol of a label starts quick binding; a click on it
// again, or on the banner's cancel control, stops it. A function dragged from the
// macro list window and dropped on a label is assigned to that button.
#pragma once

#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "config/button_slot.h"
#include "lang/keyboard_layout.h"
#include "macro/function_library.h"
#include "ui/device_controller.h"

class QPushButton;

namespace qvm::ui {

class ButtonMapView;
class InputSource;
class QuickBindInput;

struct ButtonPageContext {
    std::string programFolder;                 // where main_help.png may be
    const FunctionLibrary* library = nullptr;  // offered by the settings dialog
    const KeyboardLayout* keyboard = nullptr;  // the dialog's on-screen keyboard
    std::function<void()> showMacroList;       // "Macro list"
    std::function<void()> showMacroEditor;     // "Macro edit", and from the dialog
    // "Record intervals" of the macro editor, which the settings dialog shows too.
    std::function<bool()> recordIntervals;
    std::function<void(bool)> setRecordIntervals;
    std::function<void()> hideMacroList;            // before the settings dialog opens
    std::function<void(const QString&)> showError;  // a failure the user must see
    InputSource* input = nullptr;                   // quick binding's keys and clicks
};

class ButtonPage : public QWidget {
    Q_OBJECT
  public:
    ButtonPage(DeviceController& controller, ButtonPageContext context, QWidget* parent = nullptr);
    ~ButtonPage() override;

    // Re-reads the controller's view: layout, labels, selection.
    void Refresh();

    ButtonMapView& Map() const { return *map_; }
    QuickBindInput& QuickBind() const { return *quickBind_; }
    QPushButton* DefaultButton() const { return default_; }
    QPushButton* HelpButton() const { return help_; }
    QPushButton* MacroListButton() const { return macroList_; }
    QPushButton* MacroEditorButton() const { return macroEditor_; }
    std::optional<int> Selected() const { return selected_; }
    bool HelpShown() const;

    // The configuration slot shown at label `position`; none without a device or for a
    // position the layout does not have.
    std::optional<int> ButtonAt(int position) const;
    // The profile the page edits (the device's current one).
    int Profile() const;

    // Opens the settings dialog for `position` as a click on its label does.
    void OpenSettings(int position);
    // Selects `position` and pops its menu up at `globalPos` (a right click on its label).
    void ShowLabelMenu(int position, const QPoint& globalPos);
    // The label menu while it is open, for tests.
    QMenu* LabelMenu() const { return labelMenu_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void OnDropped(int position, ButtonSlot slot);
    void Assign(int profile, int button, ButtonSlot slot);
    void OnQuickBind(int position);
    void ResetSelected();
    void ResetPosition(int position);
    void PlaceControls();

    DeviceController& controller_;
    ButtonPageContext context_;
    ButtonMapView* map_ = nullptr;
    QWidget* helpOverlay_ = nullptr;
    QuickBindInput* quickBind_ = nullptr;
    QPushButton* default_ = nullptr;
    QPushButton* help_ = nullptr;
    QPushButton* macroList_ = nullptr;
    QPushButton* macroEditor_ = nullptr;
    std::optional<int> selected_;
    QPointer<QMenu> labelMenu_;
};

}  // namespace qvm::ui
