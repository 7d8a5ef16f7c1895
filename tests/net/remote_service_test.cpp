#include "net/remote_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <thread>

#include "remote_service_rig.h"

namespace qvm::remote::service_test {
namespace {

using std::chrono::milliseconds;

// Reads status packets until `kind` with `number` comes; those before it must be of the
// `allowed` kinds. A stream that never brings it fails.
::testing::AssertionResult Await(int fd, char kind, int number, const std::string& allowed) {
    for (int i = 0; i < 5000; ++i) {
        const std::optional<Packet> p = ReadExact(fd);
        if (!p) return ::testing::AssertionFailure() << "stream ended before " << kind;
        if ((*p)[0] == kind && (*p)[1] == number) return ::testing::AssertionSuccess();
        if (allowed.find(char((*p)[0])) == std::string::npos) {
            return ::testing::AssertionFailure() << "unexpected packet " << char((*p)[0]);
        }
    }
    return ::testing::AssertionFailure() << "no " << kind << " in 5000 packets";
}

TEST(RemoteServiceStatus, NewClientGetsListsFavouritesStatusThenTheLastPacketAgain) {
    ServiceRig rig;
    ASSERT_TRUE(rig.Start());
    UniqueFd client = Connect(rig.Ports().status);
    std::string kinds;
    for (int i = 0; i < 9; ++i) {
        const std::optional<Packet> p = ReadExact(client.get());
        kinds += p ? std::string{char((*p)[0]), char('0' + (*p)[1])} : "<end>";
    }
    EXPECT_EQ(kinds,
              "L0L1F0F1"
              "90S0"
              "S0S0S0");
}

TEST(RemoteServiceStatus, ChangesReachConnectedClients) {
    struct Case {
        const char* name;
        std::function<void(ServiceRig&)> change;
        char first;  // the first packet that must come; the fresh status follows
    };
    const Case cases[] = {
        {"marked dirty", [](ServiceRig& r) { r.service.MarkAllClientsDirty(); }, 'S'},
        {"favourites changed", [](ServiceRig& r) { r.service.MarkFavouritesChanged(); }, 'F'},
        {"request answered",
         [](ServiceRig& r) {
             Ask(r.Ports().request, {0x0C, 0x12, 1});
         },
         'S'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceRig rig;
        ASSERT_TRUE(rig.Start());
        UniqueFd client = Connect(rig.Ports().status);
        ASSERT_TRUE(Await(client.get(), 'S', 0, "L9F"));
        rig.version = 1;
        std::thread([&] { c.change(rig); }).join();  // from another thread
        EXPECT_TRUE(Await(client.get(), c.first, 1, c.first == 'F' ? "S9F" : "S9"));
        EXPECT_TRUE(Await(client.get(), 'S', 1, "S9F"));
    }
}

TEST(RemoteServiceStatus, HundredFirstConnectionClosesTheFirst) {
    ServiceRig rig;
    ASSERT_TRUE(rig.Start());
    std::vector<UniqueFd> clients;
    for (std::size_t i = 0; i <= kStatusSlots; ++i) {
        clients.push_back(Connect(rig.Ports().status));
        ASSERT_TRUE(ReadExact(clients.back().get())) << i;  // accepted in this order
    }
    EXPECT_TRUE(ReadToEnd(clients[0].get()));
    for (std::size_t i : {std::size_t{1}, kStatusSlots}) {
        EXPECT_TRUE(Await(clients[i].get(), 'S', 0, "LF9S")) << i;
    }
}

// With nobody connected the loop sleeps: no resend pace runs on after the last one left.
TEST(RemoteServiceStatus, LoopSleepsOnceTheLastClientLeft) {
    ServiceRig rig;
    ASSERT_TRUE(rig.Start());
    for (int i = 0; i < 3; ++i) {
        UniqueFd client = Connect(rig.Ports().status);
        ASSERT_TRUE(Await(client.get(), 'S', 0, "L9F"));
    }
    std::uint64_t before = rig.service.WakeUps();
    bool settled = false;
    for (int i = 0; i < 50 && !settled; ++i) {
        std::this_thread::sleep_for(milliseconds(100));
        settled = std::exchange(before, rig.service.WakeUps()) == before;
    }
    EXPECT_TRUE(settled);
}

TEST(RemoteServiceRequest, OneReceiveOfAtMostHundredBytesPaddedWithZeros) {
    ServiceRig rig;
    ASSERT_TRUE(rig.Start());
    for (std::size_t sent : {1, 7, 100, 150}) {
        SCOPED_TRACE(sent);
        Packet request(sent);
        for (std::size_t i = 0; i < sent; ++i) request[i] = static_cast<std::uint8_t>(i + 1);
        for (std::uint8_t first : {0x63, 0xEE}) {  // answered, unanswered
            request[0] = first;
            EXPECT_EQ(Ask(rig.Ports().request, request),
                      first == 0xEE ? Packet{} : Tagged('R', first, 100));
            std::lock_guard lock(rig.seenMutex);
            Packet expected(request.begin(), request.begin() + std::min(sent, kRequestSize));
            expected.resize(kRequestSize, 0);
            EXPECT_EQ(rig.requestsSeen.back(), expected);
        }
    }
    // Closed without a request: after the time-out, or when the peer half-closes.
    for (bool halfClose : {false, true}) {
        UniqueFd fd = Connect(rig.Ports().request);
        if (halfClose) ::shutdown(fd.get(), SHUT_WR);
        EXPECT_EQ(ReadToEnd(fd.get()), Packet{}) << halfClose;
    }
    std::lock_guard lock(rig.seenMutex);
    EXPECT_EQ(rig.requestsSeen.size(), 8u);
}

TEST(RemoteServiceDatagram, RepliesGoToTheSendersAddressAtTheCompanionPort) {
    ServiceRig rig;
    ASSERT_TRUE(rig.Start());
    EXPECT_EQ(ReceiveDatagram(rig.companion.get()), Tagged('A', 0, 100));  // announced at start
    UniqueFd sender = Open(SOCK_DGRAM);
    const Packet datagrams[] = {{0x62, 0x01, 5, 0, 0xFB, 0xFF}, Packet(1500, 0x63), {0x63, 0}};
    for (const Packet& d : datagrams) SendTo(sender.get(), rig.Ports().datagram, d);
    EXPECT_EQ(ReceiveDatagram(rig.companion.get()), Tagged('A', 1, 100));
    EXPECT_FALSE(ReceiveDatagram(sender.get(), 100));  // never back to the sending port
    std::lock_guard lock(rig.seenMutex);
    ASSERT_EQ(rig.datagramsSeen.size(), 3u);
    EXPECT_EQ(rig.datagramsSeen[0], datagrams[0]);
    EXPECT_EQ(rig.datagramsSeen[1].size(), kDatagramBufferSize);
}

// Peers that misbehave, left connected while a companion asks and watches.
TEST(RemoteServiceHostile, ServiceStillAnswersAndStreams) {
    auto many = [](std::initializer_list<std::uint16_t> ports, int n) {
        std::vector<UniqueFd> fds;
        for (std::uint16_t port : ports) {
            for (int i = 0; i < n; ++i) fds.push_back(Connect(port));
        }
        return fds;
    };
    struct Case {
        const char* name;
        std::function<std::vector<UniqueFd>(const RemotePorts&)> attack;
        std::size_t connectPackets = 2;
    };
    const Case cases[] = {
        {"silent request peers beyond the limit", [&](auto& p) { return many({p.request}, 70); }},
        {"200 connections at once",
         [&](auto& p) {
             return many({p.status, p.request}, 200);
         }},
        {"one byte at a time",
         [&](auto& p) {
             std::vector<UniqueFd> fds = many({p.request}, 1);
             for (std::uint8_t b : {0x0C, 0x12, 0x03}) {
                 SendAll(fds[0].get(), {b});
                 std::this_thread::sleep_for(milliseconds(5));
             }
             return fds;
         }},
        {"random bytes on every port",
         [&](auto& p) {
             std::mt19937 random(17);
             std::vector<UniqueFd> fds = many({p.status, p.request}, 20);
             UniqueFd udp = Open(SOCK_DGRAM);
             for (UniqueFd& fd : fds) {
                 Packet junk(random() % 3000);
                 for (auto& b : junk) b = static_cast<std::uint8_t>(random());
                 SendAll(fd.get(), junk);
                 SendTo(udp.get(), p.datagram, junk);
             }
             return fds;
         }},
        {"half-closed sockets",
         [&](auto& p) {
             std::vector<UniqueFd> fds = many({p.status, p.request}, 10);
             for (UniqueFd& fd : fds) ::shutdown(fd.get(), SHUT_WR);
             return fds;
         }},
        // 1.2 MB each: more than a peer that does not read can buffer.
        {"status peers that never read", [&](auto& p) { return many({p.status}, 5); }, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceRig rig;
        rig.connectCount = c.connectPackets;
        RemoteServiceOptions options = rig.Options();
        options.requestTimeout = std::chrono::seconds(60);  // no peer is rescued by time-outs
        ASSERT_TRUE(rig.service.Start(options, rig.Handlers()));
        const std::vector<UniqueFd> attackers = c.attack(rig.Ports());
        EXPECT_EQ(Ask(rig.Ports().request, {0x63, 0x00}), Tagged('R', 0x63, 100));
        UniqueFd companion = Connect(rig.Ports().status);
        rig.version = 4;
        rig.service.MarkAllClientsDirty();
        EXPECT_TRUE(Await(companion.get(), 'S', 4, "LF9S"));
    }
}

TEST(RemoteServiceLifecycle, StopClosesEverySocketAndStartWorksAgain) {
    ServiceRig rig;
    ASSERT_TRUE(rig.Start());
    const RemotePorts ports = rig.Ports();
    UniqueFd status = Connect(ports.status);
    UniqueFd request = Connect(ports.request);
    ASSERT_TRUE(ReadExact(status.get()));
    rig.service.Stop();
    EXPECT_FALSE(rig.service.Running());
    EXPECT_TRUE(ReadToEnd(status.get()));
    EXPECT_TRUE(ReadToEnd(request.get()));
    EXPECT_FALSE(Connect(ports.status));
    EXPECT_FALSE(Connect(ports.request));
    RemoteServiceOptions options = rig.Options();
    options.datagramPort = ports.datagram;  // free again
    ASSERT_TRUE(rig.service.Start(options, rig.Handlers()));
    EXPECT_EQ(rig.Ports().datagram, ports.datagram);
    EXPECT_EQ(Ask(rig.Ports().request, {0x63}), Tagged('R', 0x63, 100));
}

TEST(RemoteServiceLifecycle, StartNamesTheBusyPortAndRefusesOptionsOutOfRange) {
    std::uint16_t busyUdpPort = 0, busyTcpPort = 0;
    UniqueFd busyUdp = Open(SOCK_DGRAM, 0, &busyUdpPort);
    UniqueFd busyTcp = Open(SOCK_STREAM, 0, &busyTcpPort);
    ASSERT_EQ(::listen(busyTcp.get(), 1), 0);
    auto inUse = [](std::uint16_t port) { return "port " + std::to_string(port) + " is in use"; };
    const std::pair<std::function<void(RemoteServiceOptions&)>, std::string> cases[] = {
        {[&](auto& o) { o.statusPort = busyTcpPort; }, inUse(busyTcpPort)},
        {[&](auto& o) { o.datagramPort = busyUdpPort; }, inUse(busyUdpPort)},
        {[&](auto& o) { o.requestPort = busyTcpPort; }, inUse(busyTcpPort)},
        {[](auto& o) { o.requestTimeout = {}; }, ""},
        {[](auto& o) { o.resendInterval = {}; }, ""},
        {[](auto& o) { o.announceInterval = {}; }, ""},
        {[](auto& o) { o.maxRequestConnections = 0; }, ""},
        {[](auto& o) { o.companionPort = 0; }, ""},
    };
    for (const auto& [change, message] : cases) {
        SCOPED_TRACE(message);
        ServiceRig rig;
        RemoteServiceOptions options = rig.Options();
        change(options);
        const Status started = rig.service.Start(options, rig.Handlers());
        ASSERT_FALSE(started);
        EXPECT_EQ(started.kind(), message.empty() ? ErrorKind::BadInput : ErrorKind::Io);
        EXPECT_NE(started.message().find(message), std::string::npos) << started.message();
        EXPECT_FALSE(rig.service.Running());
        ASSERT_TRUE(rig.Start());   // a failed start leaves nothing in the way
        EXPECT_FALSE(rig.Start());  // and a second start is refused
    }
}

}  // namespace
}  // namespace qvm::remote::service_test
