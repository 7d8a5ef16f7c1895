// What keeping a simulated device's memory in its state folder costs: a whole 64 KiB
// memory written in 2048 blocks of 32 bytes (as a restore writes it) and read back in
// 61-byte pieces, straight through the simulator's interface (no transport pacing), once
// with the memory in the process only and once kept in a state folder, where each
// exchange takes the folder's lock, looks for other processes' writes and writes its own
// bytes through.
//
//   bench_sim_state [--folder DIR]    (default: a new folder under the temporary folder)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/sim_backend.h"

namespace {

using namespace qvm;

constexpr const char* kConfig = "sim#vid_0c45&pid_7030&mi_02#d0i2";
constexpr int kMemory = 0x10000;
constexpr int kBlock = 32;
constexpr int kReadPiece = 61;
constexpr int kFrame = 64;

std::vector<uint8_t> Request(std::initializer_list<uint8_t> body, std::span<const uint8_t> data) {
    std::vector<uint8_t> frame(kFrame, 0);
    frame[0] = 0x01;
    size_t at = 1;
    for (uint8_t b : body) frame[at++] = b;
    for (uint8_t b : data) frame[at++] = b;
    for (int i = 1; i < kFrame - 1; ++i) frame[kFrame - 1] ^= frame[i];
    return frame;
}

struct Timing {
    double writeMs = 0;
    double readMs = 0;
    bool ok = true;
};

Timing Run(const std::string& folder) {
    Timing t;
    auto sim = SimBackend::Create("g12", folder);
    auto handle = sim ? (*sim)->Open(kConfig) : MakeError("no backend");
    if (!handle) {
        std::fprintf(stderr, "bench_sim_state: %s\n", handle.message().c_str());
        t.ok = false;
        return t;
    }
    HidHandle& h = **handle;
    std::vector<uint8_t> block(kBlock);
    const auto t0 = std::chrono::steady_clock::now();
    for (int address = 0; address < kMemory; address += kBlock) {
        for (int i = 0; i < kBlock; ++i) block[i] = static_cast<uint8_t>(address + i * 7);
        const auto lo = static_cast<uint8_t>(address), hi = static_cast<uint8_t>(address >> 8);
        t.ok = h.SetFeature(Request({0x03, lo, hi, kBlock}, block)) && t.ok;
    }
    const auto t1 = std::chrono::steady_clock::now();
    std::vector<uint8_t> reply(kFrame);
    for (int address = 0; address < kMemory; address += kReadPiece) {
        const auto lo = static_cast<uint8_t>(address), hi = static_cast<uint8_t>(address >> 8);
        t.ok = h.SetFeature(Request({0x02, lo, hi}, {})) && t.ok;
        reply[0] = 0x01;
        t.ok = h.GetFeature(reply) && t.ok;
    }
    const auto t2 = std::chrono::steady_clock::now();
    t.writeMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
    t.readMs = std::chrono::duration<double, std::milli>(t2 - t1).count();
    return t;
}

void Print(const char* what, const Timing& t) {
    const int writes = kMemory / kBlock;
    const int reads = (kMemory + kReadPiece - 1) / kReadPiece;
    std::printf("%-22s write %5d blocks %8.2f ms (%6.2f us each)   read %5d pieces %8.2f ms\n",
                what, writes, t.writeMs, 1000 * t.writeMs / writes, reads, t.readMs);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--folder") == 0 && i + 1 < argc) {
            folder = argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench_sim_state [--folder DIR]\n");
            return 2;
        }
    }
    bool made = false;
    if (folder.empty()) {
        folder = (std::filesystem::temp_directory_path() / "qvm-bench-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("bench_sim_state: mkdtemp");
            return 1;
        }
        made = true;
    }
    const Timing alone = Run("");
    // Twice: the first run creates the state file, the second writes into it in place.
    const Timing creating = Run(folder);
    const Timing kept = Run(folder);
    Print("memory in the process", alone);
    Print("kept, first run", creating);
    Print("kept, file in place", kept);
    if (made) std::filesystem::remove_all(folder);
    return alone.ok && creating.ok && kept.ok ? 0 : 1;
}
