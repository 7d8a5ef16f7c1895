#include "net/remote_packets.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <initializer_list>

#include "base/text.h"

namespace qvm::remote {

namespace {

// The byte at `index`, zero past the end of what was received.
uint8_t ByteAt(std::span<const uint8_t> bytes, std::size_t index) {
    return index < bytes.size() ? bytes[index] : 0;
}

bool OpensWith(std::span<const uint8_t> bytes, const std::array<uint8_t, 2>& magic) {
    return ByteAt(bytes, 0) == magic[0] && ByteAt(bytes, 1) == magic[1];
}

void PutBytes(std::span<uint8_t> packet, std::size_t offset, std::span<const uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), packet.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Request fields: b3 onwards.
inline constexpr std::size_t kRequestCodeAt = 2;
inline constexpr std::size_t kArgsAt = 3;
// Profile-name request: three little-endian floats.
inline constexpr std::array<Field, 3> kFloatFields = {{{3, 4}, {7, 4}, {11, 4}}};
// Pointer moves: dx, dy as signed 16-bit little-endian.
inline constexpr Field kRequestDx{3, 2};
inline constexpr Field kRequestDy{5, 2};
inline constexpr Field kDatagramDx{2, 2};
inline constexpr Field kDatagramDy{4, 2};

RemoteRequest PointerMoveOrIgnored(std::span<const uint8_t> bytes, Field dxField, Field dyField) {
    const auto dx = static_cast<int16_t>(GetField(bytes, dxField));
    const auto dy = static_cast<int16_t>(GetField(bytes, dyField));
    if (dx == 0 && dy == 0) return Ignored{};
    return PointerMove{dx, dy};
}

std::string FormatFloats(std::span<const uint8_t> bytes) {
    std::array<float, 3> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = std::bit_cast<float>(GetField(bytes, kFloatFields[i]));
    }
    char text[160];
    const int n =
        std::snprintf(text, sizeof text, "%0.2f, %0.2f, %0.2f", static_cast<double>(values[0]),
                      static_cast<double>(values[1]), static_cast<double>(values[2]));
    return std::string(text, static_cast<std::size_t>(std::clamp(n, 0, int{sizeof text} - 1)));
}

}  // namespace

void PutField(std::span<uint8_t> packet, Field field, uint32_t value) {
    for (std::size_t i = 0; i < field.size && i < 4; ++i) {
        packet[field.offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint32_t GetField(std::span<const uint8_t> packet, Field field) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < field.size && i < 4; ++i) {
        value |= static_cast<uint32_t>(ByteAt(packet, field.offset + i)) << (8 * i);
    }
    return value;
}

std::size_t PutText(std::span<uint8_t> packet, Field field, std::string_view text,
                    std::size_t maxUnits) {
    const std::size_t units = std::min(maxUnits, field.size / 2);
    const std::u16string wide = Utf8ToUtf16(TruncateUtf16Units(text, units));
    const std::vector<uint8_t> bytes = EncodeUtf16Le(wide);
    auto target = packet.subspan(field.offset, field.size);
    std::fill(target.begin(), target.end(), uint8_t{0});
    PutBytes(packet, field.offset, bytes);
    return wide.size();
}

std::string GetText(std::span<const uint8_t> packet, Field field) {
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < field.size; i += 2) {
        const auto unit = static_cast<char16_t>(ByteAt(packet, field.offset + i) |
                                                ByteAt(packet, field.offset + i + 1) << 8);
        if (unit == 0) break;
        wide.push_back(unit);
    }
    return Utf16ToUtf8(wide);
}

RemoteRequest DecodeRequest(std::span<const uint8_t> received, int buttonCount) {
    const auto bytes = received.first(std::min(received.size(), kRequestSize));
    if (OpensWith(bytes, kNameMagic)) return NameRequest{};
    if (!OpensWith(bytes, kCommandMagic)) return Ignored{};
    if (buttonCount <= 0) buttonCount = kStandardButtonCount;
    const auto b = [&](std::size_t k) { return ByteAt(bytes, kArgsAt + k); };  // b(0) = b3
    switch (static_cast<RequestCode>(ByteAt(bytes, kRequestCodeAt))) {
        case RequestCode::SelectStage:
            return SelectStage{b(0) & 3};
        case RequestCode::SelectProfile:
            return SelectProfile{b(0) % 5};
        case RequestCode::SetStageValues:
            return SetStageValues{b(0) % 5, b(1), b(2)};
        case RequestCode::Assign:
            return Assign{b(0) % 5, b(1) % buttonCount, b(2), {b(3), b(4), b(5)}};
        case RequestCode::AssignReordered:
            return Assign{b(0) % 5, b(1) & 15, b(5), {b(2), b(3), b(4)}};
        case RequestCode::LiveBytes:
            return LiveBytes{GetField(bytes, {kArgsAt, 3})};
        case RequestCode::ProfileNameFloats:
            return ProfileNameFloats{FormatFloats(bytes)};
        case RequestCode::PointerMove:
            return PointerMoveOrIgnored(bytes, kRequestDx, kRequestDy);
    }
    return Ignored{};
}

