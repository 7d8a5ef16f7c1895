// The command encodings, one table row per command with one column per generation
// class. Request bytes start at byte 1; Param(n) marks parameter n. Unlisted bytes are 0.
// In the 9-byte column byte 7 is left out: FillRequest adds the marker there.
#include "device/command_table.h"

#include <algorithm>
#include <initializer_list>

namespace qvm {
namespace {

constexpr auto P0 = Param(0);
constexpr auto P1 = Param(1);
constexpr auto P2 = Param(2);
constexpr auto P3 = Param(3);
constexpr auto P4 = Param(4);
constexpr auto P5 = Param(5);

FrameTemplate F(std::initializer_list<uint16_t> bytes, int waitMs, int payloadAt = 0) {
    FrameTemplate t;
    std::copy(bytes.begin(), bytes.end(), t.bytes.begin());
    t.count = static_cast<int>(bytes.size());
    t.waitMs = waitMs;
    t.payloadAt = payloadAt;
    return t;
}

struct Opt {
    bool bracketed = false;
    int minGeneration = INT_MIN;
};

CommandEncoding E(std::initializer_list<FrameTemplate> frames, Opt opt = {}) {
    CommandEncoding e;
    std::copy(frames.begin(), frames.end(), e.frames.begin());
    e.frameCount = static_cast<int>(frames.size());
    e.bracketed = opt.bracketed;
    e.minGeneration = opt.minGeneration;
    return e;
}

const CommandEncoding kNone{};
constexpr Opt kBracketed{.bracketed = true};

using Row = std::array<CommandEncoding, 3>;  // generation 0 / 1 to 10 / 11 and above

// The profile colour shown live before it is stored. Generation 0 stages the colour
// with command 9 and applies it with 0x04 0x09 (reply after 10 ms, as every
// generation 0 command that follows staged bytes). Generations 1 to 10 take one
// channel per command: byte 4 is the channel (0 red, 1 green, 2 blue), byte 5 its
// value.
Row LiveProfileColourRow() {
    return {E({F({kStagingCommand, 0x0F, P0, P1, P2}, kNoReply), F({0x04, 0x09}, 10)}),
            E({F({0x01, 0x05, 0x00, 0x00, P0}, kNoReply), F({0x01, 0x05, 0x00, 0x01, P1}, kNoReply),
               F({0x01, 0x05, 0x00, 0x02, P2}, kNoReply)}),
            kNone};
}

std::array<Row, static_cast<std::size_t>(CommandId::Count)> BuildTable() {
    std::array<Row, static_cast<std::size_t>(CommandId::Count)> t{};
    auto row = [&t](CommandId id) -> Row& { return t[static_cast<std::size_t>(id)]; };

    // ---- Memory. Parameters: address bytes 0, 1, 2, then length or value. ----
    row(CommandId::ReadPiece) = {E({F({0x05, 0x00, P0, P1, P2}, 0)}),
                                 E({F({0x01, 0x00, 0x00, P0, P1}, 0)}), E({F({0x02, P0, P1}, 0)})};
    row(CommandId::WriteBlock) = {kNone, E({F({0x01, 0x03, P0, P1, P3}, kNoReply, 6)}),
                                  E({F({0x03, P0, P1, P3}, kNoReply, 5)})};
    // Staging: parameter 0 is the offset of the six data bytes within the block.
    row(CommandId::StageBlock) = {E({F({kStagingCommand, P0}, kNoReply, 3)}), kNone, kNone};
    row(CommandId::CommitBlock) = {E({F({0x05, 0x02, P0, P1, P2, P3}, 10)}), kNone, kNone};
    // Generation 0 only; the others write a block of one. Parameters: a0, a1, value.
    row(CommandId::WriteByte) = {E({F({0x05, 0x01, P0, P1, 0x00, P2}, kNoReply)}), kNone, kNone};

    // ---- Identity and state. ----
    // QueryStatus: the wait is the caller's.
    row(CommandId::QueryStatus) = {E({F({0x00}, 0)}), E({F({}, 0)}), E({F({}, 0)})};
    row(CommandId::SetHostMode) = {
        E({F({0x00, 0x01, P0}, 5)}), E({F({0x00, 0x01, 0x12, P0}, kNoReply)}),
        E({F({0x00, 0x12, 0x12}, kNoReply), F({0x00, 0x01, 0x12, P0}, kNoReply)})};
    row(CommandId::NotifyUpdate) = {kNone, E({F({0x00, 0x12, 0x12}, 0)}),
                                    E({F({0x00, 0x12, 0x12}, 0)})};
    // The 64-byte classes answer these three from the information record.
    row(CommandId::ReadDeviceInfo) = {E({F({0x00, 0x02, 0x00}, 30)}), kNone, kNone};
    row(CommandId::ReadInfoRecord1) = {E({F({0x00, 0x02, 0x01}, 10)}), kNone, kNone};
    row(CommandId::ReadInfoRecord2) = {E({F({0x00, 0x02, 0x02}, 2)}), kNone, kNone};
    row(CommandId::ReadRecord) = {kNone, kNone, E({F({0x0A, P0, 0x01}, 0)})};
    row(CommandId::ProbeRecord) = {E({F({0x00, 0x02, 0x04, P0}, 0)}), kNone,
                                   E({F({0x0A, P0, 0x01, 0, 0, 0, 0x12}, 0)})};
    row(CommandId::ReadInfoPage) = {kNone, E({F({0x01, 0x00, 0x01, P0}, 0)}), kNone};
    row(CommandId::PageMode) = {kNone, E({F({0x01, 0x06, 0x02, 0x02}, 0)}),
                                E({F({0x01, 0x06, 0x02, 0x02}, 0)})};
    row(CommandId::ProbeCompletion) = {E({F({0x01, 0x01, 0x01}, 5)}), kNone, kNone};
    // The 64-byte classes read the live state from the status reply.
    row(CommandId::ReadLiveState) = {E({F({0x04, 0x00}, 10)}), E({F({}, 10)}), E({F({}, 10)})};

    // ---- Immediate settings. ----
    row(CommandId::SetActiveProfile) = {E({F({0x04, 0x03, P0}, kNoReply)}),
                                        E({F({0x01, 0x07, 0x02, P0}, kNoReply)}, kBracketed),
                                        E({F({0x11, P0}, kNoReply)})};
    row(CommandId::SetSettingByte2) = {E({F({0x04, 0x02, P0}, 10)}),
                                       E({F({0x01, 0x07, 0x00, P0}, kNoReply)}, kBracketed),
                                       E({F({0x0F, P0}, kNoReply)})};
    // Parameters: a (X value), b (stage), c (Y value).
    row(CommandId::SetSettingTriple) = {E({F({0x04, 0x01, P1, P0, P2}, kNoReply)}),
                                        E({F({0x01, 0x07, 0x01, P0, P2}, kNoReply)}),
                                        E({F({0x10, P0, P2}, kNoReply)})};
    row(CommandId::ReloadSettings) = {E({F({0x08, 0, 0, 0, 0, 0x0C}, 10)}),
                                      E({F({0x01, 0x04, 0x00}, kNoReply)}),
                                      E({F({0x14}, kNoReply)})};
    row(CommandId::ReloadSettingsAlt) = {E({F({0x08, 0x02, 0, 0, 0, 0x0C}, 10)}),
                                         E({F({0x01, 0x04, 0x02}, kNoReply)}),
                                         E({F({0x16}, kNoReply)})};
    row(CommandId::SetLightingEffect) = {
        kNone, E({F({0x01, 0x04, 0x03, 0x01, P0}, 10)}, {.bracketed = true, .minGeneration = 3}),
        E({F({0x12, P0}, 10)})};
    // Parameters: the four bytes of the value, lowest first.
    row(CommandId::SetLiveBytes) = {E({F({0x0C, 0x01, P0, P1, 0, 0x12}, kNoReply)}),
                                    E({F({0x01, 0x06, 0x03, P0, P1, P2}, kNoReply)}, kBracketed),
                                    E({F({0x0E, P0, P1, P2, P3}, kNoReply)})};
    // Parameters: low byte, high byte.
    row(CommandId::SetLiveWord) = {
        E({F({0x04, 0x08, P0, P1}, 10)}),
        E({F({0x01, 0x07, 0x03, 0x02, P0, P1, 0, 0, 0x12}, 10)}, kBracketed),
        E({F({0x01, 0x07, 0x03, 0x02, P0, P1, 0, 0, 0x12}, 10)})};
    row(CommandId::LiveProfileColour) = LiveProfileColourRow();
    // Parameters: LED, extra byte, flags, red, green, blue.
    row(CommandId::PreviewLedColour) = {
        kNone, E({F({0x01, 0x08, 0x02, P0, P1, P2, P3, P4, P5}, kNoReply)}, {.minGeneration = 3}),
        E({F({0x13, P0, P2, P3, P4, P5}, kNoReply)})};
    row(CommandId::RefreshLighting) = {kNone, E({F({0x01, 0x04, 0x03, 0x00}, kNoReply)}), kNone};
    return t;
}

}  // namespace

GenerationClass ClassOfGeneration(int32_t generation) {
    if (generation <= 0) return GenerationClass::Short;
    return generation <= 10 ? GenerationClass::Long : GenerationClass::Extended;
}

const CommandEncoding& EncodingOf(CommandId id, GenerationClass cls) {
    static const auto kTable = BuildTable();
    return kTable.at(static_cast<std::size_t>(id)).at(static_cast<std::size_t>(cls));
}

void FillRequest(const FrameTemplate& tpl, GenerationClass cls, std::span<const uint8_t> params,
                 std::span<const uint8_t> payload, Frame& out) {
    out.Clear();
    // Request bytes end before the check byte: byte 8 of a 9-byte frame belongs to the
    // staging command's data, byte 63 of a 64-byte frame is always the check byte.
    const std::size_t end = cls == GenerationClass::Short ? kShortFrame : kLongFrame - 1;
    for (int i = 0; i < tpl.count; ++i) {
        const uint16_t v = tpl.bytes[i];
        const std::size_t at = 1 + static_cast<std::size_t>(i);
        if (v >= kParam) {
            const std::size_t n = v - kParam;
            out[at] = n < params.size() ? params[n] : 0;
        } else {
            out[at] = static_cast<uint8_t>(v);
        }
    }
    if (tpl.payloadAt > 0) {
        const std::size_t at = static_cast<std::size_t>(tpl.payloadAt);
        const std::size_t n = std::min(payload.size(), end > at ? end - at : 0);
        std::copy_n(payload.begin(), n, out.bytes.begin() + at);
    }
    if (cls == GenerationClass::Short && out[1] != kStagingCommand) {
        out[kShortMarkerByte] = kShortMarker;
    }
}

const std::array<ValueSource, 6>& LiveStateSources(GenerationClass cls) {
    using K = ValueSource::Kind;
    static const std::array<std::array<ValueSource, 6>, 3> kSources{{
        {{{K::Reply, 2},
          {K::Reply, 3},
          {K::Reply, 4},
          {K::Reply, 5},
          {K::Reply, 6},
          {K::Reply, 7}}},
        {{{K::Reply, 8},
          {K::Info, 14},
          {K::Reply, 21},
          {K::Reply, 22},
          {K::None, 0},
          {K::Reply, 9}}},
        {{{K::Reply, 17},
          {K::Constant, 4},
          {K::Reply, 15},
          {K::Reply, 16},
          {K::None, 0},
          {K::Reply, 18}}},
    }};
    return kSources.at(static_cast<std::size_t>(cls));
}

// The three further information bytes come from reply bytes 3 to 5, or from record
// offsets 2 to 4 where the record answers.
const std::array<ValueSource, 6>& DeviceInfoSources(GenerationClass cls) {
    using K = ValueSource::Kind;
    static const std::array<ValueSource, 6> kReply{
        {{K::Reply, 2}, {K::Reply, 3}, {K::Reply, 4}, {K::Reply, 5}, {K::Reply, 6}, {K::Reply, 7}}};
    static const std::array<ValueSource, 6> kInfo{
        {{K::Info, 0x10}, {K::Info, 2}, {K::Info, 3}, {K::Info, 4}, {K::Info, 10}, {K::Info, 11}}};
    return cls == GenerationClass::Short ? kReply : kInfo;
}

const std::array<ValueSource, 4>& InfoRecordSources(GenerationClass cls, int which) {
    using K = ValueSource::Kind;
    static const std::array<ValueSource, 4> kReply1{{{K::Reply, 2}, {K::Reply, 3}}};
    static const std::array<ValueSource, 4> kReply2{
        {{K::Reply, 2}, {K::Reply, 3}, {K::Reply, 4}, {K::Reply, 5}}};
    static const std::array<ValueSource, 4> kInfo1{{{K::Info, 12}, {K::Info, 13}}};
    static const std::array<ValueSource, 4> kInfo2{
        {{K::Info, 6}, {K::Info, 7}, {K::Info, 8}, {K::Info, 9}}};
    static const std::array<ValueSource, 4> kNoValues{};
    const bool shortClass = cls == GenerationClass::Short;
    if (which == 1) return shortClass ? kReply1 : kInfo1;
    if (which == 2) return shortClass ? kReply2 : kInfo2;
    return kNoValues;
}

const ButtonLayout& ButtonLayoutOf(GenerationClass cls) {
    static const std::array<ButtonLayout, 3> kLayouts{{
        {0x010, 0x60, {0x20, 0x30, 0x40, 0x50}, 16},
        {0x020, 0x80, {0x20, 0x38, 0x50, 0x68}, 24},
        {0x020, 0xA0, {0x20, 0x40, 0x60, 0x80}, 32},
    }};
    return kLayouts.at(static_cast<std::size_t>(cls));
}

}  // namespace qvm
