// DeviceController: the windows' one door to the device. It owns the device stack of the
// running program (through the Qt-free DeviceHub of libqvm) and runs every device
// exchange on the hub's worker thread, never on the UI thread. Results come back as
// signals delivered on the UI thread; the windows redraw from Snapshot().
//
// Hot-plug: arrivals and removals wake the controller through the backend's event
// descriptor (no polling when nothing happens); a change restarts the refresh timer
// (timer 2 of the main window: 100 ms at start, 500 ms after a removal, 1000 ms after an
// arrival).
//
// Slider values go through the model's deferred writes: the change shows in Snapshot()
// at once and reaches the device when its delay has passed (DPI 200 ms, report rate and
// angle snapping 1000 ms); the controller arms one single-shot timer for the earliest
// due write, so it sleeps while nothing is pending.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "config/config_image.h"
#include "device/model_table.h"
#include "platform/clock.h"
#include "session/device_hub.h"

namespace qvm::ui {

// What the windows show about the device; a copy, safe to keep on the UI thread.
using DeviceView = HubSnapshot;

class DeviceController : public QObject {
    Q_OBJECT
  public:
    // Opens the backend the options name (simulated devices, hidraw or the bridge).
    // Nothing is exchanged until Start().
    static Result<std::unique_ptr<DeviceController>> Open(const DeviceHubOptions& options,
                                                          Clock& clock = SystemClock::Instance());
    explicit DeviceController(std::unique_ptr<DeviceHub> hub, QObject* parent = nullptr);
    ~DeviceController() override;  // stops the worker; pending deferred writes are flushed

    DeviceHub& Hub();
    // Starts following arrivals and removals and schedules the first refresh (100 ms).
    void Start();
    DeviceView View() const;
    bool Busy() const;  // a refresh, reset, backup or restore is running

    // A deferred setting (shown at once, written when due; see DeviceHub::ChangeDeferred).
    Status ChangeDeferred(const DeviceHub::DeferredChange& change);
    // A change queued to the worker (see DeviceHub::Change); operationFinished tells the
    // outcome under the operation's name.
    void Change(HubOperation op, DeviceHub::ModelTask task);
    // Long operations with progress (0..100): reset to factory, backup to a file,
    // restore from a file (a backup of another memory size is refused unless forced).
    void ResetDevice();
    void SaveBackupTo(const std::string& file);
    void RestoreBackupFrom(const std::string& file, bool force = false);
    // The error of an operation refused because the mouse's memory could not be saved
    // before its first change (unsavedFound asks the user).
    bool IsUnsavedRefusal(const QString& error) const;
    // The user's answer: write without that backup (the refused operations run again),
    // or leave the mouse as it is.
    void AnswerUnsaved(bool write);
    // Works on another of the attached devices from now on (see DeviceHub::SelectDevice).
    void SelectDevice(const std::string& path);
    // Shows what the mouse said about itself (its current stage and values, profile, angle
    // snapping) without writing anything back: the change goes into the loaded image only.
    // Nothing happens while no mouse configuration is loaded.
    void ShowDeviceState(const std::function<void(ConfigImage&)>& change);
    // Runs a refresh after `ms` milliseconds (restarting a pending one).
    void RefreshAfter(int ms);
    // Writes every pending deferred value now (the window is closing).
    void FlushPending();

    // Drains arrivals and removals now (the event descriptor does this by itself).
    void HandleDeviceEvents();

    // The name an operation is reported under in progress() and operationFinished():
    // "Reset", "Backup" and "Restore" are the UI texts of those buttons (button_str 3, 4,
    // 5); the others have word_str entries of their own: "Refresh", "Device change",
    // "Assign button", "Profile name", "Profile colour", "Active profile", "DPI stages",
    // "Current DPI stage", "Key cycle", "Lighting" and "Settings" (the deferred slider values
    // written). `error` in operationFinished() is the message as the windows show it
    // (ErrorMessage).
    static QString OperationName(HubOperation op);

  signals:
    // The active device, its layout or its configuration image changed: redraw.
    void viewChanged();
    void progress(const QString& operation, int percent);
    // Every queued operation ends with exactly one of these; `error` is empty on success.
    // A refresh that finds the active mouse's memory without a configuration ends without
    // an error: uninitialisedFound() follows it, and the view says so.
    void operationFinished(const QString& operation, const QString& error);
    // A refresh found the active mouse uninitialised; nothing was written. Only a reset
    // (ResetDevice) initialises it, which the window offers the user.
    void uninitialisedFound();
    // An operation was refused: no backup of the mouse's memory could be saved before its
    // first change (`why`). Nothing was written; AnswerUnsaved says what to do.
    void unsavedFound(const QString& why);
    // Before its first change, the memory of the active mouse was saved to `file`.
    void firstBackupSaved(const QString& file);

  private:
    // Arms the single-shot timer for the earliest pending deferred write (or stops it).
    void ArmDeferred();

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qvm::ui
