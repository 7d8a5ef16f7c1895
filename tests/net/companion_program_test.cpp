// The qvm-companion program run as users run it, against a companion service of the test's
// own on 127.0.0.1: the exact request each command sends, the names it finds, the status
// changes it prints, and what it refuses or reports when the arguments or the network fail.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <mutex>
#include <vector>

#include "net/remote_lists.h"
#include "net/remote_service.h"
#include "run_companion.h"

namespace qvm::remote::companion_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kComputer = "Büro-PC";
constexpr std::uint32_t kPin = 42;

// A socket bound to a free port of 127.0.0.1, and the port.
UniqueFd Bound(int type, std::uint16_t& port) {
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    sockaddr_in in{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof in;
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&in), len);
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&in), &len);
    port = ntohs(in.sin_port);
    return fd;
}

// A port nothing listens on now, for a companion to hear on or to fail at.
std::string FreePort(int type) {
    std::uint16_t port = 0;
    Bound(type, port);
    return std::to_string(port);
}

RemoteStatusInput Status(int profile, const std::string& name, std::size_t buttons = 2) {
    RemoteStatusInput in;
    in.profile = profile;
    in.profileName = name;
    in.colour = {0xFF, 0x80, 0x01};
    in.extendedColours = true;
    in.currentStage = 1;
    in.dpiMax = 100;
    in.stages = {{{16, 16}, {32, 48}, {240, 1}, {0, 0}, {100, 100}}};
    in.buttons = {RemoteButton{{1, 2, 3, 4}}, RemoteButton{{0x0A, 0, 0, 0xFF}}};
    in.buttons.resize(buttons);
    return in;
}

Bytes AsBytes(std::span<const std::uint8_t> packet) {
    return Bytes(packet.begin(), packet.end());
}

// A service that answers with real packets and keeps every request it got.
struct Service {
    std::mutex mutex;
    std::vector<Bytes> requests;
    std::vector<Packet> status{AsBytes(BuildNoDevicePacket())};
    std::string companionPort = FreePort(SOCK_DGRAM);
    RemoteService service;  // last: it stops before what its handlers use goes

    Service() {
        RemoteHandlers h;
        h.connectPackets = [] {
            RemoteListSource lists;
            lists.keyNames = {{4, "A"}, {5, "B"}, {6, "C"}};
            lists.functionTypes = {"Mouse", "Key"};
            lists.buttonPairs = {{1, 2}};
            lists.companionWords = {"OK"};
            std::vector<Packet> packets;
            for (const StreamPacket& p : BuildConnectionLists(lists)) packets.push_back(AsBytes(p));
            return packets;
        };
        h.favouritePackets = [] {
            const FavouriteFunction items[] = {{{1, 2, 3, 4}, "Copy"}, {{1, 0, 0, 0}, "Click"}};
            std::vector<Packet> packets;
            for (const StreamPacket& p : BuildFavouritePackets(items))
                packets.push_back(AsBytes(p));
            return packets;
        };
        h.statusPackets = [this] {
            std::lock_guard lock(mutex);
            return status;
        };
        h.request = [this](std::span<const std::uint8_t> r) -> std::optional<Packet> {
            std::lock_guard lock(mutex);
            requests.push_back(AsBytes(r));
            if (std::holds_alternative<NameRequest>(DecodeRequest(r, kExtendedButtonCount))) {
                return AsBytes(BuildNameReply(kComputer));
            }
            return std::nullopt;
        };
        h.datagram = [](std::span<const std::uint8_t> d) -> std::optional<Packet> {
            if (!std::holds_alternative<Discovery>(DecodeDatagram(d))) return std::nullopt;
            return AsBytes(BuildAnnouncement(kComputer, kPin));
        };
        RemoteServiceOptions o;
        o.bindAddress = {127, 0, 0, 1};
        o.statusPort = o.datagramPort = o.requestPort = 0;
        o.companionPort = static_cast<std::uint16_t>(std::stoi(companionPort));
        started = service.Start(o, std::move(h)).ok();
    }

    // The packets of the next status; the first change sends each of them at once.
    void SetStatus(const Bytes& packet, int times = 1) {
        {
            std::lock_guard lock(mutex);
            status.assign(static_cast<std::size_t>(times), packet);
        }
        service.MarkAllClientsDirty();
    }
    std::vector<Bytes> Requests() {
        std::lock_guard lock(mutex);
        return requests;
    }
    std::string Port(std::uint16_t RemotePorts::*which) {
        return std::to_string(service.Ports().*which);
    }

    bool started = false;
};

struct RequestCase {
    std::vector<std::string> args;  // after HOST
    Bytes leading;                  // the request's first bytes; zeros to 100
    std::string out;
};

