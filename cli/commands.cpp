#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <istream>
#include <iterator>
#include <ostream>
#include <string_view>

#include "base/text.h"
#include "cli/macro_cli.h"
#include "cli/parse.h"
#include "cli/qvmctl.h"
#include "cli/show.h"
#include "config/image_layout.h"
#include "present/info_text.h"

namespace qvm::cli {
namespace {

// The generation-0 command set carries 24-bit addresses, the others 16-bit ones.
constexpr long long kMaxShortAddress = 0xFFFFFF;
constexpr long long kMaxLongAddress = 0xFFFF;
constexpr long long kMaxTransfer = 0x10000;

// Where the status reply keeps what `status` shows, by generation class.
constexpr std::size_t kShortHostModeByte = 7;
constexpr std::size_t kLongHostModeByte = 6;
constexpr std::size_t kLongUpdateFlagByte = 10;
constexpr uint8_t kUpdateFlagBit = 0x40;
constexpr std::size_t kExtendedHostModeByte = 12;
constexpr std::size_t kMemoryTopLow = 13;
constexpr std::size_t kMemoryTopHigh = 14;
constexpr int kStatusWaitMs = 10;
// Header byte 0x02 holds the current DPI stage in its low three bits (classes B and C);
// generation 0 reports the stage in the low three bits of live value 1.
constexpr uint32_t kCurrentStageAddress = 0x02;
constexpr uint8_t kStageMask = 0x07;
constexpr std::size_t kLiveProfile = 5;
constexpr std::size_t kLiveStageShort = 0;

// The commands that change the device or the libraries, besides every "set ...".
constexpr std::string_view kChangingCommands[] = {
    "assign",        "reset",          "restore",      "mem write",  "macro store",  "macro delete",
    "macro compact", "library import", "light effect", "light led",  "kbd effect",   "kbd side",
    "kbd keys",      "kbd reset",      "app bind",     "app unbind", "trace replay",
};

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

// Every HID interface the backend sees, ours or not.
int ListInterfaces(CommandContext& c, Session& session) {
    auto list = session.Backend().Enumerate();
    if (!list) return Fail(c.err, kExitDevice, "cannot list the HID devices: " + list.message());
    if (list->empty()) {
        c.out << "no HID interfaces found\n";
        return kExitOk;
    }
    char line[160];
    for (const auto& d : *list) {
        std::snprintf(line, sizeof line,
                      "  vendor %04x product %04x interface %d usage %04x:%04x "
                      "feature %d input %d output %d",
                      d.vendorId, d.productId, d.interfaceNumber, d.caps.usagePage, d.caps.usage,
                      d.caps.featureLength, d.caps.inputLength, d.caps.outputLength);
        const bool config = d.openError.empty() && session.Link().IsConfigInterface(d.path);
        c.out << Shown(d.path) << (config ? "  [configuration]" : "") << '\n' << line << '\n';
        if (!d.product.empty()) c.out << "  product \"" << Shown(d.product) << "\"\n";
        if (!d.serial.empty()) c.out << "  serial \"" << Shown(d.serial) << "\"\n";
        if (!d.openError.empty()) c.out << "  cannot be opened: " << Shown(d.openError) << '\n';
    }
    return kExitOk;
}

// The identified devices; the one qvmctl works on is marked with '*'.
int RunList(CommandContext& c) {
    auto session = Session::Open(c.options);
    if (!session) return Fail(c.err, kExitUsage, session.message());
    if (c.Flag("--all")) return ListInterfaces(c, **session);

    DeviceLink& link = (*session)->Link();
    if (Status scanned = link.EnumerateDevices(); !scanned) {
        return Fail(c.err, kExitDevice, "cannot list the HID devices: " + scanned.message());
    }
    const auto listed = link.DeviceList();
    const auto unusable = link.UnusableDevices();
    if (listed.empty() && unusable.empty()) {
        c.out << "no device found (qvmctl list --all shows every HID interface)\n";
        return kExitOk;
    }
    auto chosen = (*session)->ChosenFromList(c.options);
    if (!chosen) return Fail(c.err, ExitStatusOf(chosen.kind()), chosen.message());
    const std::string active = chosen->empty() && !listed.empty() ? listed.front() : *chosen;
    for (std::size_t n = 0; n < listed.size(); ++n) {
        const std::string& path = listed[n];
        const DeviceValues v = (*session)->Values().Get(path);
        c.out << (path == active ? "* " : "  ") << n + 1 << ": " << Shown(path) << '\n'
              << "    " << Shown(GetModelName(v));
        if (v.ModelCode == kKeyboardModelCode) {
            c.out << ", keyboard";
        } else {
            c.out << ", generation " << v.ProtocolGeneration << ", layout class "
                  << LayoutClassLetter(v.ProtocolGeneration);
        }
        c.out << ", firmware " << FirmwareVersionText(v.FirmwareVersion) << '\n';
    }
    for (const auto& u : unusable) {
        c.out << "  " << Shown(u.path) << "\n    cannot be used: " << Shown(u.reason) << '\n';
    }
    return kExitOk;
}

// ADDR and LEN (or the byte count) must fit the device's address space.
Result<long long> ParseAddress(const std::string& text, int generation) {
    return ParseNumber(text, 0, generation <= 0 ? kMaxShortAddress : kMaxLongAddress, "address");
}

Status CheckSpan(long long address, long long length, int generation) {
    const long long top = generation <= 0 ? kMaxShortAddress : kMaxLongAddress;
    if (address + length - 1 > top) {
        return MakeError("the range " + Hex(address, 4) + ".." + Hex(address + length - 1, 4) +
                         " goes past the last address " + Hex(top, 4) + " of this device");
    }
    return {};
}

int RunMemRead(CommandContext& c) {
    auto length = ParseNumber(c.args[1], 1, kMaxTransfer, "length");
    if (!length) return Fail(c.err, kExitUsage, length.message());
    int status = kExitOk;
    auto target = OpenTarget(c, status);
    if (!target) return status;
    auto address = ParseAddress(c.args[0], target->generation);
    if (!address) return Fail(c.err, kExitUsage, address.message());
    if (auto fits = CheckSpan(*address, *length, target->generation); !fits) {
        return Fail(c.err, kExitUsage, fits.message());
    }
    std::vector<uint8_t> bytes(static_cast<std::size_t>(*length));
    DeviceCommands& commands = target->session->Commands();
    if (!commands.ReadMemory(target->path, static_cast<uint32_t>(*address), bytes, false)) {
        return Fail(c.err, kExitDevice,
                    "reading memory failed: " +
                        commands.FailureOr(target->path, "the device did not answer").Message());
    }
    c.out << FormatDump(static_cast<uint32_t>(*address), bytes);
    return kExitOk;
}

int RunMemWrite(CommandContext& c) {
    auto bytes = ParseHexBytes(c.args[1]);
    if (!bytes) return Fail(c.err, kExitUsage, bytes.message());
    int status = kExitOk;
    auto target = OpenTarget(c, status);
    if (!target) return status;
    auto address = ParseAddress(c.args[0], target->generation);
    if (!address) return Fail(c.err, kExitUsage, address.message());
    if (auto fits = CheckSpan(*address, static_cast<long long>(bytes->size()), target->generation);
        !fits) {
        return Fail(c.err, kExitUsage, fits.message());
    }
    DeviceCommands& commands = target->session->Commands();
    if (!commands.WriteMemory(target->path, static_cast<uint32_t>(*address), *bytes)) {
        return Fail(
            c.err, kExitDevice,
            commands.FailureOr(target->path, "the device did not take the write").Message() +
                "; memory at " + Hex(static_cast<unsigned>(*address), 4) +
                " may be partly written");
    }
    c.out << "wrote " << bytes->size() << " byte" << (bytes->size() == 1 ? "" : "s") << " at "
          << Hex(static_cast<unsigned>(*address), 4) << '\n';
    return kExitOk;
}

int RunStatus(CommandContext& c) {
    int status = kExitOk;
    auto target = OpenTarget(c, status);
    if (!target) return status;
    DeviceCommands& cmd = target->session->Commands();
    const std::string& path = target->path;
    const int g = target->generation;

    // Nothing is printed from replies that never came.
    auto failed = [&] {
        return Fail(c.err, kExitDevice,
                    "reading the status failed: " +
                        cmd.FailureOr(path, "the device did not answer").Message());
    };
    const Frame reply = cmd.QueryStatus(path, kStatusWaitMs);
    if (cmd.GetTransport().LastFailure(path)) return failed();
    const LiveState live = cmd.ReadLiveState(path);
    if (cmd.GetTransport().LastFailure(path)) return failed();

    c.out << "device: " << Shown(path) << '\n'
          << "protocol generation: " << g << " (layout class " << LayoutClassLetter(g) << ")\n"
          << "status reply: " << FormatBytes(std::span(reply.bytes).subspan(1, 15)) << '\n';
    if (g <= 0) {
        c.out << "host mode: " << int(reply.bytes[kShortHostModeByte]) << '\n';
    } else if (g <= 10) {
        c.out << "host mode: " << int(reply.bytes[kLongHostModeByte]) << '\n'
              << "update flag: "
              << ((reply.bytes[kLongUpdateFlagByte] & kUpdateFlagBit) ? "set" : "clear") << '\n';
    } else {
        const unsigned top = reply.bytes[kMemoryTopLow] | reply.bytes[kMemoryTopHigh] << 8;
        c.out << "host mode: " << int(reply.bytes[kExtendedHostModeByte]) << '\n'
              << "memory top: " << Hex(top, 4) << '\n';
    }

    c.out << "live state:";
    for (const auto& v : live) {
        if (v) {
            c.out << ' ' << int(*v);
        } else {
            c.out << " -";
        }
    }
    c.out << '\n';
    if (live[kLiveProfile]) c.out << "current profile: " << int(*live[kLiveProfile]) + 1 << '\n';

    std::optional<int> stage;
    if (g <= 0) {
        if (live[kLiveStageShort]) stage = *live[kLiveStageShort] & kStageMask;
    } else {
        uint8_t header = 0;
        if (!cmd.ReadMemory(path, kCurrentStageAddress, std::span(&header, 1), false)) {
            return failed();
        }
        stage = header & kStageMask;
    }
    // An erased or never initialised memory holds no stage there: say so rather than
    // print a stage the device does not have.
    if (stage && *stage < kDpiStageCount) {
        c.out << "current DPI stage: " << *stage + 1 << '\n';
    } else if (stage) {
        c.out << "current DPI stage: none (the memory holds no valid stage)\n";
    }
    return kExitOk;
}

}  // namespace

bool Confirm(CommandContext& c, const std::string& question, bool assumeYes) {
    if (assumeYes) return true;
    c.err << EscapeForTerminal(question, KeepLineBreaks::kYes) << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(c.in, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

std::optional<LoadedDevice> LoadDevice(CommandContext& c, int& status, bool allowUninitialised) {
    auto session = Session::Open(c.options);
    if (!session) {
        status = Fail(c.err, kExitUsage, session.message());
        return std::nullopt;
    }
    auto model = (*session)->LoadConfiguration(c.options);
    const bool uninitialised = !model && model.kind() == ErrorKind::Uninitialised;
    if (!model && !(uninitialised && allowUninitialised)) {
        status = Fail(c.err, ExitStatusOf(model.kind()), model.message());
        return std::nullopt;
    }
    ConfigModel* chosen = (*session)->Model();
    LoadedDevice loaded{std::move(session).value(), chosen, nullptr};
    loaded.image = loaded.model->Snapshot();
    PrintMacroWarnings(c.err, *loaded.image);
    return loaded;
}

std::optional<Target> OpenTarget(CommandContext& c, int& status) {
    auto session = Session::Open(c.options);
    if (!session) {
        status = Fail(c.err, kExitUsage, session.message());
        return std::nullopt;
    }
    auto path = (*session)->SelectDevice(c.options);
    if (!path) {
        status = Fail(c.err, ExitStatusOf(path.kind()), path.message());
        return std::nullopt;
    }
    Target t{std::move(session).value(), *path, 0};
    t.generation = t.session->Values().Generation(t.path);
    return t;
}

int Fail(std::ostream& err, int status, const std::string& message) {
    err << "qvmctl: " << EscapeForTerminal(message, KeepLineBreaks::kYes) << '\n';
    return status;
}

int ExitStatusOf(ErrorKind kind) {
    return kind == ErrorKind::BadInput ? kExitUsage : kExitDevice;
}

std::string Shown(std::string_view text) {
    return EscapeForTerminal(text);
}

const std::vector<CommandSpec>& Commands() {
    static const std::vector<CommandSpec> commands = [] {
        std::vector<CommandSpec> list = {
            {"list",
             "[--all]",
             "list the devices",
             "Prints each identified device: its number, path, model name, protocol generation\n"
             "and layout class (or keyboard), firmware version. The device qvmctl works on is\n"
             "marked '*'; --device takes the number, the path or the model name.\n"
             "Devices that were seen but cannot be used say why.\n"
             "With --all: every HID interface instead, with vendor, product, interface number,\n"
             "usage page and usage, and the feature, input and output report lengths (counting\n"
             "the report ID); configuration interfaces of vendor 0c45 are marked.\n",
             0,
             0,
             RunList,
             {"--all"}},
            {"mem read", "ADDR LEN", "read device memory",
             "Reads LEN bytes of the device's memory from ADDR and prints them as lines\n"
             "'AAAA: xx xx ...', 16 bytes a line. ADDR and LEN accept 0x hexadecimal.\n",
             2, 2, RunMemRead},
            {"mem write", "ADDR HEX", "write device memory",
             "Writes the bytes HEX (pairs of hex digits: 0a1b2c, 0a:1b:2c or \"0a 1b 2c\") into\n"
             "the device's memory from ADDR (0x hexadecimal accepted).\n",
             2, 2, RunMemWrite},
            {"status", "", "show the device's status and live state",
             "Queries the device's status and live state and prints them decoded: host mode,\n"
             "memory top (generation 11 and above), the update flag (generations 1 to 10), the\n"
             "current profile and DPI stage (both counted from 1).\n",
             0, 0, RunStatus},
        };
        AddConfigCommands(list);
        AddMacroCommands(list);
        AddLightCommands(list);
        AddKeyboardCommands(list);
        AddAppCommands(list);
        AddTraceCommands(list);
        for (CommandSpec& spec : list) {
            const std::string_view words = spec.words;
            spec.changes = words.starts_with("set ") ||
                           std::find(std::begin(kChangingCommands), std::end(kChangingCommands),
                                     words) != std::end(kChangingCommands);
        }
        return list;
    }();
    return commands;
}

}  // namespace qvm::cli
