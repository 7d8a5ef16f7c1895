// The companion service's sockets: the status stream, the request port, the datagram port
// and the announcer, all run by one event loop on one thread.
//
// The service knows nothing of the packets' contents: the caller hands it functions that
// build the packets and answer requests (RemoteHandlers), and it moves their bytes. The
// handlers run on the service's thread, so whatever they read must be safe to read from
// there; they hold every companion while they run, so they are kept short, and they never
// call Stop() (the thread cannot join itself). MarkAllClientsDirty() is fine from them.
//
// Nothing here opens a socket before Start(): whether the service runs at all is the
// caller's decision.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"
#include "net/local_addresses.h"
#include "net/remote_packets.h"

namespace qvm::remote {

using Packet = std::vector<std::uint8_t>;

struct RemoteHandlers {
    // What a new status connection gets first (the lists), before anything else.
    std::function<std::vector<Packet>()> connectPackets;
    // The favourite-function packets: at connection and after MarkFavouritesChanged().
    std::function<std::vector<Packet>()> favouritePackets;
    // The current state: its last packet is the one resent while nothing changes.
    std::function<std::vector<Packet>()> statusPackets;
    // One request (always kRequestSize long, zero-padded) -> the reply, or none.
    std::function<std::optional<Packet>(std::span<const std::uint8_t>)> request;
    // One datagram (as received) -> the reply sent to the sender's companion port, or none.
    std::function<std::optional<Packet>(std::span<const std::uint8_t>)> datagram;
    // The announcement; without it nothing is announced.
    std::function<Packet()> announcement;
};

struct RemoteServiceOptions {
    // The address the three sockets bind to; any address in use, 127.0.0.1 in tests.
    Ipv4Address bindAddress{0, 0, 0, 0};
    // 0 picks a free port (tests); Ports() tells which.
    std::uint16_t statusPort = kStatusPort;
    std::uint16_t datagramPort = kDatagramPort;
    std::uint16_t requestPort = kRequestPort;
    // The companion's datagram port: discovery replies and announcements go there.
    std::uint16_t companionPort = kCompanionPort;
    // A request connection that sends nothing (or takes no reply) for this long is closed.
    std::chrono::milliseconds requestTimeout{2000};
    // While status clients are connected, each gets its last packet again this often.
    std::chrono::milliseconds resendInterval{22};
    std::chrono::milliseconds announceInterval{10000};
    // Request connections open at once; a further one closes the one open longest.
    std::size_t maxRequestConnections = 64;
    // Where announcements go; empty means a.b.c.255 for every local address a.b.c.d,
    // asked again at every announcement.
    std::function<std::vector<Ipv4Address>()> announceTargets;
};

// The ports actually bound (those asked for, or the ones picked for 0).
struct RemotePorts {
    std::uint16_t status = 0;
    std::uint16_t datagram = 0;
    std::uint16_t request = 0;
};

inline constexpr std::size_t kStatusSlots = 100;
// Dirty flags of a status slot.
inline constexpr std::uint32_t kStatusChanged = 1u << 0;
inline constexpr std::uint32_t kListsChanged = 1u << 1;

class RemoteService {
  public:
    RemoteService();
    ~RemoteService();
    RemoteService(const RemoteService&) = delete;
    RemoteService& operator=(const RemoteService&) = delete;

    // Binds the three sockets and starts the loop. The error names the port that could not
    // be bound ("port 42180 is in use"); options out of range are refused (BadInput).
    Status Start(const RemoteServiceOptions& options, RemoteHandlers handlers);
    // Closes every socket at once and joins the loop's thread. Safe when not running.
    void Stop();
    bool Running() const;
    RemotePorts Ports() const;

    // Every connected companion gets a fresh status packet. Callable from any thread.
    void MarkAllClientsDirty();
    // Every connected companion gets the favourite-function packets again, then the status.
    void MarkFavouritesChanged();

    // How often the loop has woken since construction: an idle service stays put.
    std::uint64_t WakeUps() const { return wakeUps_.load(); }

  private:
    void Mark(std::uint32_t bits);

    // The slots' dirty flags are set by any thread and taken by the loop with one atomic
    // exchange, so that no change is lost.
    std::array<std::atomic<std::uint32_t>, kStatusSlots> dirty_{};
    std::atomic<std::uint64_t> wakeUps_{0};
    UniqueFd wake_;                 // eventfd: wakes the loop for dirty flags and for Stop()
    mutable std::mutex lifecycle_;  // Start/Stop/Ports; never held by the loop
    RemotePorts ports_;
    std::jthread loop_;
};

}  // namespace qvm::remote