RemoteDatagram DecodeDatagram(std::span<const uint8_t> received) {
    const auto bytes = received.first(std::min(received.size(), kDatagramBufferSize));
    if (bytes.empty()) return Ignored{};
    if (OpensWith(bytes, kNameMagic)) return Discovery{};
    if (bytes[0] != kDatagramPointerMove) return Ignored{};
    const RemoteRequest move = PointerMoveOrIgnored(bytes, kDatagramDx, kDatagramDy);
    if (const auto* m = std::get_if<PointerMove>(&move)) return *m;
    return Ignored{};
}

namespace {

// A command request: the magic, the code, then `args` from b3 on.
Request CommandRequest(RequestCode code, std::initializer_list<uint8_t> args) {
    Request packet{};
    PutBytes(packet, 0, kCommandMagic);
    packet[kRequestCodeAt] = static_cast<uint8_t>(code);
    std::copy(args.begin(), args.end(), packet.begin() + kArgsAt);
    return packet;
}

uint8_t ByteOf(int value) {
    return static_cast<uint8_t>(value);
}

}  // namespace

Request BuildRequest(const NameRequest&) {
    Request packet{};
    PutBytes(packet, 0, kNameMagic);
    return packet;
}

Request BuildRequest(const SelectStage& r) {
    return CommandRequest(RequestCode::SelectStage, {ByteOf(r.stage)});
}

Request BuildRequest(const SelectProfile& r) {
    return CommandRequest(RequestCode::SelectProfile, {ByteOf(r.profile)});
}

Request BuildRequest(const SetStageValues& r) {
    return CommandRequest(RequestCode::SetStageValues, {ByteOf(r.stage), r.x, r.y});
}

Request BuildRequest(const Assign& r) {
    return CommandRequest(RequestCode::Assign, {ByteOf(r.profile), ByteOf(r.button), r.type,
                                                r.operands[0], r.operands[1], r.operands[2]});
}

Request BuildRequest(const PointerMove& r) {
    Request packet = CommandRequest(RequestCode::PointerMove, {});
    PutField(packet, kRequestDx, static_cast<uint16_t>(r.dx));
    PutField(packet, kRequestDy, static_cast<uint16_t>(r.dy));
    return packet;
}

std::array<uint8_t, 2> BuildDiscoveryDatagram() {
    return kNameMagic;
}

Announcement BuildAnnouncement(std::string_view name, uint32_t pin) {
    Announcement packet{};
    PutBytes(packet, announce::kMagic.offset, kNameMagic);
    PutText(packet, announce::kName, name, announce::kMaxNameUnits);
    PutField(packet, announce::kPin, pin);
    return packet;
}

NameReply BuildNameReply(std::string_view name) {
    NameReply packet{};
    PutBytes(packet, name_reply::kMagic.offset, kNameMagic);
    const std::size_t units = PutText(packet, name_reply::kName, name, name_reply::kMaxNameUnits);
    PutField(packet, name_reply::kLength, static_cast<uint32_t>(units));
    return packet;
}

std::optional<DecodedAnnouncement> DecodeAnnouncement(std::span<const uint8_t> bytes) {
    if (!OpensWith(bytes, kNameMagic)) return std::nullopt;
    return DecodedAnnouncement{GetText(bytes, announce::kName), GetField(bytes, announce::kPin)};
}

std::optional<std::string> DecodeNameReply(std::span<const uint8_t> bytes) {
    if (!OpensWith(bytes, kNameMagic)) return std::nullopt;
    const std::size_t units = GetField(bytes, name_reply::kLength);
    return GetText(bytes, {name_reply::kName.offset, std::min(units * 2, name_reply::kName.size)});
}

uint8_t ColourLevel(uint8_t channel) {
    return static_cast<uint8_t>((channel * 3 + 127) / 255);
}

StreamPacket BuildNoDevicePacket() {
    StreamPacket packet{};
    PutBytes(packet, stream::kMagic.offset, kCommandMagic);
    PutField(packet, stream::kKind, static_cast<uint32_t>(StreamKind::NoDevice));
    return packet;
}

