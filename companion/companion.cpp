#include "companion/companion.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "companion/net_io.h"
#include "companion/stream_view.h"
#include "net/remote_packets.h"

namespace qvm::companion {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPrefix = "qvm-companion: ";
constexpr long long kDefaultTimeoutMs = 2000;
constexpr long long kMaxTimeoutMs = 600'000;

// One command line taken apart: the words and the --name VALUE options.
struct Invocation {
    std::vector<std::string> words;
    std::map<std::string, std::string> options;
    std::ostream& out;
    std::ostream& err;
};

int Fail(std::ostream& err, int status, const std::string& message) {
    err << kPrefix << message << "\n";
    return status;
}

// A whole decimal number within [min, max]; the message names the value and its range.
Result<long long> Number(const std::string& text, long long min, long long max,
                         const std::string& what) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    if (text.empty() || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        return MakeError(ErrorKind::BadInput,
                         what + " must be a number from " + range + ", not \"" + text + "\"");
    }
    if (ec == std::errc::result_out_of_range || value < min || value > max) {
        return MakeError(ErrorKind::BadInput, what + " must be " + range + ", not " + text);
    }
    return value;
}

// The option's number, or `fallback` when it is not given.
Result<long long> OptionNumber(const Invocation& c, const std::string& name, long long fallback,
                               long long min, long long max) {
    const auto it = c.options.find(name);
    if (it == c.options.end()) return fallback;
    return Number(it->second, min, max, name);
}

Result<std::uint16_t> Port(const Invocation& c, const std::string& name, std::uint16_t fallback) {
    Result<long long> port = OptionNumber(c, name, fallback, 1, 65535);
    if (!port) return port.error();
    return static_cast<std::uint16_t>(*port);
}

// The numbers of the words from `first` on, each within its range.
struct NumberArg {
    const char* what;
    long long min;
    long long max;
};
Result<std::vector<long long>> Numbers(const Invocation& c, std::size_t first,
                                       std::initializer_list<NumberArg> specs) {
    std::vector<long long> values;
    std::size_t i = first;
    for (const NumberArg& spec : specs) {
        Result<long long> n = Number(c.words[i++], spec.min, spec.max, spec.what);
        if (!n) return n.error();
        values.push_back(*n);
    }
    return values;
}

// ---- requests --------------------------------------------------------------------

// Where a request goes: the port and how long each step may take.
struct RequestTarget {
    std::uint16_t port = remote::kRequestPort;
    milliseconds wait{kDefaultTimeoutMs};
};

Result<RequestTarget> TargetOf(const Invocation& c) {
    Result<long long> timeout = OptionNumber(c, "--timeout", kDefaultTimeoutMs, 1, kMaxTimeoutMs);
    if (!timeout) return timeout.error();
    Result<std::uint16_t> port = Port(c, "--port", remote::kRequestPort);
    if (!port) return port.error();
    return RequestTarget{*port, milliseconds(*timeout)};
}

Result<UniqueFd> ConnectTo(const std::string& hostName, std::uint16_t port, milliseconds wait) {
    Result<Ipv4Address> host = ResolveHost(hostName);
    if (!host) return host.error();
    return ConnectTcp({*host, port}, wait);
}

// Sends one request to HOST's request port and waits for the service to close the
// connection, which it does once the request is handled; the reply's bytes, if any.
Result<std::vector<std::uint8_t>> Ask(const std::string& hostName, const RequestTarget& target,
                                      const remote::Request& request) {
    Result<UniqueFd> fd = ConnectTo(hostName, target.port, target.wait);
    if (!fd) return fd.error();
    if (Status sent = SendAll(fd->get(), request, target.wait); !sent) return sent.error();
    std::vector<std::uint8_t> reply(remote::kNameReplySize);
    Result<std::size_t> n = ReadUntilClosed(fd->get(), reply, target.wait);
    if (!n) return n.error();
    reply.resize(*n);
    return reply;
}

// Checks the arguments, then sends the request `make` builds from them; prints nothing.
int RunRequest(const Invocation& c, std::initializer_list<NumberArg> specs,
               const std::function<remote::Request(const std::vector<long long>&)>& make) {
    Result<std::vector<long long>> values = Numbers(c, 2, specs);
    if (!values) return Fail(c.err, kExitUsage, values.message());
    Result<RequestTarget> target = TargetOf(c);
    if (!target) return Fail(c.err, kExitUsage, target.message());
    Result<std::vector<std::uint8_t>> reply = Ask(c.words[1], *target, make(*values));
    if (!reply) return Fail(c.err, kExitFailure, c.words[1] + ": " + reply.message());
    return kExitOk;
}

