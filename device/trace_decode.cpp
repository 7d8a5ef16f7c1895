#include "device/trace_decode.h"

#include <array>
#include <cstdio>
#include <optional>

#include "device/keyboard_commands.h"
#include "device/transport.h"

namespace qvm {
namespace {

constexpr std::array<const char*, static_cast<std::size_t>(CommandId::Count)> kCommandNames{
    "ReadPiece",      "WriteBlock",        "StageBlock",        "CommitBlock",
    "WriteByte",      "QueryStatus",       "SetHostMode",       "NotifyUpdate",
    "ReadDeviceInfo", "ReadInfoRecord1",   "ReadInfoRecord2",   "ReadRecord",
    "ProbeRecord",    "ReadInfoPage",      "PageMode",          "ProbeCompletion",
    "ReadLiveState",  "SetActiveProfile",  "SetSettingByte2",   "SetSettingTriple",
    "ReloadSettings", "ReloadSettingsAlt", "SetLightingEffect", "SetLiveBytes",
    "SetLiveWord",    "LiveProfileColour", "PreviewLedColour",  "RefreshLighting",
};

struct KeyboardSubName {
    KeyboardSub sub;
    const char* name;
};
constexpr std::array<KeyboardSubName, 5> kKeyboardSubNames{{
    {KeyboardSub::Identify, "KeyboardIdentify"},
    {KeyboardSub::ReadState, "KeyboardReadState"},
    {KeyboardSub::SetEffect, "KeyboardSetEffect"},
    {KeyboardSub::ReadKeyColours, "KeyboardReadKeyColours"},
    {KeyboardSub::WriteKeyColours, "KeyboardWriteKeyColours"},
}};

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

std::string Unknown(std::span<const uint8_t> bytes, std::size_t at) {
    return at < bytes.size() ? "unknown " + Hex(bytes[at], 2) : "unknown";
}

// A request that matches one frame of a command's encoding, and the parameters it
// carries. Bytes outside the template and the payload must be zero, the 9-byte marker
// must be in place, so that a request matches one command only (two commands the
// device cannot tell apart on the wire match with the same score).
struct Match {
    CommandId id = CommandId::Count;
    int literals = -1;      // template bytes that are fixed values: the match's weight
    int frameCount = 0;     // frames of the command: fewer is the closer match
    int waitMs = kNoReply;  // whether a reply follows
    std::array<std::optional<uint8_t>, 6> params{};
};

std::optional<Match> MatchFrame(const FrameTemplate& tpl, GenerationClass cls,
                                std::span<const uint8_t> bytes) {
    const bool isShort = cls == GenerationClass::Short;
    // Byte 8 of a 9-byte frame and byte 63 of a 64-byte frame are the check byte (the
    // staging command's byte 8 is data and lies in its payload).
    const std::size_t end = isShort ? kShortFrame - 1 : kLongFrame - 1;
    const std::size_t payloadAt =
        tpl.payloadAt > 0 ? static_cast<std::size_t>(tpl.payloadAt) : bytes.size();
    Match match;
    match.literals = 0;
    for (std::size_t at = 1; at < end; ++at) {
        const std::size_t i = at - 1;
        if (i < static_cast<std::size_t>(tpl.count)) {
            const uint16_t v = tpl.bytes[i];
            if (v >= kParam) {
                auto& param = match.params.at(v - kParam);
                if (!param) param = bytes[at];
            } else if (bytes[at] != v) {
                return std::nullopt;
            } else {
                ++match.literals;
            }
        } else if (at >= payloadAt) {
            break;
        } else if (isShort && at == static_cast<std::size_t>(kShortMarkerByte)) {
            if (bytes[1] != kStagingCommand && bytes[at] != kShortMarker) return std::nullopt;
        } else if (bytes[at] != 0) {
            return std::nullopt;
        }
    }
    match.waitMs = tpl.waitMs;
    return match;
}

uint8_t CheckByte(std::span<const uint8_t> bytes, std::size_t last) {
    uint8_t x = 0;
    for (std::size_t i = 1; i <= last; ++i) x ^= bytes[i];
    return x;
}

// The arguments worth showing: memory addresses and lengths by name, the parameters of
// other commands in order.
std::string Arguments(const Match& m, GenerationClass cls) {
    const auto p = [&m](int n) -> unsigned { return m.params.at(n).value_or(0); };
    const int digits = cls == GenerationClass::Short ? 6 : 4;
    switch (m.id) {
        case CommandId::ReadPiece:
            return "address=" + Hex(p(0) | p(1) << 8 | p(2) << 16, digits);
        case CommandId::WriteBlock:
            return "address=" + Hex(p(0) | p(1) << 8, 4) + " length=" + std::to_string(p(3));
        case CommandId::CommitBlock:
            return "address=" + Hex(p(0) | p(1) << 8 | p(2) << 16, 6) +
                   " length=" + std::to_string(p(3));
        case CommandId::StageBlock:
            return "offset=" + std::to_string(p(0));
        case CommandId::WriteByte:
            return "address=" + Hex(p(0) | p(1) << 8, 4) + " value=" + Hex(p(2), 2);
        default:
            break;
    }
    std::string args;
    for (const auto& param : m.params) {
        if (!param) continue;
        args += (args.empty() ? "" : " ") + Hex(*param, 2);
    }
    return args;
}

}  // namespace

const char* CommandName(CommandId id) {
    return kCommandNames.at(static_cast<std::size_t>(id));
}

DecodedExchange TraceDecoder::Decode(const TraceRecord& record) {
    DecodedExchange decoded;
    switch (record.kind) {
        case TraceKind::SetFeature:
            decoded = DecodeFeatureRequest(record);
            break;
        case TraceKind::GetFeature:
            decoded = DecodeFeatureRead(record);
            break;
        case TraceKind::Write:
        case TraceKind::Read:
            decoded = DecodeKeyboardReport(record);
            break;
        case TraceKind::String:
            decoded = {"String", "index=" + Hex(static_cast<unsigned>(record.stringIndex), 2)};
            break;
    }
    if (!record.outcome.empty()) {
        decoded.args += (decoded.args.empty() ? "" : " ") + ("(" + record.outcome + ")");
    }
    return decoded;
}

DecodedExchange TraceDecoder::DecodeFeatureRequest(const TraceRecord& record) {
    awaiting_.erase(record.path);
    const std::span<const uint8_t> bytes = record.bytes;
    std::vector<GenerationClass> classes;
    if (bytes.size() == kShortFrame) {
        classes = {GenerationClass::Short};
    } else if (bytes.size() == kLongFrame) {
        classes = {GenerationClass::Long, GenerationClass::Extended};
    } else {
        return {Unknown(bytes, 1),
                "(a feature report of " + std::to_string(bytes.size()) + " bytes)"};
    }
    std::optional<Match> best;
    GenerationClass bestClass = classes.front();
    for (GenerationClass cls : classes) {
        for (int id = 0; id < static_cast<int>(CommandId::Count); ++id) {
            const CommandEncoding& encoding = EncodingOf(static_cast<CommandId>(id), cls);
            for (int f = 0; f < encoding.frameCount; ++f) {
                auto match = MatchFrame(encoding.frames.at(f), cls, bytes);
                if (!match) continue;
                match->id = static_cast<CommandId>(id);
                match->frameCount = encoding.frameCount;
                if (!best || match->literals > best->literals ||
                    (match->literals == best->literals && match->frameCount < best->frameCount)) {
                    best = match;
                    bestClass = cls;
                }
            }
        }
    }
    if (!best) return {Unknown(bytes, 1), ""};
    DecodedExchange decoded{CommandName(best->id), Arguments(*best, bestClass)};
    const bool staging = bestClass == GenerationClass::Short && bytes[1] == kStagingCommand;
    const std::size_t last = bytes.size() == kShortFrame ? 7 : kLongFrame - 2;
    if (!staging && bytes[last + 1] != CheckByte(bytes, last)) {
        decoded.args += (decoded.args.empty() ? "" : " ") + std::string("(check byte wrong)");
    }
    if (best->waitMs != kNoReply) awaiting_[record.path] = decoded.name;
    return decoded;
}

DecodedExchange TraceDecoder::DecodeFeatureRead(const TraceRecord& record) {
    if (record.bytes.size() < 2) return {"poll", ""};
    const uint8_t status = record.bytes[1];
    if (status & Transport::kBusyBit) return {"poll", "busy"};
    const std::string shown = "status=" + Hex(status & Transport::kStatusMask, 2);
    const auto waiting = awaiting_.find(record.path);
    if (waiting == awaiting_.end()) return {"poll", shown};
    DecodedExchange decoded{"reply " + waiting->second, shown};
    awaiting_.erase(waiting);
    return decoded;
}

DecodedExchange TraceDecoder::DecodeKeyboardReport(const TraceRecord& record) {
    const std::span<const uint8_t> bytes = record.bytes;
    if (record.kind == TraceKind::Read) {
        const auto waiting = awaiting_.find(record.path);
        if (waiting == awaiting_.end() || bytes.empty()) return {"input report", ""};
        DecodedExchange decoded{"reply " + waiting->second, ""};
        awaiting_.erase(waiting);
        return decoded;
    }
    awaiting_.erase(record.path);
    if (bytes.size() < 3 || bytes[0] != kKeyboardReportId || bytes[1] != kKeyboardTag) {
        return {"output report", ""};
    }
    for (const KeyboardSubName& entry : kKeyboardSubNames) {
        if (static_cast<uint8_t>(entry.sub) == bytes[2]) {
            awaiting_[record.path] = entry.name;
            return {entry.name, ""};
        }
    }
    return {"Keyboard " + Unknown(bytes, 2), ""};
}

}  // namespace qvm