StreamPacket BuildStatusPacket(const RemoteStatusInput& in) {
    using namespace status;
    StreamPacket packet{};
    PutBytes(packet, stream::kMagic.offset, kCommandMagic);
    PutField(packet, stream::kKind, static_cast<uint32_t>(StreamKind::Status));
    PutField(packet, kEventRate, in.eventRate);
    PutField(packet, kDeviceState, in.deviceState | (in.devicePathKnown ? 0 : kNoDevicePathBit));
    PutField(packet, kDeviceState2, in.deviceState2);
    PutField(packet, kProfile, static_cast<uint32_t>(std::clamp(in.profile, 0, 255)));

    std::array<uint8_t, 3> levels{};
    for (std::size_t c = 0; c < levels.size(); ++c) levels[c] = ColourLevel(in.colour[c]);
    PutField(packet, kPackedColour, levels[2] * 16u + levels[1] * 4u + levels[0]);
    for (std::size_t c = 0; c < levels.size(); ++c) {
        packet[kColour.offset + c] =
            in.extendedColours ? in.colour[c] : static_cast<uint8_t>(levels[c] * 85);
    }
    PutText(packet, kName, in.profileName, in.extendedColours ? kLongNameUnits : kShortNameUnits);

    PutField(packet, kStage, static_cast<uint32_t>(std::clamp(in.currentStage, 0, 4)));
    PutField(packet, kDpiMax, in.dpiMax);
    for (std::size_t s = 0; s < in.stages.size(); ++s) {
        packet[kStageValues.offset + 2 * s] = in.stages[s][0];
        packet[kStageValues.offset + 2 * s + 1] = in.stages[s][1];
    }
    PutField(packet, kOptionBits, in.optionBits & 0x0Fu);
    PutField(packet, kStepCode, in.stepCode);

    const std::size_t count = std::min(in.buttons.size(), kMaxButtons);
    for (std::size_t i = 0; i < count; ++i) {
        const RemoteButton& button = in.buttons[i];
        PutBytes(packet, kButtonsAt + kButtonBytes * i, button.current);
        PutBytes(packet, kButtonsAt + kButtonBytes * i + 4, button.standard);
        packet[kIdentifiersAt + i] = button.identifier;
    }
    PutField(packet, kConfigByte, in.configByte);
    PutField(packet, kButtonCount, static_cast<uint32_t>(count));
    PutField(packet, kModelOption, in.modelOption);
    PutBytes(packet, kConfigBytes.offset, in.configBytes);
    if (in.modelOption == 1) PutBytes(packet, kOptionMarker.offset, kOptionMarkerBytes);
    PutField(packet, kHostFlag, in.hostFlag ? 1 : 0);
    return packet;
}

DecodedStreamPacket DecodeStreamPacket(std::span<const uint8_t> bytes) {
    using namespace status;
    DecodedStreamPacket out;
    if (!OpensWith(bytes, kCommandMagic)) return out;
    const auto kind = static_cast<StreamKind>(GetField(bytes, stream::kKind));
    switch (kind) {
        case StreamKind::List:
            out.kind = kind;
            out.listType = static_cast<uint8_t>(GetField(bytes, stream::kListType));
            return out;
        case StreamKind::NoDevice:
            out.kind = kind;
            return out;
        case StreamKind::Status:
            out.kind = kind;
            break;
        default:
            return out;
    }
    DecodedStatus& s = out.status;
    s.eventRate = static_cast<uint16_t>(GetField(bytes, kEventRate));
    s.deviceState = static_cast<uint8_t>(GetField(bytes, kDeviceState));
    s.profile = static_cast<int>(GetField(bytes, kProfile));
    s.packedColour = static_cast<uint8_t>(GetField(bytes, kPackedColour));
    for (std::size_t c = 0; c < s.colour.size(); ++c) {
        s.colour[c] = ByteAt(bytes, kColour.offset + c);
    }
    s.profileName = GetText(bytes, kName);
    s.currentStage = static_cast<int>(GetField(bytes, kStage));
    s.dpiMax = static_cast<int>(GetField(bytes, kDpiMax));
    for (std::size_t k = 0; k < s.stages.size(); ++k) {
        s.stages[k] = {ByteAt(bytes, kStageValues.offset + 2 * k),
                       ByteAt(bytes, kStageValues.offset + 2 * k + 1)};
    }
    s.optionBits = static_cast<uint8_t>(GetField(bytes, kOptionBits));
    s.stepCode = static_cast<uint8_t>(GetField(bytes, kStepCode));
    const std::size_t count = std::min<std::size_t>(GetField(bytes, kButtonCount), kMaxButtons);
    s.buttons.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        RemoteButton& button = s.buttons[i];
        for (std::size_t k = 0; k < 4; ++k) {
            button.current[k] = ByteAt(bytes, kButtonsAt + kButtonBytes * i + k);
            button.standard[k] = ByteAt(bytes, kButtonsAt + kButtonBytes * i + 4 + k);
        }
        button.identifier = ByteAt(bytes, kIdentifiersAt + i);
    }
    return out;
}

}  // namespace qvm::remote
