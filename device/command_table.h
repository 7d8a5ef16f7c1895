// The encodings of the device command set, as data. Each command has one entry per
// generation class (9-byte generation 0, 64-byte generations 1 to 10, 64-byte
// generations 11 and above): the request bytes from byte 1 on with parameter
// placeholders, the reply wait, and whether generations 1 to 10 wrap it in the update
// bracket. Byte 0 and the check byte are the transport's. The table itself lives in
// command_table.cpp.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <span>

#include "device/frame.h"

namespace qvm {

enum class GenerationClass { Short = 0, Long = 1, Extended = 2 };
GenerationClass ClassOfGeneration(int32_t generation);

// Reply wait meaning "send only, read no reply".
inline constexpr int kNoReply = -1;

// Template byte values at or above kParam stand for a parameter: kParam + n takes
// parameter n of the command.
inline constexpr uint16_t kParam = 0x100;
constexpr uint16_t Param(int n) {
    return static_cast<uint16_t>(kParam + n);
}

inline constexpr int kMaxTemplateBytes = 12;

struct FrameTemplate {
    std::array<uint16_t, kMaxTemplateBytes> bytes{};  // request bytes 1, 2, ...
    int count = 0;                                    // template bytes used
    int waitMs = kNoReply;
    int payloadAt = 0;  // request byte where variable data starts; 0: no payload
};

inline constexpr int kMaxFrames = 3;

struct CommandEncoding {
    std::array<FrameTemplate, kMaxFrames> frames{};
    int frameCount = 0;  // 0: the command does not exist for this class
    bool bracketed = false;
    int minGeneration = INT_MIN;  // finer limits inside a class
    int maxGeneration = INT_MAX;
};

enum class CommandId {
    ReadPiece,
    WriteBlock,   // 64-byte classes; generation 0 uses StageBlock + CommitBlock
    StageBlock,   // generation 0 staging command 9 (six data bytes)
    CommitBlock,  // generation 0 commit of the staged bytes
    WriteByte,
    QueryStatus,
    SetHostMode,
    NotifyUpdate,
    ReadDeviceInfo,
    ReadInfoRecord1,
    ReadInfoRecord2,
    ReadRecord,   // record read of the configuration loader and main window
    ProbeRecord,  // the probe's record query
    ReadInfoPage,
    PageMode,
    ProbeCompletion,
    ReadLiveState,
    SetActiveProfile,
    SetSettingByte2,
    SetSettingTriple,
    ReloadSettings,
    ReloadSettingsAlt,
    SetLightingEffect,
    SetLiveBytes,
    SetLiveWord,
    LiveProfileColour,
    PreviewLedColour,
    RefreshLighting,
    Count,
};

const CommandEncoding& EncodingOf(CommandId id, GenerationClass cls);

// In the 9-byte encoding byte 7 of every request is this marker, except in the staging
// command 9, whose byte 7 carries data.
inline constexpr uint8_t kShortMarker = 0x12;
inline constexpr int kShortMarkerByte = 7;
inline constexpr uint8_t kStagingCommand = 0x09;

// Fills bytes 1.. of `out` (cleared first) from the template, the parameters and the
// payload, and applies the 9-byte marker rule.
void FillRequest(const FrameTemplate& tpl, GenerationClass cls, std::span<const uint8_t> params,
                 std::span<const uint8_t> payload, Frame& out);

// ---- Memory pieces ----
inline constexpr int kShortPiece = 7;          // bytes of one read in generation 0
inline constexpr int kLongPiece = 61;          // bytes of one read in the 64-byte classes
inline constexpr int kReplyDataAt = 2;         // first data byte of a reply
inline constexpr int kMaxBlock = 32;           // bytes of one block write
inline constexpr int kStagingChunk = 6;        // data bytes of one staging command
inline constexpr int kAfterBlockSleepMs = 1;   // after a block write (all classes)
inline constexpr int kAfterCommitSleepMs = 2;  // after the generation 0 commit
// Addresses a request can carry: 24 bits in the generation 0 read and block write,
// 16 bits in its single-byte write and in every 64-byte encoding.
inline constexpr uint64_t kWideAddressLimit = uint64_t{1} << 24;
inline constexpr uint64_t kAddressLimit = uint64_t{1} << 16;
inline constexpr int kInfoPageDataBytes = 60;  // data bytes of an information page
inline constexpr int kBracketStatusWaitMs = 10;
inline constexpr int kBracketFlagByte = 10;       // QueryStatus reply byte ...
inline constexpr uint8_t kBracketFlagBit = 0x40;  // ... bit 6 set: no bracket needed

// ---- Values answered from a reply or from the information record ----
struct ValueSource {
    enum Kind : uint8_t { None, Reply, Info, Constant } kind = None;
    uint8_t at = 0;  // reply byte, record offset or the constant
};

// ReadLiveState: the six values per class.
const std::array<ValueSource, 6>& LiveStateSources(GenerationClass cls);
// ReadDeviceInfo: feature flags, three further bytes, class, IdentByte3.
const std::array<ValueSource, 6>& DeviceInfoSources(GenerationClass cls);
// ReadInfoRecord(1) (two values) and (2) (four values).
const std::array<ValueSource, 4>& InfoRecordSources(GenerationClass cls, int which);

// ReadRecord from the information record: record r sits at 0x48 + 4r, and a first byte
// above 50 reads as 1.
inline constexpr int kRecordBase = 0x48;
inline constexpr int kRecordCount = 32;
inline constexpr uint8_t kRecordFirstMax = 50;

// ---- Configuration memory addresses the commands themselves touch ----
inline constexpr uint32_t kCurrentStageAddress = 0x02;  // SetSettingByte2, generation 0
inline constexpr uint32_t kLightingEffectAddress = 0x11;
inline constexpr uint32_t kLightingBlockAddress = 0x460;
inline constexpr int kMaxLightingEffect = 4;
inline constexpr int32_t kFirstLightingGeneration = 3;
inline constexpr int kMaxProfile = 4;

// Button records: plane b of button j of profile p lies at
// profileBase + p * stride + planeOffset[b] + j.
struct ButtonLayout {
    uint32_t profileBase;
    uint32_t stride;
    std::array<uint32_t, 4> planeOffset;
    int buttons;
};
const ButtonLayout& ButtonLayoutOf(GenerationClass cls);

}  // namespace qvm
