// qvm-sim: serves simulated devices over the device bridge on standard input and
// output, so that qvm-gaming and qvmctl can use them from another process
// (`--hid exec:qvm-sim`). Standard output carries answers only; every diagnostic goes
// to standard error.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "sim/bridge_server.h"
#include "sim/sim_backend.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr std::string_view kStateOption = "--state";

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: qvm-sim [--state DIR] [DEVICES]\n"
                 "\n"
                 "Serves simulated devices over the device bridge (protocol version 1) on\n"
                 "standard input and output until 'bye' or the end of input.\n"
                 "\n"
                 "  DEVICES      the simulator's device list, as for --hid sim:DEVICES\n"
                 "               (empty or absent: the default set)\n"
                 "  --state DIR  keep each device's memory in DIR, so changes survive a\n"
                 "               restart and are shared with the programs using DIR too\n"
                 "  --help       show this text\n");
}

struct Arguments {
    std::string devices;
    std::string stateFolder;
};

// Parses the command line; prints the problem and returns false when it is wrong.
bool ParseArguments(int argc, char** argv, Arguments& out, bool& help) {
    bool haveDevices = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        }
        if (arg == kStateOption) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "qvm-sim: --state needs a folder\n");
                return false;
            }
            out.stateFolder = argv[++i];
            continue;
        }
        if (arg.substr(0, kStateOption.size() + 1) == std::string(kStateOption) + "=") {
            out.stateFolder = std::string(arg.substr(kStateOption.size() + 1));
            continue;
        }
        if (arg.size() > 1 && arg.front() == '-') {
            std::fprintf(stderr, "qvm-sim: unknown option '%s' (see --help)\n", argv[i]);
            return false;
        }
        if (haveDevices) {
            std::fprintf(stderr, "qvm-sim: more than one device list given ('%s', '%s')\n",
                         out.devices.c_str(), argv[i]);
            return false;
        }
        out.devices = std::string(arg);
        haveDevices = true;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    bool help = false;
    if (!ParseArguments(argc, argv, args, help)) return kExitUsage;
    if (help) {
        PrintUsage(stdout);
        return kExitOk;
    }

    // A damaged state file set aside, a write that could not be kept: said on standard
    // error, which the host passes on to its user. The failed transfer answers `err`.
    auto backend =
        qvm::MakeSimBackend(args.devices, args.stateFolder, [](const qvm::SimStateNote& note) {
            std::fprintf(stderr, "qvm-sim: %s\n", note.message.c_str());
        });
    if (!backend) {
        std::fprintf(stderr, "qvm-sim: %s\n", backend.message().c_str());
        return kExitUsage;
    }
    // Answers are written through the bridge's own writer, which turns a host that went
    // away into an error instead of a SIGPIPE. The devices' memory needs no saving at the
    // end: every write reached the state folder at once.
    qvm::Status served = qvm::ServeBridge(**backend, STDIN_FILENO, STDOUT_FILENO);
    backend->reset();
    if (!served) {
        std::fprintf(stderr, "qvm-sim: %s\n", served.message().c_str());
        return kExitFailure;
    }
    return kExitOk;
}
