#include "net/local_addresses.h"

#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace qvm::remote {

std::vector<Ipv4Address> SelectLocalAddresses(const ifaddrs* list) {
    std::vector<Ipv4Address> out;
    for (const ifaddrs* it = list; it != nullptr && out.size() < kMaxLocalAddresses;
         it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        if ((it->ifa_flags & IFF_UP) == 0 || (it->ifa_flags & IFF_LOOPBACK) != 0) continue;
        sockaddr_in in{};
        std::memcpy(&in, it->ifa_addr, sizeof in);
        Ipv4Address a;
        std::memcpy(a.data(), &in.sin_addr.s_addr, a.size());  // network order is a.b.c.d
        if (a == Ipv4Address{127, 0, 0, 1}) continue;
        if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
    }
    return out;
}

Result<std::vector<Ipv4Address>> LocalIpv4Addresses() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return MakeError(ErrorKind::Io,
                         std::string("cannot list the network addresses: ") + std::strerror(errno));
    }
    std::vector<Ipv4Address> out = SelectLocalAddresses(list);
    ::freeifaddrs(list);
    return out;
}

sockaddr_in SocketAddress(const Ipv4Address& address, std::uint16_t port) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    std::memcpy(&in.sin_addr.s_addr, address.data(), address.size());
    return in;
}

Ipv4Address AnnouncementAddress(const Ipv4Address& local) {
    return {local[0], local[1], local[2], 255};
}

std::string AddressText(const Ipv4Address& a) {
    return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
           std::to_string(a[3]);
}

}  // namespace qvm::remote
