// RemoteCompanion: the network remote service as the running program offers it.
//
// Off unless the user wants it ("remote=1" in set.ini, "--remote", or the Other page's
// option): until then no socket is opened and no injector made for it. Once on, companions
// on the local network find this computer, follow the mouse the window works on and change
// it through the same hub and configuration model as the window. Every change the window
// hears of (its own, the mouse's status reports, a reload after qvmctl) reaches the
// companions too, through the controller's viewChanged.
//
// Lives on the window's thread; the service's sockets run on its own thread.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "net/remote_lists.h"
#include "net/remote_service.h"
#include "session/settings.h"

namespace qvm {
class InputInjector;
namespace remote {
class RemoteHost;
}
}  // namespace qvm

namespace qvm::ui {

class DeviceController;

struct RemoteCompanionContext {
    // The PIN companions are told ("pin" of set.ini, 0..9999).
    int pin = 0;
    // The favourite functions offered to companions.
    std::vector<remote::FavouriteFunction> favourites;
    // Where the sockets are bound; the design's ports on every address by default.
    remote::RemoteServiceOptions service;
    // The injector for companions' pointer moves (it outlives this object); null: the best
    // this machine offers, opened when the service first starts.
    InputInjector* injector = nullptr;
};

class RemoteCompanion : public QObject {
    Q_OBJECT
  public:
    RemoteCompanion(DeviceController& controller, RemoteCompanionContext context,
                    QObject* parent = nullptr);
    ~RemoteCompanion() override;

    // Starts or stops the service. Stopping closes every socket at once. A start that
    // fails (a port in use) leaves it stopped and says why; the reason is kept for
    // StateText().
    Status SetRunning(bool on);
    bool Running() const;
    remote::RemotePorts Ports() const;
    // What the Other page shows beneath its option: where companions reach this computer
    // and the PIN, why it could not start, or that nothing is open.
    QString StateText() const;
    // The addresses the service can be reached at: the local networks' and 127.0.0.1.
    std::vector<std::string> ListenAddresses() const;
    // A new favourite list (the function library was reloaded).
    void SetFavourites(std::vector<remote::FavouriteFunction> favourites);

  signals:
    // The service started or stopped.
    void runningChanged(bool running);

  private:
    DeviceController& controller_;
    RemoteCompanionContext context_;
    std::string failure_;  // why the last start failed; empty once it runs or is off
    std::unique_ptr<InputInjector> ownInjector_;
    std::unique_ptr<remote::RemoteHost> host_;  // last: stopped before the injector goes
};

// Starts the service when the settings or the command line ask for it; otherwise nothing
// is opened. A failure is written to standard error (the program runs on without it).
void StartRemoteIfWanted(RemoteCompanion& companion, const UserSettings& settings,
                         bool remoteSwitch);

}  // namespace qvm::ui
