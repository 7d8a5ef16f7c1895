// Writes (on) or removes (off) the autostart entry as the desktop program's option does,
// so that a test can kill it while it writes: `qvm_autostart_writer on|off PROGRAM`.
// Exits 0 when it was done, 1 with the message on standard error when not, 2 on misuse.
#include <iostream>
#include <string_view>

#include "session/autostart.h"

int main(int argc, char** argv) {
    constexpr int kUsage = 2;
    if (argc != 3 || (std::string_view(argv[1]) != "on" && std::string_view(argv[1]) != "off")) {
        std::cerr << "usage: qvm_autostart_writer on|off PROGRAM\n";
        return kUsage;
    }
    const qvm::Status set = qvm::SetAutostart(std::string_view(argv[1]) == "on", argv[2]);
    if (!set) {
        std::cerr << set.message() << '\n';
        return 1;
    }
    return 0;
}
