// qvm-uhid: simulated devices as kernel HID devices (through /dev/uhid, or one of them as
// a whole USB device through gadgetfs), so that the programs reach them through hidraw
// like the hardware. Commands on standard input drive what a user would do with the
// devices; each is answered on standard output with "ok" or "error: TEXT", so a script
// can wait for it.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "sim/sim_backend.h"
#include "sim/sim_gadget.h"
#include "sim/sim_uhid.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "usage: qvm-uhid [--state DIR] [--usb GADGETFS] [DEVICES]\n"
    "\n"
    "Creates a kernel HID device (uhid) for every interface of the simulated devices\n"
    "(DEVICES as for --hid sim:DEVICES; absent: the default set), prints \"ready\" and\n"
    "then reads commands from standard input until \"quit\" or its end:\n"
    "\n"
    "  unplug N          device N (0 = the first) leaves: its kernel devices are removed\n"
    "  plug N            device N comes back\n"
    "  report N HEX      device N sends a vendor input report (e.g. 010c...)\n"
    "  profile N P       the active profile of mouse N is switched on the mouse itself\n"
    "  quit\n"
    "\n"
    "  --state DIR       keep each device's memory in DIR (as qvm-sim --state)\n"
    "  --usb GADGETFS    make the one device a whole USB device instead, through the\n"
    "                    gadgetfs mounted at GADGETFS (e.g. /dev/gadget)\n";

// A device's kernel side: its uhid devices or its USB gadget.
using KernelDevice =
    std::variant<std::unique_ptr<qvm::SimUhidDevice>, std::unique_ptr<qvm::SimGadgetDevice>>;

struct Served {
    qvm::SimBackend* backend = nullptr;
    std::string gadgetFolder;                                // empty: uhid
    std::vector<std::optional<KernelDevice>> kernelDevices;  // by place; empty: unplugged
};

qvm::Status Plug(Served& served, size_t place) {
    if (served.kernelDevices[place])
        return qvm::MakeError("device " + std::to_string(place) + " is already plugged in");
    qvm::SimDevice& device = served.backend->Device(place);
    device.Attach();
    if (!served.gadgetFolder.empty()) {
        auto created = qvm::SimGadgetDevice::Create(device, served.gadgetFolder);
        if (!created) return created.error();
        served.kernelDevices[place] = KernelDevice(std::move(*created));
        return {};
    }
    auto created = qvm::SimUhidDevice::Create(device);
    if (!created) return created.error();
    served.kernelDevices[place] = KernelDevice(std::move(*created));
    return {};
}

qvm::Status Unplug(Served& served, size_t place) {
    if (!served.kernelDevices[place])
        return qvm::MakeError("device " + std::to_string(place) + " is not plugged in");
    served.kernelDevices[place].reset();
    served.backend->Device(place).Detach();
    return {};
}

std::optional<std::vector<uint8_t>> ParseHex(const std::string& text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        uint8_t value = 0;
        const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (error != std::errc() || end != text.data() + i + 2) return std::nullopt;
        bytes.push_back(value);
    }
    return bytes;
}

qvm::Status Run(Served& served, const std::string& line, bool& quit) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command.empty()) return {};
    if (command == "quit") {
        quit = true;
        return {};
    }
    long place = -1;
    if (!(words >> place) || place < 0 ||
        static_cast<size_t>(place) >= served.kernelDevices.size()) {
        return qvm::MakeError("'" + command + "' needs a device number from 0 to " +
                              std::to_string(served.kernelDevices.size() - 1));
    }
    const size_t at = static_cast<size_t>(place);
    qvm::SimDevice& device = served.backend->Device(at);
    if (command == "plug") return Plug(served, at);
    if (command == "unplug") return Unplug(served, at);
    if (command == "report") {
        std::string hex;
        words >> hex;
        auto bytes = ParseHex(hex);
        if (!bytes) return qvm::MakeError("'report' needs the report's bytes in hexadecimal");
        if (device.VendorInterface() < 0) return qvm::MakeError("device has no vendor reports");
        device.EmitInputReport(std::move(*bytes));
        return {};
    }
    if (command == "profile") {
        int profile = 0;
        if (!(words >> profile) || profile < 1 || profile > 5 || device.IsKeyboard()) {
            return qvm::MakeError("'profile' needs a mouse and a profile from 1 to 5");
        }
        device.SelectProfile(profile - 1);
        return {};
    }
    return qvm::MakeError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
    std::string devices;
    std::string state;
    std::string gadget;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        if (arg == "--state" && i + 1 < argc) {
            state = argv[++i];
        } else if (arg == "--usb" && i + 1 < argc) {
            gadget = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "qvm-uhid: unknown option '%s' (see --help)\n", arg.c_str());
            return kExitUsage;
        } else if (devices.empty()) {
            devices = arg;
        } else {
            std::fprintf(stderr, "qvm-uhid: more than one device list given\n");
            return kExitUsage;
        }
    }
    auto backend = qvm::SimBackend::Create(devices, state);
    if (!backend) {
        std::fprintf(stderr, "qvm-uhid: %s\n", backend.message().c_str());
        return kExitUsage;
    }
    for (const std::string& note : (*backend)->LoadNotes()) {
        std::fprintf(stderr, "qvm-uhid: %s\n", note.c_str());
    }
    if (!gadget.empty() && (*backend)->DeviceCount() != 1) {
        std::fprintf(stderr, "qvm-uhid: --usb serves exactly one device\n");
        return kExitUsage;
    }
    Served served;
    served.backend = backend->get();
    served.gadgetFolder = gadget;
    served.kernelDevices.resize((*backend)->DeviceCount());
    for (size_t place = 0; place < served.kernelDevices.size(); ++place) {
        if (qvm::Status plugged = Plug(served, place); !plugged) {
            std::fprintf(stderr, "qvm-uhid: %s\n", plugged.message().c_str());
            return kExitFailure;
        }
    }
    std::cout << "ready" << std::endl;
    std::string line;
    bool quit = false;
    while (!quit && std::getline(std::cin, line)) {
        const qvm::Status done = Run(served, line, quit);
        std::cout << (done ? std::string("ok") : "error: " + done.message()) << std::endl;
    }
    return kExitOk;
}
