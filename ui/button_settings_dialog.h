// The button settings dialog: the function classes and their entries, the operand editor
// of the chosen function (key combination on the on-screen keyboard, consumer key, DPI
// values, fire-button interval and count, rapid-fire interval, stored macro and mode), the
// profile's key-cycle list and a preview of the function's text. Every rule lives in the
// ButtonSettingsModel it is built from; the dialog only shows it and forwards input.
//
//     ButtonSettingsDialog dialog(std::move(model), *view.image, keyboardLayout, this);
//     if (dialog.exec() == QDialog::Accepted) {
//         controller.Change(HubOperation::AssignButton,
//                           Setter(&ConfigModel::AssignSlot, profile, button, dialog.Result()));
//         if (auto cycle = dialog.KeyCycleResult()) {
//             controller.Change(HubOperation::KeyCycleList,
//                               Setter(&ConfigModel::SetKeyCycleList, profile, *cycle));
//         }
//     }
//
// OK stays disabled while the edited function is incomplete (a keyboard function without
// a key, a macro function without a macro); the reason shows beside the preview.
// "Default" closes the dialog as OK does, with the button's own function (type 0).
//
// Keys pressed on the computer's keyboard pick keys as clicks on the on-screen keyboard
// do (a modifier held counts as latched), except while a text field or a push button has
// the focus, and except Tab, Shift+Tab and Esc, which keep moving the focus and closing
// the dialog. In the lists the arrow and page keys still move the selection unless a key
// combination or the key-cycle list is being edited.
// The operand editors are built and refreshed in button_settings_editors.cpp.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <vector>

#include "config/config_image.h"
#include "lang/keyboard_layout.h"
#include "present/button_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;
class QStackedWidget;

namespace qvm::ui {

class OnscreenKeyboard;

// The operand editor shown for the edited function.
enum class OperandEditor {
    None,
    KeyCombination,
    ConsumerKey,
    DpiValues,
    FireButton,
    RapidFire,
    Macro,
    KeyCycle,
};

class ButtonSettingsDialog : public QDialog {
    Q_OBJECT
  public:
    // image gives the DPI step and step count the DPI editor counts in.
    ButtonSettingsDialog(ButtonSettingsModel model, const ConfigImage& image,
                         const KeyboardLayout& keyboard, QWidget* parent = nullptr);
    ~ButtonSettingsDialog() override;

    // After exec() == Accepted: the four bytes to assign, and the key-cycle list when it
    // was changed (nothing when it stayed as loaded).
    ButtonSlot Result() const;
    // True when the dialog was closed with "Default".
    bool ChoseDefault() const { return choseDefault_; }
    std::optional<std::vector<KeyCycleEntry>> KeyCycleResult() const;

    // Shows "Record intervals" on the macro page, checked as `on`; `changed` hears the
    // user's changes (the macro editor holds the option).
    void ShareRecordIntervals(bool on, std::function<void(bool)> changed);
    // True when the dialog was closed to open the macro editor ("Macro edit").
    bool MacroEditorWanted() const { return editorWanted_; }

    const ButtonSettingsModel& Model() const { return model_; }
    OperandEditor ShownEditor() const { return shownEditor_; }

    // The widgets, for tests.
    QListWidget* ClassList() const { return classList_; }
    QListWidget* EntryList() const { return entryList_; }
    OnscreenKeyboard* Keyboard() const { return keyboard_; }
    QListWidget* ConsumerList() const { return consumerList_; }
    QSpinBox* DpiX() const { return dpiX_; }
    QSpinBox* DpiY() const { return dpiY_; }
    QSpinBox* FireInterval() const { return fireInterval_; }
    QSpinBox* FireCount() const { return fireCount_; }
    QSpinBox* RapidInterval() const { return rapidInterval_; }
    QComboBox* MacroChoice() const { return macroChoice_; }
    QPushButton* MacroEditorButton() const { return macroEditor_; }
    QCheckBox* RecordIntervalsBox() const { return recordIntervals_; }
    // The macro mode buttons: once, repeated, while held (modes 8, 9, 10).
    QPushButton* MacroModeButton(int mode) const;
    QListWidget* KeyCycleList() const { return cycleList_; }
    QPushButton* RemoveLastKeyButton() const { return cycleRemove_; }
    QPushButton* ClearKeysButton() const { return cycleClear_; }
    QLabel* Preview() const { return preview_; }
    QLabel* Problem() const { return problem_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* DefaultButton() const { return default_; }

    // Accepts only while the edited function is complete.
    void accept() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool PicksKey(QObject* receiver, const QKeyEvent& key) const;
    void OnPhysicalKey(const QKeyEvent& key);
    void BuildLists();
    QWidget* BuildEditors();
    QWidget* BuildDpiEditor();
    QWidget* BuildFireEditor();
    QWidget* BuildMacroEditor();
    QWidget* BuildKeyCycleEditor();
    void ShowClass(FunctionClass cls);
    void ChooseEntry(int row);
    void OnKeyCombination(uint8_t modifiers, int usage);
    void OnModifiersLatched(uint8_t modifiers);
    void Report(const Status& status);
    void Refresh();
    void RefreshEditors();
    void RefreshKeyCycle();
    OperandEditor EditorFor(const ButtonSlot& slot) const;
    static bool IsUserMacro(const ButtonSlot& slot);

    ButtonSettingsModel model_;
    int dpiStep_;
    int dpiStepCount_;
    FunctionClass shownClass_;
    OperandEditor shownEditor_ = OperandEditor::None;
    bool refreshing_ = false;  // widgets being set from the model: their signals are echoes
    bool choseDefault_ = false;
    bool editorWanted_ = false;
    uint8_t heldModifiers_ = 0;  // modifier keys down on the computer's keyboard

    QListWidget* classList_ = nullptr;
    QListWidget* entryList_ = nullptr;
    QStackedWidget* editors_ = nullptr;
    QLabel* keyHint_ = nullptr;
    QListWidget* consumerList_ = nullptr;
    QSpinBox* dpiX_ = nullptr;
    QSpinBox* dpiY_ = nullptr;
    QSpinBox* fireInterval_ = nullptr;
    QSpinBox* fireCount_ = nullptr;
    QSpinBox* rapidInterval_ = nullptr;
    QComboBox* macroChoice_ = nullptr;
    QButtonGroup* macroModes_ = nullptr;
    QPushButton* macroEditor_ = nullptr;
    QCheckBox* recordIntervals_ = nullptr;
    QListWidget* cycleList_ = nullptr;
    QPushButton* cycleRemove_ = nullptr;
    QPushButton* cycleClear_ = nullptr;
    OnscreenKeyboard* keyboard_ = nullptr;
    QLabel* preview_ = nullptr;
    QLabel* problem_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* default_ = nullptr;
};

// The dialog's title: "Button settings", the button (its number as the page lists it,
// from 1, and the function it has now) and the profile's name.
QString ButtonSettingsTitle(int position, const QString& function, const QString& profile);

}  // namespace qvm::ui
