#include "platform/named_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/unique_fd.h"

namespace qvm {
namespace {

// The content of a pulse; only its arrival matters.
constexpr std::byte kPulseByte{1};
// Room for one datagram of any size we might be sent; the content is discarded.
constexpr std::size_t kDrainBufferSize = 64;

std::string SystemMessage(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// An abstract-namespace address: a leading zero byte, then the name without a terminator.
struct SocketAddress {
    sockaddr_un addr{};
    socklen_t length = 0;
};

EventResult<SocketAddress> AddressOf(const std::string& eventName) {
    if (eventName.empty()) return {EventFailure::kSystem, "an event needs a name"};
    if (eventName.find('\0') != std::string::npos || eventName.find('@') != std::string::npos) {
        return {EventFailure::kSystem, "event name \"" + eventName + "\" holds '@' or a zero byte"};
    }
    const std::string socketName = EventSocketName(eventName);
    SocketAddress address;
    if (socketName.size() + 1 > sizeof(address.addr.sun_path)) {
        return {EventFailure::kSystem, "event name \"" + eventName + "\" is too long"};
    }
    address.addr.sun_family = AF_UNIX;
    address.addr.sun_path[0] = '\0';
    std::memcpy(address.addr.sun_path + 1, socketName.data(), socketName.size());
    address.length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + socketName.size());
    return address;
}

const sockaddr* AsSockaddr(const SocketAddress& address) {
    return reinterpret_cast<const sockaddr*>(&address.addr);
}

UniqueFd NewDatagramSocket() {
    return UniqueFd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

// Sends one pulse to the address. Nobody bound (ECONNREFUSED) or a full queue of unseen
// pulses (EAGAIN) drops it: both mean no waiter needs another wake-up.
Status SendPulse(int fd, const SocketAddress& to, const std::string& eventName) {
    for (;;) {
        if (::sendto(fd, &kPulseByte, sizeof kPulseByte, MSG_NOSIGNAL, AsSockaddr(to), to.length) >=
            0) {
            return {};
        }
        const int error = errno;
        if (error == EINTR) continue;
        if (error == ECONNREFUSED || error == ECONNRESET || error == EAGAIN ||
            error == EWOULDBLOCK) {
            return {};
        }
        return MakeError(SystemMessage("cannot pulse event " + eventName, error));
    }
}

class SocketEvent final : public NamedEvent {
  public:
    SocketEvent(std::string name, SocketAddress address, UniqueFd fd)
        : name_(std::move(name)), address_(address), fd_(std::move(fd)) {}

    const std::string& Name() const override { return name_; }

    Status Pulse() override { return SendPulse(fd_.get(), address_, name_); }

    Result<WaitOutcome> Wait(std::stop_token stop) override {
        if (stop.stop_requested()) return WaitOutcome::kStopped;
        // The stop callback writes this counter, so a stop wakes poll() at once and a
        // waiter never needs a periodic time-out to notice it.
        UniqueFd stopFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!stopFd) return MakeError(SystemMessage("cannot wait on event " + name_, errno));
        std::stop_callback wake(stop, [fd = stopFd.get()] {
            const std::uint64_t one = 1;
            // A full counter still reads as readable, so a failed write changes nothing.
            [[maybe_unused]] ssize_t written = ::write(fd, &one, sizeof one);
        });
        for (;;) {
            std::array<pollfd, 2> fds{{{fd_.get(), POLLIN, 0}, {stopFd.get(), POLLIN, 0}}};
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return MakeError(SystemMessage("cannot wait on event " + name_, errno));
            }
            if (fds[1].revents != 0 || stop.stop_requested()) return WaitOutcome::kStopped;
            Result<bool> taken = TryWait();
            if (!taken) return taken.error();
            if (*taken) return WaitOutcome::kPulsed;
        }
    }

    Result<bool> TryWait() override {
        bool any = false;
        std::array<std::byte, kDrainBufferSize> buffer{};
        for (;;) {
            if (::recv(fd_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0) {
                any = true;
                continue;
            }
            const int error = errno;
            if (error == EINTR) continue;
            if (error == EAGAIN || error == EWOULDBLOCK) return any;
            return MakeError(SystemMessage("cannot read event " + name_, error));
        }
    }

  private:
    std::string name_;
    SocketAddress address_;
    UniqueFd fd_;
};

class SocketSender final : public EventSender {
  public:
    SocketSender(std::string name, SocketAddress address, UniqueFd fd)
        : name_(std::move(name)), address_(address), fd_(std::move(fd)) {}

    // Each pulse is addressed by name, so a sender opened before the owner restarted
    // reaches the new owner.
    Status Pulse() override { return SendPulse(fd_.get(), address_, name_); }

  private:
    std::string name_;
    SocketAddress address_;
    UniqueFd fd_;
};

class SocketEventFactory final : public EventFactory {
  public:
    EventResult<std::unique_ptr<NamedEvent>> Create(const std::string& name) override {
        EventResult<SocketAddress> address = AddressOf(name);
        if (!address) return {address.failure(), address.message()};
        UniqueFd fd = NewDatagramSocket();
        if (!fd)
            return {EventFailure::kSystem, SystemMessage("cannot create event " + name, errno)};
        if (::bind(fd.get(), AsSockaddr(*address), address->length) != 0) {
            const int error = errno;
            if (error == EADDRINUSE) {
                return {EventFailure::kAlreadyExists, "event " + name + " already exists"};
            }
            return {EventFailure::kSystem, SystemMessage("cannot create event " + name, error)};
        }
        return std::unique_ptr<NamedEvent>(
            std::make_unique<SocketEvent>(name, *address, std::move(fd)));
    }

    EventResult<std::unique_ptr<EventSender>> Open(const std::string& name) override {
        EventResult<SocketAddress> address = AddressOf(name);
        if (!address) return {address.failure(), address.message()};
        UniqueFd probe = NewDatagramSocket();
        UniqueFd fd = NewDatagramSocket();
        if (!probe || !fd) {
            return {EventFailure::kSystem, SystemMessage("cannot open event " + name, errno)};
        }
        // connect() on a datagram socket only checks that the name is bound. Pulses go out
        // on a second, unconnected socket, which the owner's exit cannot leave with a
        // pending connection error.
        if (::connect(probe.get(), AsSockaddr(*address), address->length) != 0) {
            const int error = errno;
            if (error == ECONNREFUSED || error == ENOENT) {
                return {EventFailure::kNotFound, "event " + name + " not found"};
            }
            return {EventFailure::kSystem, SystemMessage("cannot open event " + name, error)};
        }
        return std::unique_ptr<EventSender>(
            std::make_unique<SocketSender>(name, *address, std::move(fd)));
    }
};

}  // namespace

std::string EventSocketName(std::string_view eventName) {
    return std::string(eventName) + "@" + std::to_string(::getuid());
}

EventFactory& SystemEventFactory() {
    static SocketEventFactory factory;
    return factory;
}

}  // namespace qvm
