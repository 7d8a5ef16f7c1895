#include "config/memory_top.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "config/image_layout.h"
#include "config/macro_slots.h"
#include "device/commands.h"

namespace qvm {
namespace {

constexpr int kStatusWaitMs = 10;
constexpr std::size_t kTopLow = 13;  // status reply of class C: memory top
constexpr std::size_t kTopHigh = 14;

// Bytes compared at address 0 and at each candidate size: the header and the start of
// the first profile block in every class.
constexpr uint32_t kWindowBytes = 64;
// Candidate memory sizes, largest first; the address space ends at 64 KiB.
constexpr uint32_t kAddressSpace = 0x10000;
constexpr std::array<uint32_t, 5> kSmallerSizes = {0x8000, 0x4000, 0x2000, 0x1000, 0x800};

std::string Hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// Why the device did not answer, as its own failure says.
Error NoAnswer(const DeviceCommands& commands, const std::string& path) {
    return commands.FailureOr(path, "the device did not answer while its memory size was read")
        .ToError();
}

Result<uint32_t> ReportedTop(DeviceCommands& commands, const std::string& path,
                             const ImageLayout& layout) {
    const Frame status = commands.QueryStatus(path, kStatusWaitMs);
    if (commands.GetTransport().LastFailure(path)) return NoAnswer(commands, path);
    const auto top = static_cast<uint32_t>(status[kTopLow] | status[kTopHigh] << 8);
    if (top + 1 >= layout.readLength) return top;
    // A reply of zeros is what a device that left gives too: one read tells which.
    std::array<uint8_t, 1> probe{};
    if (!commands.ReadMemory(path, kMarkerAddress, probe, false)) return NoAnswer(commands, path);
    return MakeError(ErrorKind::DeviceGarbled, "the device reports a memory top of " + Hex4(top) +
                                                   ", too small to hold a configuration");
}

// The size at which the first bytes of the memory read again.
Result<uint32_t> TopByWrapAround(DeviceCommands& commands, const std::string& path) {
    std::array<uint8_t, kWindowBytes> first{};
    if (!commands.ReadMemory(path, 0, first, false)) return NoAnswer(commands, path);
    if (std::all_of(first.begin(), first.end(), [&](uint8_t b) { return b == first[0]; })) {
        return MakeError(ErrorKind::Uninitialised,
                         "the device memory holds no configuration (it is uninitialised), so its "
                         "size cannot be learnt without writing to it; 'qvmctl reset' "
                         "initialises it");
    }
    uint32_t size = kAddressSpace;
    for (uint32_t candidate : kSmallerSizes) {
        std::array<uint8_t, kWindowBytes> again{};
        if (!commands.ReadMemory(path, candidate, again, false)) return NoAnswer(commands, path);
        if (again != first) break;
        size = candidate;
    }
    return size - 1;
}

}  // namespace

Result<uint32_t> LearnMemoryTop(DeviceCommands& commands, const std::string& path) {
    const ImageLayout& layout = LayoutForGeneration(commands.Values().Generation(path));
    if (layout.cls == LayoutClass::C) return ReportedTop(commands, path, layout);
    auto marked = FindMarkedMemoryEnd(commands, path);
    if (!marked) return NoAnswer(commands, path);
    if (*marked) return **marked;
    return TopByWrapAround(commands, path);
}

}  // namespace qvm
