// What one simulated device is: its kind, identity bytes, memory size and the faults it
// starts with. Filled by the device grammar (sim_grammar.h) or built directly by tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvm {

inline constexpr uint16_t kSimVendorId = 0x0C45;

enum class SimKind { Mouse, KeyboardMx28, KeyboardMx29 };

// Faults a device can be told to show. They can also be changed at run time through
// SimDevice::SetFaults.
struct SimFaults {
    int busyPolls = 0;         // feature reads that answer "busy" after each command
    bool busyForever = false;  // every feature read answers "busy"
    bool noReply = false;      // every feature read fails; keyboards queue no replies
    int removeAfter = 0;       // > 0: the device leaves after this many more transfers
    bool corrupt = false;      // replies carry wrong data bytes and a wrong check byte
    int costMs = 0;            // simulated USB time per control transfer, through the Clock

    bool operator==(const SimFaults&) const = default;
};

struct SimDeviceConfig {
    SimKind kind = SimKind::Mouse;
    int generation = 12;            // protocol generation, mice only
    bool extendedLayout = false;    // info byte 21 of generations 3 to 10
    int modelCode = 25;             // model table code reported by the device
    uint32_t firmware = 0x30;       // one byte for mice, 32 bits for keyboards
    uint32_t memorySize = 0x10000;  // bytes of configuration memory (power of two)
    uint8_t identByte1 = 0x12;      // DPI step selector
    uint8_t identByte2 = 160;       // DPI step count
    uint8_t identByte3 = 0;
    uint8_t identByte4 = 0;   // generation 0 only, info byte 7
    uint8_t deviceClass = 4;  // only class 4 is accepted by the host
    uint8_t featureFlags = 0x01;
    uint16_t productId = 0x7030;
    std::string product = "QVM Gaming Mouse";
    bool blank = false;  // memory starts uninitialised (all 0xFF, marker missing)
    SimFaults faults;
    // Vendor input reports the mouse sends, oldest first (mice only): each `afterMs`
    // milliseconds after the one before it (the first after the device started); those
    // with no wait are in the queue from the start.
    struct TimedReport {
        int afterMs = 0;
        std::vector<uint8_t> bytes;
        bool operator==(const TimedReport&) const = default;
    };
    std::vector<TimedReport> reports;

    bool IsKeyboard() const { return kind != SimKind::Mouse; }
    // The kind as the grammar spells it: "g12", "g5x", "mx28", "mx29".
    std::string KindName() const;
    // The keyboard serial number string ("MX-28", "MX-29"); empty for mice.
    std::string Serial() const;
};

// The defaults of each kind, before options are applied.
SimDeviceConfig DefaultMouse(int generation, bool extendedLayout);
SimDeviceConfig DefaultKeyboard(SimKind kind);

// Layout class of the configuration memory: A (generation 0), B (1..10), C (11 and up).
enum class SimLayoutClass { A, B, C };
SimLayoutClass LayoutClassOf(int generation);

// True when the mouse keeps an LED colour table: generations 3 to 10 with the extended
// layout, and every generation from 11 on. (The lighting effect byte exists from
// generation 3 on, with or without the table.)
bool HasMouseLighting(const SimDeviceConfig& config);

}  // namespace qvm
