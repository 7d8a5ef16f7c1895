// The macro editor window ("Macro Editor"): on the left the list of the device's macro
// slots and the macro library (MacroEditorList), on the right the edit area with the
// macro's name, run mode, size and the device's free memory above it, and the editor's
// commands around it: store, save, delete, record and stop, new folder, the recorder's
// options, the insert commands, clear, import, export, delete items and the two delay
// arrows.
//
// Every rule lives in the Qt-free MacroEditorModel; the window shows it, asks the
// model's questions with the text entry dialog and runs its device transfers on the
// device hub's worker (HubOperation::Macro), drawing a progress box over itself while
// one runs. The window stays responsive throughout: nothing here waits for the device.
//
// The main window creates the editor once; closing it only hides it. The commands are
// built in macro_editor_commands.cpp.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "macro/macro_library.h"
#include "present/macro_editor_model.h"
#include "ui/device_controller.h"

class QRadioButton;

namespace qvm::ui {

class InputSource;
class MacroEditArea;
class MacroRecording;
class MacroEditorList;
class TransferOverlay;

struct MacroEditorContext {
    std::string libraryRoot;                        // the macro library folder
    Clock* clock = nullptr;                         // null: the device hub's clock
    std::function<void(const QString&)> showError;  // a failure the user must see
    std::function<void()> libraryChanged;           // the editor changed the macro library
    // Where recording and the insert commands take input from: the program's one source.
    // Null: the editor opens one of its own.
    InputSource* input = nullptr;
};

class MacroEditorWindow : public QWidget {
    Q_OBJECT
  public:
    MacroEditorWindow(DeviceController& controller, MacroEditorContext context,
                      QWidget* parent = nullptr);
    ~MacroEditorWindow() override;

    // Shows the window and brings it to the front (the first time beside `anchor`).
    void ShowBeside(const QWidget* anchor);
    // Rescans the macro library and shows it again.
    void ReloadLibrary();

    // "Record intervals", which the button settings dialog shares.
    bool RecordIntervals() const;
    void SetRecordIntervals(bool on);

    // The parts of the window, for tests.
    MacroEditorModel& Model() { return *model_; }
    MacroEditArea& Area() const { return *area_; }
    MacroEditorList& List() const { return *list_; }
    QPushButton* NameButton() const { return name_; }
    QPushButton* ModeButton() const { return mode_; }
    QString SizeText() const { return size_->text(); }
    QString FreeText() const { return free_->text(); }
    QString StatusText() const { return status_->text(); }
    QPushButton* Command(const QString& objectName) const;
    bool OverlayShown() const;
    MacroRecording& Recording() const { return *recording_; }

  signals:
    void recordIntervalsChanged(bool on);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Notes whether the capture command was clicked with the mouse or pressed with a key.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Indices of the import and export texts in the string tables (button and tip).
    static constexpr std::size_t kButtonImport = 12;
    static constexpr std::size_t kButtonExport = 13;

    QWidget* BuildCommands();
    QWidget* BuildHeader();
    QWidget* BuildOptions();
    QWidget* BuildItemCommands();
    QPushButton* AddCommand(QWidget* parent, const char* objectName, const std::string& text,
                            const std::string& tip, std::function<void()> run);
    // Carries a step of the model on: asks its questions, starts its transfer; an error
    // shows to the user (`fromTransfer`: the main window has shown it already).
    void Follow(Result<EditorStep> step, bool fromTransfer = false);
    void StartTransfer(const MacroTransfer& transfer);
    void OnOperationFinished(const QString& operation, const QString& error);
    void OnProgress(const QString& operation, int percent);
    void OnViewChanged();
    void Import();
    void Export();
    void StartRecording();
    void StartCapture(bool fromMouseInsert);
    void StopRecording();
    void OnRecordingStopped();
    void ShowRecordingState();
    void PressArrow(DelayArrow arrow);
    void ArmArrow();
    void ReleaseArrow();
    // Shows the model again: labels, edit area, overlay. The list (slots and library)
    // changes only with the device, the library or an action, so it is rebuilt apart.
    void ShowModel();
    void ShowList();
    void ShowEditArea();
    void Report(const QString& text);

    DeviceController& controller_;
    MacroEditorContext context_;
    MacroLibrary library_;
    std::unique_ptr<MacroEditorModel> model_;
    std::optional<MacroTransfer> running_;
    std::shared_ptr<MacroTransferOutcome> outcome_;
    std::unique_ptr<InputSource> ownInput_;  // only when the context gave none
    std::unique_ptr<MacroRecording> recording_;
    std::string devicePath_;  // the device the slots were read from
    bool placed_ = false;
    bool captureByMouse_ = true;  // how the capture command was last pressed  // a question is open
                                  // (a nested event loop runs)

    MacroEditorList* list_ = nullptr;  // owned by the window (Qt parent), as all below
    MacroEditArea* area_ = nullptr;
    QPushButton* name_ = nullptr;
    QPushButton* mode_ = nullptr;
    QLabel* size_ = nullptr;
    QLabel* free_ = nullptr;
    QLabel* status_ = nullptr;
    QCheckBox* intervals_ = nullptr;
    QCheckBox* clickPositions_ = nullptr;
    QCheckBox* cursorTrack_ = nullptr;
    QRadioButton* track50_ = nullptr;
    QRadioButton* track200_ = nullptr;
    TransferOverlay* overlay_ = nullptr;
    QTimer arrowTimer_;  // runs only while a delay arrow is held
};

}  // namespace qvm::ui
