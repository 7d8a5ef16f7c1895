// The companion service of the running program: the sockets of RemoteService, fed from the
// device hub and answering companions' requests.
//
// A request that changes the mouse goes the same way as the window's own change: one
// queued DeviceHub::Change calling the configuration model's setter, so the device sees
// one writer and the window hears of it as of its own change. Requests for a mouse that is
// not there (none, away, a keyboard, an uninitialised memory) or that the loaded mouse
// cannot take (a profile, button or DPI value out of its range) are dropped without a
// word: a companion's mistake never reaches the window as an error.
//
// Every handler runs on the service's one thread. The injector is used from there alone,
// so the owner gives the service an injector of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "net/remote_lists.h"
#include "net/remote_service.h"
#include "platform/input_injector.h"
#include "session/device_hub.h"

namespace qvm::remote {

struct RemoteHostOptions {
    RemoteServiceOptions service;
    // The PIN of the announcements: 0..kMaxPin ("pin" of the start-up settings).
    int pin = 0;
    // The name companions are shown; empty: the computer's host name, asked each time.
    std::string computerName;
    // The favourite functions offered at connection (see FavouritesFromLibrary).
    std::vector<FavouriteFunction> favourites;
};

class RemoteHost {
  public:
    // `hub` and `injector` outlive the host.
    RemoteHost(DeviceHub& hub, InputInjector& injector);
    ~RemoteHost();
    RemoteHost(const RemoteHost&) = delete;
    RemoteHost& operator=(const RemoteHost&) = delete;

    // Opens the sockets; a PIN out of 0..kMaxPin is refused (BadInput), as are the
    // service's own bad options and ports in use.
    Status Start(const RemoteHostOptions& options);
    void Stop();
    bool Running() const { return service_.Running(); }
    RemotePorts Ports() const { return service_.Ports(); }
    // How often the service's loop has woken (see RemoteService::WakeUps).
    std::uint64_t WakeUps() const { return service_.WakeUps(); }

    // The hub's view changed (its listener's viewChanged): every companion gets the new
    // state. A request's change is queued on the hub and lands after the request's
    // connection closed, so this is how companions see it. Callable from any thread.
    void ViewChanged() { service_.MarkAllClientsDirty(); }
    // The device events of the last second, shown by companions.
    void SetEventRate(uint16_t eventsPerSecond);
    // A new favourite list: every companion gets it again.
    void SetFavourites(std::vector<FavouriteFunction> favourites);

    // The packet handlers, as the service calls them on its thread.
    std::vector<Packet> ConnectPackets() const;
    std::vector<Packet> FavouritePackets() const;
    std::vector<Packet> StatusPackets() const;
    std::optional<Packet> Request(std::span<const uint8_t> received);
    std::optional<Packet> Datagram(std::span<const uint8_t> received);
    Packet AnnouncementPacket() const;

  private:
    std::string ComputerName() const;

    DeviceHub& hub_;
    InputInjector& injector_;
    std::string computerName_;  // set before the service starts, read by its thread only
    uint32_t pin_ = 0;
    std::atomic<uint16_t> eventRate_{0};
    mutable std::mutex favouritesMutex_;  // leaf
    std::vector<FavouriteFunction> favourites_;
    RemoteService service_;  // last: stopped before the state its handlers read goes
};

// The name this computer is known by on the network; empty when the system cannot tell.
std::string LocalComputerName();

}  // namespace qvm::remote