std::uint8_t Byte(long long value) {
    return static_cast<std::uint8_t>(value);
}

int RunStage(const Invocation& c) {
    return RunRequest(c, {{"STAGE", 1, 4}}, [](const std::vector<long long>& v) {
        return remote::BuildRequest(remote::SelectStage{static_cast<int>(v[0] - 1)});
    });
}

int RunProfile(const Invocation& c) {
    return RunRequest(c, {{"PROFILE", 1, 5}}, [](const std::vector<long long>& v) {
        return remote::BuildRequest(remote::SelectProfile{static_cast<int>(v[0] - 1)});
    });
}

int RunDpi(const Invocation& c) {
    return RunRequest(
        c, {{"STAGE", 1, 5}, {"X", 0, 255}, {"Y", 0, 255}}, [](const std::vector<long long>& v) {
            return remote::BuildRequest(
                remote::SetStageValues{static_cast<int>(v[0] - 1), Byte(v[1]), Byte(v[2])});
        });
}

// The attached mouse's button count as its status shows it. The service reduces a button
// past that count modulo the count, which would give another button the function.
Result<int> ButtonCount(const std::string& hostName, std::uint16_t port, milliseconds wait) {
    Result<UniqueFd> fd = ConnectTo(hostName, port, wait);
    if (!fd) return fd.error();
    remote::StreamPacket packet{};
    // The lists come first; a stream that never brings a status is given up on.
    for (int read = 0; read < 10'000; ++read) {
        if (Status s = ReadExact(fd->get(), packet, wait); !s) return s.error();
        const remote::DecodedStreamPacket decoded = remote::DecodeStreamPacket(packet);
        if (decoded.kind == remote::StreamKind::NoDevice) {
            return MakeError(ErrorKind::DeviceGone, "no mouse is attached there");
        }
        if (decoded.kind == remote::StreamKind::Status) {
            return static_cast<int>(decoded.status.buttons.size());
        }
    }
    return MakeError(ErrorKind::Io, "the status stream brought no status");
}

int RunAssign(const Invocation& c) {
    const std::initializer_list<NumberArg> specs = {
        {"PROFILE", 1, 5}, {"BUTTON", 1, remote::kExtendedButtonCount},
        {"TYPE", 0, 255},  {"OP1", 0, 255},
        {"OP2", 0, 255},   {"OP3", 0, 255}};
    Result<std::vector<long long>> values = Numbers(c, 2, specs);
    if (!values) return Fail(c.err, kExitUsage, values.message());
    Result<RequestTarget> target = TargetOf(c);
    if (!target) return Fail(c.err, kExitUsage, target.message());
    Result<std::uint16_t> statusPort = Port(c, "--status-port", remote::kStatusPort);
    if (!statusPort) return Fail(c.err, kExitUsage, statusPort.message());
    Result<int> buttons = ButtonCount(c.words[1], *statusPort, target->wait);
    if (!buttons) return Fail(c.err, kExitFailure, c.words[1] + ": " + buttons.message());
    if ((*values)[1] > *buttons) {
        return Fail(c.err, kExitUsage,
                    "BUTTON must be 1 to " + std::to_string(*buttons) + " on this mouse, not " +
                        c.words[3]);
    }
    return RunRequest(c, specs, [](const std::vector<long long>& v) {
        return remote::BuildRequest(remote::Assign{static_cast<int>(v[0] - 1),
                                                   static_cast<int>(v[1] - 1),
                                                   Byte(v[2]),
                                                   {Byte(v[3]), Byte(v[4]), Byte(v[5])}});
    });
}

int RunMove(const Invocation& c) {
    // The service ignores a move of 0, 0; refusing it tells the user so.
    const Result<std::vector<long long>> move =
        Numbers(c, 2, {{"DX", -32768, 32767}, {"DY", -32768, 32767}});
    if (move && (*move)[0] == 0 && (*move)[1] == 0) {
        return Fail(c.err, kExitUsage, "a move of 0, 0 does nothing: DX or DY must not be 0");
    }
    return RunRequest(c, {{"DX", -32768, 32767}, {"DY", -32768, 32767}},
                      [](const std::vector<long long>& v) {
                          return remote::BuildRequest(remote::PointerMove{
                              static_cast<std::int16_t>(v[0]), static_cast<std::int16_t>(v[1])});
                      });
}

