#include "net/local_addresses.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

namespace qvm::remote {
namespace {

TEST(LocalAddresses, KeepsTheUpNonLoopbackIpv4AddressesOnce) {
    struct Row {
        int family;
        unsigned flags;
        Ipv4Address address;
    };
    const Row rows[] = {
        {AF_INET, IFF_UP | IFF_LOOPBACK, {127, 0, 0, 1}},
        {AF_INET, IFF_UP, {192, 168, 1, 20}},
        {AF_INET6, IFF_UP, {}},
        {AF_INET, 0, {10, 0, 0, 5}},        // down
        {AF_INET, IFF_UP, {127, 0, 0, 1}},  // the loopback address elsewhere
        {AF_INET, IFF_UP, {10, 1, 2, 3}},
        {AF_INET, IFF_UP, {192, 168, 1, 20}},  // the same address again
    };
    sockaddr_storage addresses[std::size(rows)]{};
    ifaddrs list[std::size(rows)]{};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        addresses[i].ss_family = static_cast<sa_family_t>(rows[i].family);
        std::memcpy(&reinterpret_cast<sockaddr_in&>(addresses[i]).sin_addr, rows[i].address.data(),
                    4);
        list[i] = {i + 1 < std::size(rows) ? &list[i + 1] : nullptr,
                   nullptr,
                   rows[i].flags,
                   reinterpret_cast<sockaddr*>(&addresses[i]),
                   nullptr,
                   {},
                   nullptr};
    }
    const std::vector<Ipv4Address> expected{{192, 168, 1, 20}, {10, 1, 2, 3}};
    EXPECT_EQ(SelectLocalAddresses(list), expected);
    EXPECT_EQ(AnnouncementAddress(expected[1]), (Ipv4Address{10, 1, 2, 255}));
}

}  // namespace
}  // namespace qvm::remote
