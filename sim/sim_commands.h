// The command set a simulated mouse decodes, one table per protocol family. A request
// matches a rule by its bytes 1 to 3 (and the further fixed bytes the rule names); the
// rule says which operation it asks for and where that operation's operands sit.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qvm {

enum class SimOp : uint8_t {
    QueryStatus,
    SetHostMode,  // args: mode
    NotifyUpdate,
    DeviceInfo,
    InfoRecord1,
    InfoRecord2,
    ButtonRecord,  // args: record index
    InfoPage,      // args: word offset
    PageMode,
    ProbeComplete,
    LiveState,
    ReadMemory,      // args: address bits 0-7, 8-15, 16-23 (or none)
    WriteByte,       // args: address low, address high, value
    WriteBlock,      // args: address low, address high, count, first data byte
    StageData,       // args: staging offset, first data byte (six bytes follow)
    CommitStaged,    // args: address bits 0-7, 8-15, 16-23, count
    SetProfile,      // args: profile
    SetStage,        // args: stage
    SetStageValues,  // args: X, Y, stage (or none: the current stage)
    Reload,
    ReloadAlt,
    SetLighting,  // args: effect
    LightingRefresh,
    LiveBytes,          // args: b0, b1, b2, b3 (trailing ones may be none)
    LiveWord,           // args: low, high
    ProfileColour,      // args: red, green, blue
    ProfileColourPart,  // args: channel, value
    LedPreview,         // args: LED, flags, first of red, green, blue
};

inline constexpr int16_t kSimAnyByte = -1;
inline constexpr int8_t kSimNoArg = -1;

struct SimFixedByte {
    int8_t at = kSimNoArg;  // request byte position, kSimNoArg when unused
    uint8_t value = 0;
};

struct SimCommandRule {
    std::array<int16_t, 3> match;  // bytes 1, 2, 3; kSimAnyByte matches every value
    SimOp op;
    std::array<int8_t, 4> args = {kSimNoArg, kSimNoArg, kSimNoArg, kSimNoArg};
    std::array<SimFixedByte, 2> fixed = {};
    uint8_t minGeneration = 0;  // the command exists from this generation on
};

// The rule a request asks for, or nullptr for a request the device does not know.
const SimCommandRule* FindSimCommand(int generation, std::span<const uint8_t> request);

}  // namespace qvm