int RunName(const Invocation& c) {
    Result<RequestTarget> target = TargetOf(c);
    if (!target) return Fail(c.err, kExitUsage, target.message());
    Result<std::vector<std::uint8_t>> reply =
        Ask(c.words[1], *target, remote::BuildRequest(remote::NameRequest{}));
    if (!reply) return Fail(c.err, kExitFailure, c.words[1] + ": " + reply.message());
    const std::optional<std::string> name =
        reply->size() == remote::kNameReplySize ? remote::DecodeNameReply(*reply) : std::nullopt;
    if (!name) {
        return Fail(c.err, kExitFailure,
                    c.words[1] + ": the service's reply is not a computer name (" +
                        std::to_string(reply->size()) + " bytes)");
    }
    c.out << *name << "\n";
    return kExitOk;
}

// ---- watch -----------------------------------------------------------------------

int RunWatch(const Invocation& c) {
    Result<long long> timeout = OptionNumber(c, "--timeout", kDefaultTimeoutMs, 1, kMaxTimeoutMs);
    if (!timeout) return Fail(c.err, kExitUsage, timeout.message());
    Result<std::uint16_t> port = Port(c, "--port", remote::kStatusPort);
    if (!port) return Fail(c.err, kExitUsage, port.message());
    Result<long long> count = OptionNumber(c, "--count", 0, 1, 1'000'000'000);
    if (!count) return Fail(c.err, kExitUsage, count.message());

    const milliseconds wait{*timeout};
    const std::string& hostName = c.words[1];
    Result<UniqueFd> fd = ConnectTo(hostName, *port, wait);
    if (!fd) return Fail(c.err, kExitFailure, hostName + ": " + fd.message());
    StreamView view;
    remote::StreamPacket packet{};
    for (;;) {
        if (Status read = ReadExact(fd->get(), packet, wait); !read) {
            return Fail(c.err, kExitFailure, hostName + ": " + read.message());
        }
        for (const std::string& line : view.Take(packet)) c.out << line << "\n";
        c.out.flush();
        if (*count > 0 && view.StatusLines() >= *count) return kExitOk;
    }
}

// ---- discover --------------------------------------------------------------------

int RunDiscover(const Invocation& c) {
    Result<long long> timeout = OptionNumber(c, "--timeout", kDefaultTimeoutMs, 1, kMaxTimeoutMs);
    if (!timeout) return Fail(c.err, kExitUsage, timeout.message());
    Result<std::uint16_t> port = Port(c, "--port", remote::kDatagramPort);
    if (!port) return Fail(c.err, kExitUsage, port.message());
    Result<std::uint16_t> listenPort = Port(c, "--listen-port", remote::kCompanionPort);
    if (!listenPort) return Fail(c.err, kExitUsage, listenPort.message());

    std::vector<Ipv4Address> targets;
    if (const auto to = c.options.find("--to"); to != c.options.end()) {
        Result<Ipv4Address> address = ResolveHost(to->second);
        if (!address) return Fail(c.err, kExitFailure, to->second + ": " + address.message());
        targets.push_back(*address);
    } else {
        Result<std::vector<Ipv4Address>> local = remote::LocalIpv4Addresses();
        if (!local) return Fail(c.err, kExitFailure, local.message());
        for (const Ipv4Address& a : *local) targets.push_back(remote::AnnouncementAddress(a));
        if (targets.empty()) {
            return Fail(c.err, kExitFailure,
                        "this computer has no network address to search from; try --to ADDRESS");
        }
    }

    Result<UniqueFd> socket = BindUdp(*listenPort);
    if (!socket) return Fail(c.err, kExitFailure, socket.message());
    const auto datagram = remote::BuildDiscoveryDatagram();
    std::size_t sent = 0;
    std::string lastError;
    for (const Ipv4Address& target : targets) {
        if (Status s = SendDatagram(socket->get(), {target, *port}, datagram)) {
            ++sent;
        } else {
            lastError = s.message();
        }
    }
    if (sent == 0) return Fail(c.err, kExitFailure, lastError);

    // Answers until the timeout; each computer once, however often it answers.
    std::set<std::tuple<Ipv4Address, std::string, std::uint32_t>> seen;
    std::array<std::uint8_t, remote::kDatagramBufferSize> buffer{};
    const auto deadline = Clock::now() + milliseconds(*timeout);
    for (;;) {
        Result<std::optional<Datagram>> got = ReceiveDatagram(socket->get(), buffer, deadline);
        if (!got) return Fail(c.err, kExitFailure, got.message());
        if (!*got) break;
        const Datagram& d = **got;
        if (d.size < remote::kAnnouncementSize) continue;  // not an announcement
        const auto answer = remote::DecodeAnnouncement(std::span(buffer).first(d.size));
        if (!answer) continue;
        if (!seen.emplace(d.from.address, answer->name, answer->pin).second) continue;
        c.out << answer->name << "  " << AddressText(d.from.address) << "  PIN " << answer->pin
              << "\n";
        c.out.flush();
    }
    if (seen.empty()) {
        return Fail(c.err, kExitFailure,
                    "no computer answered within " + std::to_string(*timeout) +
                        " ms (is the companion service turned on there?)");
    }
    return kExitOk;
}

// ---- the command table -----------------------------------------------------------

struct CommandSpec {
    const char* name;
    const char* arguments;
    std::size_t words;  // the command's own word included
    std::vector<std::string> options;
    int (*run)(const Invocation&);
    const char* help;
};

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> commands = {
        {"discover",
         "[--timeout MS] [--to ADDRESS] [--port PORT] [--listen-port PORT]",
         1,
         {"--timeout", "--to", "--port", "--listen-port"},
         RunDiscover,
         "find computers that run the companion service on the local network"},
        {"watch",
         "HOST [--count N] [--timeout MS] [--port PORT]",
         2,
         {"--timeout", "--port", "--count"},
         RunWatch,
         "show the lists' summary, then each change of the mouse's status"},
        {"stage", "HOST STAGE", 3, {"--timeout", "--port"}, RunStage, "select DPI stage 1 to 4"},
        {"profile",
         "HOST PROFILE",
         3,
         {"--timeout", "--port"},
         RunProfile,
         "select profile 1 to 5"},
        {"dpi",
         "HOST STAGE X Y",
         5,
         {"--timeout", "--port"},
         RunDpi,
         "set stage 1 to 5 to X and Y steps (0 to 255, as the device stores them)"},
        {"assign",
         "HOST PROFILE BUTTON TYPE OP1 OP2 OP3",
         8,
         {"--timeout", "--port", "--status-port"},
         RunAssign,
         "give button 1 to 24 of profile 1 to 5 the function TYPE OP1 OP2 OP3 (bytes)"},
        {"move",
         "HOST DX DY",
         4,
         {"--timeout", "--port"},
         RunMove,
         "move the computer's pointer by DX, DY (-32768 to 32767)"},
        {"name", "HOST", 2, {"--timeout", "--port"}, RunName, "print the computer's name"},
    };
    return commands;
}

