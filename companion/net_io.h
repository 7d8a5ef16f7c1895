// The companion's side of the sockets: IPv4 only, every wait bounded by a timeout, and
// every failure a message that says what could not be done and why.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "base/result.h"
#include "base/unique_fd.h"
#include "net/local_addresses.h"

namespace qvm::companion {

using remote::Ipv4Address;
using std::chrono::milliseconds;

struct Endpoint {
    Ipv4Address address{};
    std::uint16_t port = 0;
};

using remote::AddressText;

// A dotted IPv4 address or a host name that has one; the error does not repeat the name.
Result<Ipv4Address> ResolveHost(const std::string& host);

// A TCP connection to `to`, given up after `timeout`.
Result<UniqueFd> ConnectTcp(const Endpoint& to, milliseconds timeout);

// Sends every byte or fails; a peer that takes nothing for `timeout` fails.
Status SendAll(int fd, std::span<const std::uint8_t> bytes, milliseconds timeout);

// Fills `into` exactly. Fails when the peer closes first (a closed stream is not a packet)
// or nothing comes for `timeout`.
Status ReadExact(int fd, std::span<std::uint8_t> into, milliseconds timeout);

// What the peer sends until it closes the connection, at most `into.size()` bytes kept
// (the rest is read and dropped); fails when it stays open past `timeout`.
Result<std::size_t> ReadUntilClosed(int fd, std::span<std::uint8_t> into, milliseconds timeout);

// A UDP socket bound to `port` on every local address, allowed to broadcast.
Result<UniqueFd> BindUdp(std::uint16_t port);

Status SendDatagram(int fd, const Endpoint& to, std::span<const std::uint8_t> bytes);

struct Datagram {
    Endpoint from;
    std::size_t size = 0;  // bytes kept in the caller's buffer
};
// The next datagram, or nothing once `deadline` has passed.
Result<std::optional<Datagram>> ReceiveDatagram(int fd, std::span<std::uint8_t> into,
                                                std::chrono::steady_clock::time_point deadline);

}  // namespace qvm::companion
