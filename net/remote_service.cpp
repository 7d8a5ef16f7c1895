#include "net/remote_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

#include "base/event_fd.h"

namespace qvm::remote {
namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, as the timerfds

// How long the listeners rest when the process has no descriptor left for a connection.
constexpr auto kListenerRest = std::chrono::seconds(1);
// Connections a listener accepts at one wake, so that the other sockets are served between.
constexpr int kAcceptBatch = 16;

// ---- small socket helpers -------------------------------------------------------------

std::uint16_t BoundPort(int fd) {
    sockaddr_in in{};
    socklen_t len = sizeof in;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &len) != 0) return 0;
    return ntohs(in.sin_port);
}

// One of the service's sockets, bound (and listening for TCP). The error names the port.
Result<UniqueFd> OpenPort(int type, const Ipv4Address& address, std::uint16_t port) {
    const std::string name = "port " + std::to_string(port);
    UniqueFd fd(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        return MakeError(ErrorKind::Io, "cannot open " + name + ": " + std::strerror(errno));
    }
    const int on = 1;
    // TCP: a restarted service binds again while the old connections linger in TIME_WAIT.
    // UDP: announcements go to broadcast addresses from this socket.
    const int option = type == SOCK_STREAM ? SO_REUSEADDR : SO_BROADCAST;
    ::setsockopt(fd.get(), SOL_SOCKET, option, &on, sizeof on);
    const sockaddr_in in = SocketAddress(address, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&in), sizeof in) != 0) {
        if (errno == EADDRINUSE) return MakeError(ErrorKind::Io, name + " is in use");
        return MakeError(ErrorKind::Io, "cannot bind " + name + ": " + std::strerror(errno));
    }
    if (type == SOCK_STREAM && ::listen(fd.get(), SOMAXCONN) != 0) {
        return MakeError(ErrorKind::Io, "cannot listen on " + name + ": " + std::strerror(errno));
    }
    return fd;
}