void Usage(std::ostream& out) {
    out << "Usage: qvm-companion COMMAND [ARGUMENTS] [OPTIONS]\n\n"
           "A companion for the QVM Gaming companion service on the local network.\n\n"
           "Commands:\n";
    for (const CommandSpec& spec : Commands()) {
        out << "  " << spec.name << " " << spec.arguments << "\n      " << spec.help << "\n";
    }
    out << "\nOptions: --timeout MS waits at most MS milliseconds for a connection and for\n"
           "each read (2000 if not given); --port PORT talks to another port than the\n"
           "service's own (42181 discovery, 42180 status, 42182 requests); discover hears\n"
           "answers on UDP 42182 or --listen-port PORT; assign reads the mouse's button count\n"
           "from the status stream (42180 or --status-port PORT) first.\n"
           "Exit status: 0 done, 1 network or service failure, 2 bad arguments.\n";
}

}  // namespace

int RunCompanion(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (std::find(args.begin(), args.end(), "--help") != args.end() ||
        std::find(args.begin(), args.end(), "-h") != args.end()) {
        Usage(out);
        return kExitOk;
    }
    if (args.empty()) {
        Usage(err);
        return kExitUsage;
    }
    const auto& commands = Commands();
    const auto spec = std::find_if(commands.begin(), commands.end(),
                                   [&](const CommandSpec& s) { return args[0] == s.name; });
    if (spec == commands.end()) {
        return Fail(err, kExitUsage, "unknown command \"" + args[0] + "\" (see --help)");
    }
    Invocation c{{}, {}, out, err};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word.size() > 2 && word.rfind("--", 0) == 0) {
            if (std::find(spec->options.begin(), spec->options.end(), word) ==
                spec->options.end()) {
                return Fail(err, kExitUsage,
                            spec->name + std::string(" takes no option ") + word + " (see --help)");
            }
            if (i + 1 == args.size()) return Fail(err, kExitUsage, word + " needs a value");
            c.options[word] = args[++i];
        } else {
            c.words.push_back(word);
        }
    }
    if (c.words.size() != spec->words) {
        return Fail(err, kExitUsage,
                    std::string("usage: qvm-companion ") + spec->name + " " + spec->arguments);
    }
    return spec->run(c);
}

}  // namespace qvm::companion
