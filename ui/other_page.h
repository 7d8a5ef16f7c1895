// OtherPage: the "Other" page of the main window, three panels side by side.
//
// - GENERAL OPTIONS: "Enable DPI / profile OSD", "Disable mouse acceleration (OS)" and
//   "Allow the companion app on this network", each written to set.ini the moment it is
//   toggled (the second also switches off the acceleration of the QVM mice's pointers, the
//   third starts or stops the companion service and shows where it listens and its PIN),
//   and "Start with the desktop" (the autostart entry).
// - INFORMATION: the attached model, driver and firmware versions, and the PIN of the
//   network remote service.
// - DRIVER SETTINGS: Reset, Backup and Restore with their questions, and a progress bar
//   fed by the controller while one of them runs, and a result line that says how the
//   last one ended (the bar is then back at its start). Both file dialogs start in the
//   folder last chosen, else the documents folder, else home. The buttons are disabled without a
//   device and while the controller is busy; a mouse whose memory holds no
//   configuration keeps them (a reset or a restore initialises it, a backup reads it).
//
// - LIGHTING (beneath them, only for a mouse with lighting): see MouseLightingPanel.
//
// File dialogs go through two replaceable choosers so that tests can answer them.
#pragma once

#include <QDate>
#include <QString>
#include <QWidget>
#include <functional>
#include <set>
#include <string>

#include "session/settings.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace qvm::ui {

class DeviceController;
class MouseLightingPanel;
class RemoteCompanion;

struct OtherPageContext {
    std::string settingsPath;  // set.ini
    UserSettings* settings = nullptr;
    PointerAcceleration* pointer = nullptr;  // null: the option is saved, nothing applied
    int pin = 0;
    // Shows a failure to the user (a message box in the window).
    std::function<void(const QString&)> showError;
};

class OtherPage : public QWidget {
    Q_OBJECT
  public:
    // Chooses a file; returns an empty string when the user cancelled. `proposed` is the
    // full path the save dialog proposes, or the folder the open dialog starts in.
    using FileChooser = std::function<QString(QWidget* parent, const QString& proposed)>;

    OtherPage(DeviceController& controller, OtherPageContext context, QWidget* parent = nullptr);

    // Re-reads the device view, the settings and the autostart state into the controls.
    void Refresh();
    // Starts the factory reset without asking (the caller asked), with this page's
    // progress bar and failure report.
    void StartReset();

    // Replaces the save and open dialogs (QFileDialog by default).
    void SetFileChoosers(FileChooser save, FileChooser open);
    MouseLightingPanel& Lighting() const { return *lighting_; }
    // The companion service the remote option starts and stops (it outlives the page);
    // without one the option is not shown.
    void SetRemote(RemoteCompanion* companion);

    // The name the save dialog proposes: "mouse_yyyy-MM-dd.bf" with the given date.
    static QString ProposedBackupName(const QDate& date);

    // Child object names, for tests: "osdOption", "accelerationOption", "remoteOption",
    // "remoteState", "autostartOption",
    // "informationText", "resetButton", "backupButton", "restoreButton", "driverProgress",
    // "driverResult".

  signals:
    // The user switched "Enable DPI / profile OSD" (stored in the settings by then).
    void osdChanged(bool on);

  private:
    QWidget* BuildGeneralPanel();
    QWidget* BuildInformationPanel();
    QWidget* BuildDriverPanel();
    void OnOsd(bool on);
    void OnAcceleration(bool on);
    void OnRemote(bool on);
    void RefreshRemote();
    void OnAutostart(bool on);
    void OnReset();
    void OnBackup();
    void OnRestore();
    void OnProgress(const QString& operation, int percent);
    void OnFinished(const QString& operation, const QString& error);
    // `file`: the backup file written or read, empty for a reset.
    void Started(const QString& operation, const QString& file = QString());
    // What the result line says once `operation` ended (`error` empty: it succeeded).
    QString ResultLine(const QString& operation, const QString& error) const;
    // Where both file dialogs start, and remembering the folder of the file chosen.
    QString StartFolder() const;
    void RememberFolder(const QString& file);
    void UpdateDriverButtons();
    void ShowError(const QString& text);
    // Writes the options to set.ini; on failure shows it and restores `undo`.
    bool SaveOrUndo(const UserSettings& undo);

    DeviceController& controller_;
    OtherPageContext context_;
    FileChooser chooseSave_;
    FileChooser chooseOpen_;

    QCheckBox* osd_ = nullptr;
    QCheckBox* acceleration_ = nullptr;
    QCheckBox* autostart_ = nullptr;
    QCheckBox* remote_ = nullptr;
    QLabel* remoteState_ = nullptr;
    RemoteCompanion* companion_ = nullptr;
    QLabel* information_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* backup_ = nullptr;
    QPushButton* restore_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* result_ = nullptr;
    MouseLightingPanel* lighting_ = nullptr;
    QString file_;  // of the backup or restore running
    // Operations this page started and whose end it still waits for.
    std::multiset<QString> running_;
};

}  // namespace qvm::ui
