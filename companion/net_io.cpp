#include "companion/net_io.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qvm::companion {

namespace {

using Clock = std::chrono::steady_clock;

Error NetError(const std::string& what, int error) {
    return MakeError(ErrorKind::Io, what + ": " + std::strerror(error));
}

sockaddr_in ToSockaddr(const Endpoint& to) {
    return remote::SocketAddress(to.address, to.port);
}

Endpoint FromSockaddr(const sockaddr_in& in) {
    Endpoint e;
    std::memcpy(e.address.data(), &in.sin_addr, e.address.size());
    e.port = ntohs(in.sin_port);
    return e;
}

int PollMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1'000'000));
}

// Waits for `events` on fd until `deadline`: 1 ready, 0 timed out, -1 failed (errno set).
int WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, PollMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

std::string TimeoutText(milliseconds timeout) {
    return std::to_string(timeout.count()) + " ms";
}

}  // namespace

Result<Ipv4Address> ResolveHost(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        return MakeError(ErrorKind::Io,
                         std::string("cannot find its IPv4 address: ") + ::gai_strerror(rc));
    }
    Ipv4Address address =
        FromSockaddr(*reinterpret_cast<const sockaddr_in*>(found->ai_addr)).address;
    ::freeaddrinfo(found);
    return address;
}

Result<UniqueFd> ConnectTcp(const Endpoint& to, milliseconds timeout) {
    const std::string where = AddressText(to.address) + " port " + std::to_string(to.port);
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return NetError("cannot open a socket", errno);
    const sockaddr_in in = ToSockaddr(to);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&in), sizeof in) != 0) {
        if (errno != EINPROGRESS) return NetError("cannot connect to " + where, errno);
        const int ready = WaitFor(fd.get(), POLLOUT, Clock::now() + timeout);
        if (ready < 0) return NetError("cannot connect to " + where, errno);
        if (ready == 0) {
            return MakeError(ErrorKind::Io, "cannot connect to " + where + ": no answer within " +
                                                TimeoutText(timeout));
        }
        int error = 0;
        socklen_t len = sizeof error;
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len);
        if (error != 0) return NetError("cannot connect to " + where, error);
    }
    return fd;
}

Status SendAll(int fd, std::span<const std::uint8_t> bytes, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return NetError("cannot send", errno);
        const int ready = WaitFor(fd, POLLOUT, deadline);
        if (ready < 0) return NetError("cannot send", errno);
        if (ready == 0) {
            return MakeError(ErrorKind::Io, "the service took nothing for " + TimeoutText(timeout));
        }
    }
    return {};
}

namespace {

// One receive once data is there: bytes read, 0 when the peer closed.
Result<std::size_t> ReceiveSome(int fd, std::span<std::uint8_t> into, milliseconds timeout) {
    for (;;) {
        const int ready = WaitFor(fd, POLLIN, Clock::now() + timeout);
        if (ready < 0) return NetError("cannot read", errno);
        if (ready == 0) {
            return MakeError(ErrorKind::Io,
                             "nothing came from the service for " + TimeoutText(timeout));
        }
        const ssize_t n = ::recv(fd, into.data(), into.size(), 0);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == ECONNRESET) return std::size_t{0};
        if (errno != EAGAIN && errno != EINTR) return NetError("cannot read", errno);
    }
}

}  // namespace

Status ReadExact(int fd, std::span<std::uint8_t> into, milliseconds timeout) {
    while (!into.empty()) {
        Result<std::size_t> n = ReceiveSome(fd, into, timeout);
        if (!n) return n.error();
        if (*n == 0) return MakeError(ErrorKind::Io, "the service closed the connection");
        into = into.subspan(*n);
    }
    return {};
}

Result<std::size_t> ReadUntilClosed(int fd, std::span<std::uint8_t> into, milliseconds timeout) {
    std::size_t kept = 0;
    std::uint8_t spill[512];
    for (;;) {
        const std::span<std::uint8_t> target =
            kept < into.size() ? into.subspan(kept) : std::span<std::uint8_t>(spill);
        Result<std::size_t> n = ReceiveSome(fd, target, timeout);
        if (!n) return n.error();
        if (*n == 0) return kept;
        if (kept < into.size()) kept += *n;
    }
}

Result<UniqueFd> BindUdp(std::uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd) return NetError("cannot open a socket", errno);
    const int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    const sockaddr_in in = ToSockaddr({{0, 0, 0, 0}, port});
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&in), sizeof in) != 0) {
        return NetError("cannot listen on UDP port " + std::to_string(port), errno);
    }
    return fd;
}

Status SendDatagram(int fd, const Endpoint& to, std::span<const std::uint8_t> bytes) {
    const sockaddr_in in = ToSockaddr(to);
    if (::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&in),
                 sizeof in) < 0) {
        return NetError(
            "cannot send to " + AddressText(to.address) + " port " + std::to_string(to.port),
            errno);
    }
    return {};
}

Result<std::optional<Datagram>> ReceiveDatagram(int fd, std::span<std::uint8_t> into,
                                                Clock::time_point deadline) {
    for (;;) {
        const int ready = WaitFor(fd, POLLIN, deadline);
        if (ready < 0) return NetError("cannot receive", errno);
        if (ready == 0) return std::optional<Datagram>();
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd, into.data(), into.size(), MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return NetError("cannot receive", errno);
        }
        return std::optional<Datagram>(
            Datagram{FromSockaddr(from), std::min(static_cast<std::size_t>(n), into.size())});
    }
}

}  // namespace qvm::companion
