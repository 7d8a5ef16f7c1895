// The computer's IPv4 addresses on the local networks, for the companion service's
// announcements and for showing the user where the service can be reached.
#pragma once

#include <ifaddrs.h>
#include <netinet/in.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"

namespace qvm::remote {

using Ipv4Address = std::array<unsigned char, 4>;  // a.b.c.d, in that order

// At most this many addresses are kept; a machine with more announces on the first ones.
inline constexpr std::size_t kMaxLocalAddresses = 100;

// The IPv4 addresses of the interfaces that are up, in the order the system lists them:
// loopback interfaces and 127.0.0.1 are skipped, as are other families and duplicates.
std::vector<Ipv4Address> SelectLocalAddresses(const ifaddrs* list);

// The same for this machine's interfaces now (getifaddrs).
Result<std::vector<Ipv4Address>> LocalIpv4Addresses();

// The socket address of `address` and `port`, for bind, connect and sendto.
sockaddr_in SocketAddress(const Ipv4Address& address, std::uint16_t port);

// "a.b.c.d"
std::string AddressText(const Ipv4Address& address);

// Where announcements for a local address a.b.c.d go: a.b.c.255.
Ipv4Address AnnouncementAddress(const Ipv4Address& local);

}  // namespace qvm::remote