TEST(CompanionProgram, EachCommandSendsItsExactRequest) {
    const std::vector<RequestCase> cases = {
        {{"stage", "2"}, {0x0C, 0x12, 1, 1}, ""},
        {{"stage", "4"}, {0x0C, 0x12, 1, 3}, ""},
        {{"profile", "5"}, {0x0C, 0x12, 2, 4}, ""},
        {{"dpi", "3", "16", "240"}, {0x0C, 0x12, 3, 2, 16, 240}, ""},
        {{"assign", "2", "24", "10", "1", "0", "255"}, {0x0C, 0x12, 4, 1, 23, 10, 1, 0, 255}, ""},
        {{"move", "-2", "300"}, {0x0C, 0x12, 99, 0xFE, 0xFF, 0x2C, 0x01}, ""},
        {{"move", "0", "-32768"}, {0x0C, 0x12, 99, 0, 0, 0x00, 0x80}, ""},
        {{"name"}, {0x63, 0x00}, std::string(kComputer) + "\n"},
    };
    Service service;
    ASSERT_TRUE(service.started);
    service.SetStatus(AsBytes(BuildStatusPacket(Status(0, "Work", 24))));
    for (const RequestCase& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin() + 1, "127.0.0.1");
        args.insert(args.end(), {"--port", service.Port(&RemotePorts::request)});
        if (args[0] == "assign") {
            args.insert(args.end(), {"--status-port", service.Port(&RemotePorts::status)});
        }
        const Ran ran = RunCompanion(args);
        EXPECT_EQ(ran.status, 0) << args[0] << ": " << ran.err;
        EXPECT_EQ(ran.out, c.out) << args[0];
        const std::vector<Bytes> got = service.Requests();
        ASSERT_FALSE(got.empty()) << args[0];
        Bytes expected = c.leading;
        expected.resize(kRequestSize, 0);
        EXPECT_EQ(got.back(), expected) << args[0] << " " << args[2];
    }
    EXPECT_EQ(service.Requests().size(), cases.size());
}

// A button past the attached mouse's count would reach another button (the service takes
// it modulo the count); with no mouse there is nothing to assign to.
TEST(CompanionProgram, AssignChecksTheButtonAgainstTheAttachedMouse) {
    Service service;
    ASSERT_TRUE(service.started);
    const std::vector<std::string> assign3 = {"assign",
                                              "127.0.0.1",
                                              "1",
                                              "3",
                                              "1",
                                              "0",
                                              "0",
                                              "0",
                                              "--port",
                                              service.Port(&RemotePorts::request),
                                              "--status-port",
                                              service.Port(&RemotePorts::status)};
    Ran ran = RunCompanion(assign3);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "qvm-companion: 127.0.0.1: no mouse is attached there\n");
    service.SetStatus(AsBytes(BuildStatusPacket(Status(0, "Work", 2))));
    ran = RunCompanion(assign3);
    EXPECT_EQ(ran.status, 2);
    EXPECT_EQ(ran.err, "qvm-companion: BUTTON must be 1 to 2 on this mouse, not 3\n");
    EXPECT_TRUE(service.Requests().empty());
}

TEST(CompanionProgram, DiscoverPrintsNameAddressAndPinOnce) {
    Service service;
    ASSERT_TRUE(service.started);
    const Ran ran = RunCompanion({"discover", "--to", "127.0.0.1", "--port",
                                  service.Port(&RemotePorts::datagram), "--listen-port",
                                  service.companionPort});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, std::string(kComputer) + "  127.0.0.1  PIN 42\n");
}