void ArmTimer(int fd, std::chrono::nanoseconds first, std::chrono::nanoseconds period,
              int flags = 0) {
    auto toTimespec = [](std::chrono::nanoseconds d) {
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(d.count() / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(d.count() % 1'000'000'000);
        return ts;
    };
    itimerspec it{};
    it.it_value = toTimespec(first);
    it.it_interval = toTimespec(period);
    ::timerfd_settime(fd, flags, &it, nullptr);
}

void DisarmTimer(int fd) {
    ArmTimer(fd, {}, {});
}

// ---- outgoing bytes of one connection -------------------------------------------------

enum class Flush { Done, Blocked, Failed };

class Outbox {
  public:
    bool empty() const { return packets_.empty(); }
    void clear() {
        packets_.clear();
        offset_ = 0;
    }
    void push(Packet p) {
        if (!p.empty()) packets_.push_back(std::move(p));
    }
    void push(std::vector<Packet> ps) {
        for (Packet& p : ps) push(std::move(p));
    }
    // Sends what the socket takes now, never blocking.
    Flush FlushTo(int fd) {
        while (!packets_.empty()) {
            const Packet& p = packets_.front();
            const ssize_t n =
                ::send(fd, p.data() + offset_, p.size() - offset_, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno == EAGAIN || errno == EWOULDBLOCK ? Flush::Blocked : Flush::Failed;
            }
            offset_ += static_cast<std::size_t>(n);
            if (offset_ == p.size()) {
                packets_.pop_front();
                offset_ = 0;
            }
        }
        return Flush::Done;
    }

  private:
    std::deque<Packet> packets_;
    std::size_t offset_ = 0;  // bytes of the front packet already sent
};

// ---- the loop -------------------------------------------------------------------------

// What an epoll event belongs to: a kind, and for connections their index and generation
// (so that a late event of a closed connection is not taken for its successor's).
enum class Source : std::uint64_t {
    Wake = 1,
    ResendTimer,
    AnnounceTimer,
    DeadlineTimer,
    StatusListener,
    RequestListener,
    Datagram,
    StatusClient,
    Request,
};

std::uint64_t Key(Source s, std::uint32_t index = 0, std::uint32_t generation = 0) {
    return (static_cast<std::uint64_t>(s) << 56) |
           (static_cast<std::uint64_t>(generation & 0xFFFFFFu) << 32) | index;
}
Source KeySource(std::uint64_t key) {
    return static_cast<Source>(key >> 56);
}
std::uint32_t KeyIndex(std::uint64_t key) {
    return static_cast<std::uint32_t>(key);
}
std::uint32_t KeyGeneration(std::uint64_t key) {
    return static_cast<std::uint32_t>(key >> 32) & 0xFFFFFFu;
}

struct Connection {
    UniqueFd fd;
    std::uint32_t generation = 0;
    Outbox out;
};

struct StatusSlot : Connection {
    Packet current;  // resent while nothing changes
    bool watchingWrite = false;
};

struct RequestConnection : Connection {
    Clock::time_point deadline;
    bool answered = false;
};

struct Sockets {
    UniqueFd status, request, datagram;
};

class Loop {
  public:
    Loop(const RemoteServiceOptions& options, RemoteHandlers handlers, Sockets sockets,
         std::array<std::atomic<std::uint32_t>, kStatusSlots>& dirty, int wake,
         std::atomic<std::uint64_t>& wakeUps)
        : options_(options),
          handlers_(std::move(handlers)),
          sockets_(std::move(sockets)),
          dirty_(dirty),
          wake_(wake),
          wakeUps_(wakeUps),
          requests_(options.maxRequestConnections) {}

    // Everything the loop needs beyond the sockets; an error when the system refuses it.
    Status Prepare() {
        epoll_.reset(::epoll_create1(EPOLL_CLOEXEC));
        resendTimer_.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
        announceTimer_.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
        deadlineTimer_.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
        if (!epoll_ || !resendTimer_ || !announceTimer_ || !deadlineTimer_) {
            return MakeError(ErrorKind::Io, std::string("cannot start the service's loop: ") +
                                                std::strerror(errno));
        }
        const std::pair<int, Source> watched[] = {
            {wake_, Source::Wake},
            {resendTimer_.get(), Source::ResendTimer},
            {announceTimer_.get(), Source::AnnounceTimer},
            {deadlineTimer_.get(), Source::DeadlineTimer},
            {sockets_.status.get(), Source::StatusListener},
            {sockets_.request.get(), Source::RequestListener},
            {sockets_.datagram.get(), Source::Datagram},
        };
        for (const auto& [fd, source] : watched) {
            if (!Watch(EPOLL_CTL_ADD, fd, EPOLLIN, Key(source))) {
                return MakeError(
                    ErrorKind::Io,
                    std::string("cannot watch the service's sockets: ") + std::strerror(errno));
            }
        }
        DrainEventFd(wake_);  // marks made while stopped are for nobody
        if (handlers_.announcement) {
            ArmTimer(announceTimer_.get(), std::chrono::nanoseconds(1), options_.announceInterval);
        }
        return {};
    }

    void Run(const std::stop_token& stop) {
        std::array<epoll_event, 64> events{};
        while (!stop.stop_requested()) {
            const int n = ::epoll_wait(epoll_.get(), events.data(), events.size(), -1);
            wakeUps_.fetch_add(1, std::memory_order_relaxed);
            if (n < 0) {
                if (errno == EINTR) continue;
                return;  // the epoll descriptor itself failed: nothing more can be served
            }
            for (int i = 0; i < n && !stop.stop_requested(); ++i) Dispatch(events[i]);
        }
    }

  private:
    bool Watch(int op, int fd, std::uint32_t events, std::uint64_t key) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u64 = key;
        return ::epoll_ctl(epoll_.get(), op, fd, &ev) == 0;
    }

    void Dispatch(const epoll_event& ev) {
        const std::uint64_t key = ev.data.u64;
        switch (KeySource(key)) {
            case Source::Wake:
                DrainEventFd(wake_);
                for (std::size_t k = 0; k < kStatusSlots; ++k) {
                    if (slots_[k].fd && slots_[k].out.empty()) Pump(k, false);
                }
                break;
            case Source::ResendTimer:
                DrainEventFd(resendTimer_.get());
                for (std::size_t k = 0; k < kStatusSlots; ++k) {
                    if (slots_[k].fd && slots_[k].out.empty()) Pump(k, true);
                }
                break;
            case Source::AnnounceTimer:
                DrainEventFd(announceTimer_.get());
                Announce();
                break;
            case Source::DeadlineTimer:
                DrainEventFd(deadlineTimer_.get());
                ConnectionClosed();  // resting listeners try again
                CloseExpiredRequests();
                break;
            case Source::StatusListener:
                AcceptStatusClients();
                break;
            case Source::RequestListener:
                AcceptRequests();
                break;
            case Source::Datagram:
                ReceiveDatagrams();
                break;
            case Source::StatusClient:
                if (KeyIndex(key) < kStatusSlots &&
                    slots_[KeyIndex(key)].generation % 0x1000000u == KeyGeneration(key)) {
                    OnStatusClient(KeyIndex(key), ev.events);
                }
                break;
            case Source::Request:
                if (KeyIndex(key) < requests_.size() &&
                    requests_[KeyIndex(key)].generation % 0x1000000u == KeyGeneration(key)) {
                    OnRequest(KeyIndex(key), ev.events);
                }
                break;
        }
    }

    // Accepts one pending connection; -1 when there is none now. When the process is out
    // of descriptors the listeners rest until one of the service's connections closes, or
    // for a second at most, instead of spinning on a failing accept.
    int AcceptOne(int listener) {
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) return fd;
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                listenersResting_ = true;
                UpdateListeners();
                UpdateDeadlineTimer();
            }
            return -1;
        }
    }

    void UpdateListeners() {
        for (const auto& [fd, source] :
             {std::pair{sockets_.status.get(), Source::StatusListener},
              std::pair{sockets_.request.get(), Source::RequestListener}}) {
            Watch(EPOLL_CTL_MOD, fd, listenersResting_ ? 0u : EPOLLIN, Key(source));
        }
    }

    void ConnectionClosed() {
        if (listenersResting_) {
            listenersResting_ = false;
            UpdateListeners();
        }
    }

    void SetWriteInterest(StatusSlot& c, bool on, std::uint64_t key) {
        if (c.watchingWrite == on) return;
        c.watchingWrite = on;
        Watch(EPOLL_CTL_MOD, c.fd.get(), EPOLLIN | EPOLLRDHUP | (on ? EPOLLOUT : 0u), key);
    }

    // ---- the status stream --------------------------------------------------------

    std::uint64_t SlotKey(std::size_t k) const {
        return Key(Source::StatusClient, static_cast<std::uint32_t>(k), slots_[k].generation);
    }

    // At most kAcceptBatch connections a wake: each status connection has its lists built
    // and queued, so a flood of them would otherwise keep the request port waiting. The
    // listener stays readable and is served again on the next wake.
    void AcceptStatusClients() {
        for (int accepted = 0; accepted < kAcceptBatch; ++accepted) {
            UniqueFd fd(AcceptOne(sockets_.status.get()));
            if (!fd) return;
            // Slots are taken in turn: the 101st companion takes the first one's slot.
            const std::size_t k = nextSlot_;
            nextSlot_ = (nextSlot_ + 1) % kStatusSlots;
            CloseSlot(k);
            StatusSlot& slot = slots_[k];
            const int on = 1;
            ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            slot.fd = std::move(fd);
            ++slot.generation;
            slot.watchingWrite = false;
            if (!Watch(EPOLL_CTL_ADD, slot.fd.get(), EPOLLIN | EPOLLRDHUP, SlotKey(k))) {
                slot.fd.reset();
                continue;
            }
            if (connectedSlots_++ == 0) {
                ArmTimer(resendTimer_.get(), options_.resendInterval, options_.resendInterval);
            }
            dirty_[k].store(kStatusChanged | kListsChanged);
            if (handlers_.connectPackets) slot.out.push(handlers_.connectPackets());
            Pump(k, false);
        }
    }

    void CloseSlot(std::size_t k) {
        StatusSlot& slot = slots_[k];
        if (!slot.fd) return;
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, slot.fd.get(), nullptr);
        slot.fd.reset();
        slot.out.clear();
        slot.current.clear();
        if (--connectedSlots_ == 0) DisarmTimer(resendTimer_.get());  // idle: no wake-ups
        ConnectionClosed();
    }

    // Sends what is queued; once the queue is empty, a change builds the next packets, and
    // otherwise (on the resend pace) the last packet goes again.
    void Pump(std::size_t k, bool resend) {
        StatusSlot& slot = slots_[k];
        Flush state = slot.out.FlushTo(slot.fd.get());
        if (state == Flush::Done) {
            const std::uint32_t flags = dirty_[k].exchange(0);
            if (flags != 0) {
                Build(slot, flags);
            } else if (resend) {
                slot.out.push(slot.current);
            }
            state = slot.out.FlushTo(slot.fd.get());
        }
        if (state == Flush::Failed) {
            CloseSlot(k);
            return;
        }
        SetWriteInterest(slot, state == Flush::Blocked, SlotKey(k));
    }

    void Build(StatusSlot& slot, std::uint32_t flags) {
        if ((flags & kListsChanged) != 0 && handlers_.favouritePackets) {
            slot.out.push(handlers_.favouritePackets());
        }
        if (!handlers_.statusPackets) return;
        std::vector<Packet> packets = handlers_.statusPackets();
        if (packets.empty()) return;
        slot.current = packets.back();
        slot.out.push(std::move(packets));
    }

    void OnStatusClient(std::size_t k, std::uint32_t events) {
        if ((events & (EPOLLERR | EPOLLHUP | EPOLLRDHUP)) != 0) {
            CloseSlot(k);  // gone, or done sending: a companion never half-closes otherwise
            return;
        }
        if ((events & EPOLLIN) != 0) {
            // Companions send nothing here; whatever comes is read and dropped.
            std::array<std::uint8_t, 1024> sink{};
            const ssize_t n = ::recv(slots_[k].fd.get(), sink.data(), sink.size(), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                CloseSlot(k);
                return;
            }
        }
        if ((events & EPOLLOUT) != 0) Pump(k, false);
    }

    // ---- requests -----------------------------------------------------------------

    std::uint64_t RequestKey(std::size_t i) const {
        return Key(Source::Request, static_cast<std::uint32_t>(i), requests_[i].generation);
    }

    // With every place taken, the connection open longest gives way to the new one: silent
    // peers cannot hold the port against a companion that sends its request at once.
    void AcceptRequests() {
        for (int accepted = 0; accepted < kAcceptBatch; ++accepted) {
            UniqueFd fd(AcceptOne(sockets_.request.get()));
            if (!fd) break;
            if (openRequests_ == requests_.size()) {
                const auto oldest =
                    std::min_element(requests_.begin(), requests_.end(),
                                     [](const RequestConnection& a, const RequestConnection& b) {
                                         return a.deadline < b.deadline;
                                     });
                CloseRequest(static_cast<std::size_t>(oldest - requests_.begin()));
            }
            const auto free = std::find_if(requests_.begin(), requests_.end(),
                                           [](const RequestConnection& r) { return !r.fd; });
            const auto i = static_cast<std::size_t>(free - requests_.begin());
            RequestConnection& r = *free;
            r.fd = std::move(fd);
            ++r.generation;
            r.answered = false;
            r.deadline = Clock::now() + options_.requestTimeout;
            if (!Watch(EPOLL_CTL_ADD, r.fd.get(), EPOLLIN | EPOLLRDHUP, RequestKey(i))) {
                r.fd.reset();
                continue;
            }
            ++openRequests_;
        }
        UpdateDeadlineTimer();
    }

    void OnRequest(std::size_t i, std::uint32_t events) {
        RequestConnection& r = requests_[i];
        if (r.answered) {
            if ((events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0) SendReply(i);
            return;
        }
        // One receive of at most the request's size; what is not received reads as zero.
        std::array<std::uint8_t, kRequestSize> request{};
        const ssize_t n = ::recv(r.fd.get(), request.data(), request.size(), 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
        if (n <= 0) {
            CloseRequest(i);  // closed or failed before sending anything
            return;
        }
        r.answered = true;
        if (handlers_.request) {
            if (std::optional<Packet> reply = handlers_.request(request))
                r.out.push(std::move(*reply));
        }
        SendReply(i);
    }

    void SendReply(std::size_t i) {
        RequestConnection& r = requests_[i];
        const Flush state = r.out.FlushTo(r.fd.get());
        if (state == Flush::Blocked) {
            // Only the reply's room matters now: more input would wake the loop for nothing.
            Watch(EPOLL_CTL_MOD, r.fd.get(), EPOLLOUT, RequestKey(i));
            return;
        }
        ::shutdown(r.fd.get(), SHUT_RDWR);
        CloseRequest(i);
        // A request may have changed the state: every companion is told.
        for (auto& d : dirty_) d.fetch_or(kStatusChanged);
        SignalEventFd(wake_);
    }

    void CloseRequest(std::size_t i) {
        RequestConnection& r = requests_[i];
        if (!r.fd) return;
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, r.fd.get(), nullptr);
        r.fd.reset();
        r.out.clear();
        --openRequests_;
        ConnectionClosed();
        UpdateDeadlineTimer();
    }

    void CloseExpiredRequests() {
        const Clock::time_point now = Clock::now();
        for (std::size_t i = 0; i < requests_.size(); ++i) {
            if (requests_[i].fd && requests_[i].deadline <= now) CloseRequest(i);
        }
        UpdateDeadlineTimer();
    }

    // The deadline timer runs only while request connections are open or the listeners rest.
    void UpdateDeadlineTimer() {
        std::optional<Clock::time_point> first;
        for (const RequestConnection& r : requests_) {
            if (r.fd && (!first || r.deadline < *first)) first = r.deadline;
        }
        if (listenersResting_) {
            const Clock::time_point retry = Clock::now() + kListenerRest;
            first = first ? std::min(*first, retry) : retry;
        }
        if (!first) {
            DisarmTimer(deadlineTimer_.get());
            return;
        }
        // Absolute; a deadline already past fires at once.
        const auto at = std::max(first->time_since_epoch(), std::chrono::nanoseconds(1));
        ArmTimer(deadlineTimer_.get(), at, {}, TFD_TIMER_ABSTIME);
    }

    // ---- datagrams and announcements ----------------------------------------------

    void ReceiveDatagrams() {
        std::array<std::uint8_t, kDatagramBufferSize> buffer{};
        // A bounded batch, so that a flood cannot starve the other sockets.
        for (int batch = 0; batch < 64; ++batch) {
            sockaddr_in from{};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(sockets_.datagram.get(), buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) return;
                continue;  // an error of one datagram (e.g. an earlier reply refused) is skipped
            }
            if (!handlers_.datagram || from.sin_family != AF_INET) continue;
            std::optional<Packet> reply =
                handlers_.datagram(std::span(buffer.data(), static_cast<std::size_t>(n)));
            if (!reply || reply->empty()) continue;
            from.sin_port = htons(options_.companionPort);
            SendDatagram(*reply, from);
        }
    }

    void SendDatagram(const Packet& p, const sockaddr_in& to) {
        // Dropped when the socket's buffer is full: datagrams may be lost anyway.
        ::sendto(sockets_.datagram.get(), p.data(), p.size(), MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    void Announce() {
        std::vector<Ipv4Address> targets;
        if (options_.announceTargets) {
            targets = options_.announceTargets();
        } else if (auto local = LocalIpv4Addresses()) {
            for (const Ipv4Address& a : *local) targets.push_back(AnnouncementAddress(a));
        }
        if (targets.empty()) return;
        const Packet packet = handlers_.announcement();
        if (packet.empty()) return;
        for (const Ipv4Address& t : targets) {
            SendDatagram(packet, SocketAddress(t, options_.companionPort));
        }
    }

    const RemoteServiceOptions options_;
    const RemoteHandlers handlers_;
    Sockets sockets_;
    std::array<std::atomic<std::uint32_t>, kStatusSlots>& dirty_;
    const int wake_;
    std::atomic<std::uint64_t>& wakeUps_;
    UniqueFd epoll_, resendTimer_, announceTimer_, deadlineTimer_;

    std::array<StatusSlot, kStatusSlots> slots_;
    std::size_t nextSlot_ = 0;
    std::size_t connectedSlots_ = 0;
    std::vector<RequestConnection> requests_;
    std::size_t openRequests_ = 0;
    bool listenersResting_ = false;
};

Status CheckOptions(const RemoteServiceOptions& o) {
    using std::chrono::milliseconds;
    auto within = [](milliseconds v, milliseconds lo, milliseconds hi) {
        return v >= lo && v <= hi;
    };
    if (!within(o.requestTimeout, milliseconds(1), milliseconds(60'000))) {
        return MakeError(ErrorKind::BadInput, "the request time-out must be 1 ms to 60 s");
    }
    if (!within(o.resendInterval, milliseconds(1), milliseconds(10'000))) {
        return MakeError(ErrorKind::BadInput, "the resend interval must be 1 ms to 10 s");
    }
    if (!within(o.announceInterval, milliseconds(1), milliseconds(3'600'000))) {
        return MakeError(ErrorKind::BadInput, "the announcement interval must be 1 ms to 1 hour");
    }
    if (o.maxRequestConnections < 1 || o.maxRequestConnections > 1024) {
        return MakeError(ErrorKind::BadInput, "the request connections must be 1 to 1024");
    }
    if (o.companionPort == 0) {
        return MakeError(ErrorKind::BadInput, "the companion's port cannot be 0");
    }
    return {};
}

}  // namespace

RemoteService::RemoteService() : wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

RemoteService::~RemoteService() {
    Stop();
}

Status RemoteService::Start(const RemoteServiceOptions& options, RemoteHandlers handlers) {
    std::lock_guard lock(lifecycle_);
    if (loop_.joinable())
        return MakeError(ErrorKind::Other, "the companion service is already running");
    if (Status checked = CheckOptions(options); !checked) return checked;
    if (!wake_) return MakeError(ErrorKind::Io, "cannot create the service's wake-up counter");

    Sockets sockets;
    Result<UniqueFd> status = OpenPort(SOCK_STREAM, options.bindAddress, options.statusPort);
    if (!status) return status.error();
    Result<UniqueFd> datagram = OpenPort(SOCK_DGRAM, options.bindAddress, options.datagramPort);
    if (!datagram) return datagram.error();
    Result<UniqueFd> request = OpenPort(SOCK_STREAM, options.bindAddress, options.requestPort);
    if (!request) return request.error();
    const RemotePorts ports{BoundPort(status->get()), BoundPort(datagram->get()),
                            BoundPort(request->get())};
    sockets.status = std::move(*status);
    sockets.datagram = std::move(*datagram);
    sockets.request = std::move(*request);

    for (auto& d : dirty_) d.store(0);
    auto loop = std::make_unique<Loop>(options, std::move(handlers), std::move(sockets), dirty_,
                                       wake_.get(), wakeUps_);
    if (Status prepared = loop->Prepare(); !prepared) return prepared;
    ports_ = ports;
    // The loop and every socket it holds end with the thread.
    loop_ = std::jthread([loop = std::move(loop)](std::stop_token stop) { loop->Run(stop); });
    return {};
}

void RemoteService::Stop() {
    std::lock_guard lock(lifecycle_);
    if (!loop_.joinable()) return;
    loop_.request_stop();
    SignalEventFd(wake_.get());
    loop_.join();
    loop_ = std::jthread();
    ports_ = {};
}

bool RemoteService::Running() const {
    std::lock_guard lock(lifecycle_);
    return loop_.joinable();
}

RemotePorts RemoteService::Ports() const {
    std::lock_guard lock(lifecycle_);
    return ports_;
}

void RemoteService::MarkAllClientsDirty() {
    Mark(kStatusChanged);
}

void RemoteService::MarkFavouritesChanged() {
    Mark(kListsChanged);
}

void RemoteService::Mark(std::uint32_t bits) {
    for (auto& d : dirty_) d.fetch_or(bits);
    if (wake_) SignalEventFd(wake_.get());
}

}  // namespace qvm::remote
