// HostServices: what the program does on the computer for the mice while it runs.
//
// - The mice's vendor reports are read on one reader thread and handed to the action
//   engine: pointer moves, horizontal scrolling and "Virtual Touch" are injected (uinput,
//   else XTest, else nowhere, said once), and the two window commands bring the main
//   window to the front or minimise the window in use.
// - Status reports (the mouse changed its DPI stage, profile or angle snapping by itself)
//   start the on-screen display and, for the mouse the window works on, show the new
//   state in the main window; a new profile reloads the configuration shortly after.
// - Profiles follow the program in use: the foreground watcher's descriptor is served by
//   the window's event loop, so nothing runs while the focus stays where it is.
//
// Everything reaches the window's thread through queued calls; the reader and the
// engine's workers never touch a widget.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "host/host_status.h"
#include "session/settings.h"

class QSocketNotifier;

namespace qvm {
class AppProfiles;
class HostActions;
class InputInjector;
class VendorReportReader;
}  // namespace qvm

namespace qvm::ui {

class DeviceController;
class OsdWindow;

struct HostServicesContext {
    // Shows a failure to the user (the main window's message box, which also writes it to
    // standard error).
    std::function<void(const QString&)> showError;
    // The mouse's "restore the main window" command.
    std::function<void()> restoreMainWindow;
    // Whether the on-screen display is on ("osd") and which programs are bound.
    const UserSettings* settings = nullptr;
    // Minimises the window in use; the desktop's own by default.
    std::function<Status()> minimiseForeground;
    // The injector to use (it outlives the services); null: the best this machine offers.
    InputInjector* injector = nullptr;
};

class HostServices : public QObject {
    Q_OBJECT
  public:
    // Opens the injector and the foreground watcher and starts reading the reports of the
    // controller's devices. What cannot be had here is written to standard error at once
    // and shown in the window the first time a mouse asks for it.
    HostServices(DeviceController& controller, HostServicesContext context,
                 QObject* parent = nullptr);
    ~HostServices() override;

    // The settings changed ("osd", or the bound programs): read them again.
    void SettingsChanged();

    HostStatus& Status() { return status_; }
    // The on-screen display of the mice's DPI, profile and angle-snapping changes.
    OsdWindow& Display() { return *display_; }
    // The injector's name ("uinput", "XTest", "none").
    std::string InjectorName() const;
    // Empty while profiles follow the program in use; else why they cannot here.
    std::string AppProfilesUnavailable() const;
    // Hands a report in as the reader does (tests without a device).
    void HandleReport(const std::string& path, std::span<const uint8_t> report);

  private:
    void OnStatus(const std::string& path, const StatusEffects& effects);
    void MinimiseForeground();
    void OnForegroundReadable();
    // True when `path` is an interface of the device the window works on.
    bool IsActiveDevice(const std::string& path);
    // Tells the user in the window (and on standard error) the first time, later only on
    // standard error.
    void TellOnce(bool& told, const QString& text);

    DeviceController& controller_;
    HostServicesContext context_;
    HostStatus status_;
    std::unique_ptr<InputInjector> ownInjector_;
    InputInjector* injector_ = nullptr;
    std::string injectorLimits_;  // why better injectors were not used
    std::unique_ptr<AppProfiles> apps_;
    QSocketNotifier* foregroundNotifier_ = nullptr;  // owned by this object (Qt parent)
    std::unique_ptr<OsdWindow> display_;             // a top-level window: no Qt parent
    // Whether the last status report came from the mouse the window shows: only then does
    // the display name its profiles and scale its bars.
    bool displayShowsActive_ = false;
    // Whether the window's device was a loaded mouse at its last view change.
    bool mouseLoaded_ = false;

    bool toldInjection_ = false;
    bool toldTouch_ = false;
    bool toldMinimise_ = false;
    bool toldApps_ = false;

    // The interface of the report being handed in; the reader's thread only.
    std::string reportPath_;
    // Last: the reader stops before the engine, the engine before what it uses.
    std::unique_ptr<HostActions> actions_;
    std::unique_ptr<VendorReportReader> reader_;
};

}  // namespace qvm::ui