// The stream sends the same status again and again; only changes are printed, and --count
// ends the program after that many of them.
TEST(CompanionProgram, WatchPrintsTheSummaryThenEachChange) {
    struct Case {
        const char* what;
        Bytes first, second;
        std::string firstLine, secondLine;
    };
    const std::string profile1 =
        "profile 1 \"Work\" #FF8001 stage 2 dpi 16x16 32x48 240x1 0x0 100x100 of 100 buttons "
        "01020304 0a0000ff";
    const std::vector<Case> cases = {
        {"device arrives", AsBytes(BuildNoDevicePacket()),
         AsBytes(BuildStatusPacket(Status(0, "Work"))), "no device", profile1},
        {"profile changes", AsBytes(BuildStatusPacket(Status(0, "Work"))),
         AsBytes(BuildStatusPacket(Status(3, "Game"))), profile1,
         "profile 4 \"Game\" #FF8001 stage 2 dpi 16x16 32x48 240x1 0x0 100x100 of 100 buttons "
         "01020304 0a0000ff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Service service;
        ASSERT_TRUE(service.started);
        service.SetStatus(c.first, 3);  // a packet that comes again is no change
        CompanionChild child(
            {"watch", "127.0.0.1", "--port", service.Port(&RemotePorts::status), "--count", "2"});
        EXPECT_EQ(child.NextLine(),
                  "lists: 3 key names, 0 consumer keys, 2 function types, 0 mouse functions, "
                  "1 button pairs, 0 function classes, 0 axis locks, 1 companion words, "
                  "2 favourites");
        EXPECT_EQ(child.NextLine(), c.firstLine);
        service.SetStatus(c.second);
        EXPECT_EQ(child.NextLine(), c.secondLine);
        const Ran ran = child.Finish();
        EXPECT_EQ(ran.status, 0) << ran.err;
        EXPECT_EQ(child.NextLine(), std::nullopt);  // nothing after the second change
    }
}

struct RefusedCase {
    std::vector<std::string> args;
    const char* says;
};

// Nothing out of range reaches the service: exit 2 and a message naming the range.
TEST(CompanionProgram, ArgumentsOutOfRangeAreRefused) {
    const std::vector<RefusedCase> cases = {
        {{"stage", "H", "5"}, "STAGE must be 1 to 4"},
        {{"profile", "H", "6"}, "PROFILE must be 1 to 5"},
        {{"dpi", "H", "6", "1", "1"}, "STAGE must be 1 to 5"},
        {{"dpi", "H", "1", "256", "1"}, "X must be 0 to 255"},
        {{"assign", "H", "1", "25", "1", "0", "0", "0"}, "BUTTON must be 1 to 24"},
        {{"assign", "H", "1", "1", "1", "0", "0", "x"}, "OP3 must be a number from 0 to 255"},
        {{"move", "H", "32768", "0"}, "DX must be -32768 to 32767"},
        {{"move", "H", "0", "0"}, "a move of 0, 0 does nothing"},
        {{"stage", "H", "99999999999999999999"}, "STAGE must be 1 to 4"},
        {{"watch", "H", "--count", "0"}, "--count must be 1 to"},
        {{"discover", "--listen-port", "65536"}, "--listen-port must be 1 to 65535"},
        {{"stage", "H"}, "usage: qvm-companion stage HOST STAGE"},
        {{"name", "H", "--count", "1"}, "name takes no option --count"},
        {{"launch"}, "unknown command \"launch\""},
    };
    Service service;
    ASSERT_TRUE(service.started);
    for (const RefusedCase& c : cases) {
        std::vector<std::string> args = c.args;
        if (args.size() > 1 && args[1] == "H") args[1] = "127.0.0.1";
        args.insert(args.end(), {"--port", service.Port(&RemotePorts::request)});
        if (args[0] == "discover" || args[0] == "watch") args.resize(args.size() - 2);
        const Ran ran = RunCompanion(args);
        EXPECT_EQ(ran.status, 2) << c.says;
        EXPECT_NE(ran.err.find(std::string("qvm-companion: ") + c.says), std::string::npos)
            << ran.err;
    }
    EXPECT_TRUE(service.Requests().empty());
}

// A service that is not there, or that takes the connection and never answers, ends the
// command with exit 1 and the reason instead of a hang.
TEST(CompanionProgram, NetworkFailuresExitOneWithTheReason) {
    std::uint16_t port = 0;
    UniqueFd silent = Bound(SOCK_STREAM, port);
    ::listen(silent.get(), 8);  // the kernel accepts; nobody reads or answers
    const std::string silentPort = std::to_string(port);
    const std::vector<RefusedCase> cases = {
        {{"profile", "127.0.0.1", "1", "--port", FreePort(SOCK_STREAM)},
         "127.0.0.1: cannot connect to 127.0.0.1 port"},
        {{"profile", "127.0.0.1", "1", "--port", silentPort, "--timeout", "300"},
         "127.0.0.1: nothing came from the service for 300 ms"},
        {{"watch", "127.0.0.1", "--port", silentPort, "--timeout", "300"},
         "127.0.0.1: nothing came from the service for 300 ms"},
        {{"discover", "--to", "127.0.0.1", "--port", FreePort(SOCK_DGRAM), "--listen-port",
          FreePort(SOCK_DGRAM), "--timeout", "300"},
         "no computer answered within 300 ms"},
    };
    for (const RefusedCase& c : cases) {
        const Ran ran = RunCompanion(c.args);
        EXPECT_EQ(ran.status, 1) << c.says;
        EXPECT_NE(ran.err.find(std::string("qvm-companion: ") + c.says), std::string::npos)
            << ran.err;
    }
}

}  // namespace
}  // namespace qvm::remote::companion_test
