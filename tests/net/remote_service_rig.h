// A companion service on 127.0.0.1 with free ports and recognisable packets, and the
// blocking client calls the tests use. Every wait is bounded, so a fault fails a test
// instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <optional>

#include "net/remote_service.h"

namespace qvm::remote::service_test {

// A packet: its kind in byte 0, a number in byte 1, zeros to its size.
inline Packet Tagged(std::uint8_t kind, std::uint8_t number, std::size_t size = 400) {
    Packet p(size, 0);
    p[0] = kind;
    p[1] = number;
    return p;
}

inline sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    return in;
}

inline UniqueFd Open(int type, std::uint16_t connectTo = 0, std::uint16_t* boundPort = nullptr) {
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    sockaddr_in in = Loopback(connectTo);
    socklen_t len = sizeof in;
    auto* addr = reinterpret_cast<sockaddr*>(&in);
    if (connectTo != 0) return ::connect(fd.get(), addr, len) == 0 ? std::move(fd) : UniqueFd();
    ::bind(fd.get(), addr, len);
    ::getsockname(fd.get(), addr, &len);
    if (boundPort) *boundPort = ntohs(in.sin_port);
    return fd;
}
inline UniqueFd Connect(std::uint16_t port) {
    return Open(SOCK_STREAM, port);
}

inline bool WaitReadable(int fd, int ms = 10'000) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// Exactly n bytes; none when the peer closed or nothing came in time.
inline std::optional<Packet> ReadExact(int fd, std::size_t n = 400) {
    Packet p(n);
    for (std::size_t got = 0; got < n;) {
        const ssize_t r = WaitReadable(fd) ? ::recv(fd, p.data() + got, n - got, 0) : -1;
        if (r <= 0) return std::nullopt;
        got += static_cast<std::size_t>(r);
    }
    return p;
}

// What the peer sends until it closes (a reset counts as closed); none when it stays open.
inline std::optional<Packet> ReadToEnd(int fd) {
    Packet all;
    std::uint8_t chunk[4096];
    while (WaitReadable(fd)) {
        const ssize_t r = ::recv(fd, chunk, sizeof chunk, 0);
        if (r == 0 || (r < 0 && errno == ECONNRESET)) return all;
        if (r < 0) return std::nullopt;
        all.insert(all.end(), chunk, chunk + r);
    }
    return std::nullopt;
}

inline void SendAll(int fd, const Packet& bytes) {
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

inline void SendTo(int fd, std::uint16_t port, const Packet& bytes) {
    const sockaddr_in to = Loopback(port);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// One request connection: the bytes sent, the reply read to the end.
inline std::optional<Packet> Ask(std::uint16_t port, const Packet& request) {
    UniqueFd fd = Connect(port);
    if (!fd) return std::nullopt;
    SendAll(fd.get(), request);
    return ReadToEnd(fd.get());
}

inline std::optional<Packet> ReceiveDatagram(int fd, int ms = 10'000) {
    Packet p(2048);
    const ssize_t r = WaitReadable(fd, ms) ? ::recv(fd, p.data(), p.size(), 0) : -1;
    if (r < 0) return std::nullopt;
    p.resize(static_cast<std::size_t>(r));
    return p;
}

// Handlers whose packets say what they are: 'L' lists (numbered), 'F' favourites, '9' then
// 'S' carrying `version` for the status, 'R' replies carrying the request's first byte
// (none for 0xEE), 'A' the announcement (0) and the reply to a datagram 0x63 0x00 (1).
struct ServiceRig {
    std::uint16_t companionPort = 0;
    UniqueFd companion = Open(SOCK_DGRAM, 0, &companionPort);
    std::size_t connectCount = 2;
    std::atomic<int> version{0};
    std::mutex seenMutex;
    std::vector<Packet> requestsSeen, datagramsSeen;
    RemoteService service;  // last: it stops before the state its handlers use goes

    RemoteHandlers Handlers() {
        auto record = [this](std::vector<Packet>& seen, std::span<const std::uint8_t> bytes) {
            std::lock_guard lock(seenMutex);
            seen.emplace_back(bytes.begin(), bytes.end());
        };
        RemoteHandlers h;
        h.connectPackets = [this] {
            std::vector<Packet> ps;
            for (std::size_t i = 0; i < connectCount; ++i) ps.push_back(Tagged('L', i & 0xFF));
            return ps;
        };
        h.favouritePackets = [] { return std::vector<Packet>{Tagged('F', 0), Tagged('F', 1)}; };
        h.statusPackets = [this] {
            return std::vector<Packet>{Tagged('9', 0), Tagged('S', version.load() & 0xFF)};
        };
        h.request = [=, this](std::span<const std::uint8_t> r) -> std::optional<Packet> {
            record(requestsSeen, r);
            if (r[0] == 0xEE) return std::nullopt;
            return Tagged('R', r[0], 100);
        };
        h.datagram = [=, this](std::span<const std::uint8_t> d) -> std::optional<Packet> {
            record(datagramsSeen, d);
            if (d.size() < 2 || d[0] != 0x63 || d[1] != 0) return std::nullopt;
            return Tagged('A', 1, 100);
        };
        h.announcement = [] { return Tagged('A', 0, 100); };
        return h;
    }

    RemoteServiceOptions Options() const {
        RemoteServiceOptions o;
        o.bindAddress = {127, 0, 0, 1};
        o.statusPort = o.datagramPort = o.requestPort = 0;
        o.companionPort = companionPort;
        o.requestTimeout = std::chrono::milliseconds(300);
        o.announceInterval = std::chrono::hours(1);  // one announcement, at start
        o.announceTargets = [] { return std::vector<Ipv4Address>{{127, 0, 0, 1}}; };
        return o;
    }

    Status Start() { return service.Start(Options(), Handlers()); }
    RemotePorts Ports() const { return service.Ports(); }
};

}  // namespace qvm::remote::service_test
