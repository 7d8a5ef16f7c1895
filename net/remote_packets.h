// The packets of the companion protocol: what a companion on the local network sends
// (requests, discovery and pointer datagrams) and what this program sends back
// (announcements, the computer-name reply, the 400-byte status stream).
//
// Every layout is a table of named fields below; the builders and the decoders of both
// sides (this program and the companion tool) use these tables and nothing else. Byte
// buffers pass as spans; decoding never reads past the span and treats bytes the span
// does not hold as zero, so short packets are safe and bytes past a packet's fixed size
// are never looked at.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qvm::remote {

// Ports, all IPv4, bound to any local address.
inline constexpr uint16_t kStatusPort = 42180;     // TCP: the status stream
inline constexpr uint16_t kDatagramPort = 42181;   // UDP: discovery and pointer moves
inline constexpr uint16_t kRequestPort = 42182;    // TCP: one request per connection
inline constexpr uint16_t kCompanionPort = 42182;  // UDP: where companions hear us

// Packet sizes.
inline constexpr std::size_t kAnnouncementSize = 100;  // also the discovery reply
inline constexpr std::size_t kNameReplySize = 100;
inline constexpr std::size_t kRequestSize = 100;  // one receive of at most this many
inline constexpr std::size_t kStreamPacketSize = 400;
inline constexpr std::size_t kDatagramBufferSize = 1024;

// The PIN companions compare with their user's entry: 0..999.
inline constexpr int kMaxPin = 999;

using Announcement = std::array<uint8_t, kAnnouncementSize>;
using NameReply = std::array<uint8_t, kNameReplySize>;
using StreamPacket = std::array<uint8_t, kStreamPacketSize>;

// One field of a packet: where it starts and how many bytes it spans.
struct Field {
    std::size_t offset = 0;
    std::size_t size = 0;
};

// ---- Announcement and discovery reply (100 bytes) ----
namespace announce {
inline constexpr Field kMagic{0, 2};  // 0x63 0x00
inline constexpr Field kZero{2, 1};
inline constexpr Field kName{3, 93};  // UTF-16LE, at most 46 units, zero-filled
inline constexpr Field kPin{96, 4};   // 32-bit little-endian
inline constexpr std::size_t kMaxNameUnits = 46;
}  // namespace announce

// ---- Computer-name reply on the request port (100 bytes) ----
namespace name_reply {
inline constexpr Field kMagic{0, 2};
inline constexpr Field kLength{2, 1};  // the name's UTF-16 units
inline constexpr Field kName{3, 97};   // UTF-16LE, zero-filled, no PIN
inline constexpr std::size_t kMaxNameUnits = 48;
}  // namespace name_reply

// Both discovery packets and name requests open with these two bytes.
inline constexpr std::array<uint8_t, 2> kNameMagic = {0x63, 0x00};
// Requests and stream packets open with these two bytes.
inline constexpr std::array<uint8_t, 2> kCommandMagic = {0x0C, 0x12};
// The first byte of a pointer-move datagram.
inline constexpr uint8_t kDatagramPointerMove = 0x62;

// Request codes (byte 2 of a request that opens with kCommandMagic).
enum class RequestCode : uint8_t {
    SelectStage = 1,
    SelectProfile = 2,
    SetStageValues = 3,
    Assign = 4,
    LiveBytes = 10,
    AssignReordered = 13,
    ProfileNameFloats = 98,
    PointerMove = 99,
};

// ---- Decoded requests ----
struct NameRequest {
    bool operator==(const NameRequest&) const = default;
};
struct SelectStage {
    int stage = 0;  // 0..3
    bool operator==(const SelectStage&) const = default;
};
struct SelectProfile {
    int profile = 0;  // 0..4
    bool operator==(const SelectProfile&) const = default;
};
// The stage's X and Y are the device's DPI value bytes exactly as received: the device
// stores one unsigned byte per axis (the DPI is the byte times the DPI step), so 0xF0 is
// the value 240, which is -16 when the same byte is seen as a signed stage value. The
// service checks the value against the model's step count before anything is written.
struct SetStageValues {
    int stage = 0;  // 0..4
    uint8_t x = 0;
    uint8_t y = 0;
    int8_t SignedX() const { return static_cast<int8_t>(x); }
    int8_t SignedY() const { return static_cast<int8_t>(y); }
    bool operator==(const SetStageValues&) const = default;
};
struct Assign {
    int profile = 0;  // 0..4
    int button = 0;   // below the button count
    uint8_t type = 0;
    std::array<uint8_t, 3> operands{};
    bool operator==(const Assign&) const = default;
};
struct LiveBytes {
    uint32_t value = 0;  // 24 bits: b3 lowest, then b4, b5
    bool operator==(const LiveBytes&) const = default;
};
struct ProfileNameFloats {
    std::string text;  // "%0.2f, %0.2f, %0.2f"
    bool operator==(const ProfileNameFloats&) const = default;
};
// A relative pointer move; never both zero (a zero move decodes as Ignored).
struct PointerMove {
    int16_t dx = 0;
    int16_t dy = 0;
    bool operator==(const PointerMove&) const = default;
};
struct Ignored {
    bool operator==(const Ignored&) const = default;
};
struct Discovery {
    bool operator==(const Discovery&) const = default;
};

using RemoteRequest = std::variant<NameRequest, SelectStage, SelectProfile, SetStageValues, Assign,
                                   LiveBytes, ProfileNameFloats, PointerMove, Ignored>;
using RemoteDatagram = std::variant<Discovery, PointerMove, Ignored>;

// The button counts a request's button index is reduced by.
inline constexpr int kStandardButtonCount = 16;
inline constexpr int kExtendedButtonCount = 24;

// Decodes one request as received (at most kRequestSize bytes are read; bytes not
// received read as zero). `buttonCount` is that of the attached model (16 or 24; any
// other positive count is used as given, 0 or less counts as 16).
RemoteRequest DecodeRequest(std::span<const uint8_t> received, int buttonCount);
// Decodes one datagram (at most kDatagramBufferSize bytes are read).
RemoteDatagram DecodeDatagram(std::span<const uint8_t> received);

// ---- Builders of the companion side ----
// A request as a companion sends it: kRequestSize bytes, zero past its fields. Each
// builder takes the value its decoder gives back, so DecodeRequest(BuildRequest(r)) == r
// for every value within the decoder's ranges; the caller checks those ranges.
using Request = std::array<uint8_t, kRequestSize>;
Request BuildRequest(const NameRequest& request);
Request BuildRequest(const SelectStage& request);
Request BuildRequest(const SelectProfile& request);
Request BuildRequest(const SetStageValues& request);
Request BuildRequest(const Assign& request);  // sent as code 4: type, then the operands
Request BuildRequest(const PointerMove& request);
// The discovery datagram a companion sends to the datagram port.
std::array<uint8_t, 2> BuildDiscoveryDatagram();

// ---- Builders of the discovery side ----
// `name` is UTF-8; it is cut to whole characters that fit the packet's name field.
// The PIN is sent as given; the caller keeps it within 0..kMaxPin.
Announcement BuildAnnouncement(std::string_view name, uint32_t pin);
NameReply BuildNameReply(std::string_view name);

struct DecodedAnnouncement {
    std::string name;
    uint32_t pin = 0;
    bool operator==(const DecodedAnnouncement&) const = default;
};
// Nothing when the bytes do not open with 0x63 0x00. Missing bytes read as zero.
std::optional<DecodedAnnouncement> DecodeAnnouncement(std::span<const uint8_t> bytes);
std::optional<std::string> DecodeNameReply(std::span<const uint8_t> bytes);

// ---- Status stream (400 bytes each) ----
namespace stream {
inline constexpr Field kMagic{0, 2};  // 0x0C 0x12
inline constexpr Field kKind{2, 1};
inline constexpr Field kListType{3, 1};  // kind List
inline constexpr std::size_t kListBodyAt = 4;
}  // namespace stream

enum class StreamKind : uint8_t { List = 0, NoDevice = 2, Status = 3 };

// The status packet's fields.
namespace status {
inline constexpr Field kEventRate{3, 2};
inline constexpr Field kDeviceState{5, 1};
inline constexpr Field kDeviceState2{6, 1};
inline constexpr Field kProfile{7, 1};
inline constexpr Field kZero{8, 1};
inline constexpr Field kPackedColour{9, 1};
inline constexpr Field kColour{10, 3};
inline constexpr Field kName{13, 26};
inline constexpr Field kStage{99, 1};
inline constexpr Field kDpiMax{100, 1};
inline constexpr Field kStageValues{101, 10};  // X0, Y0, X1, Y1, ...
inline constexpr Field kOptionBits{111, 1};
inline constexpr Field kStepCode{112, 1};
inline constexpr std::size_t kButtonsAt = 113;  // 8 bytes a button
inline constexpr std::size_t kButtonBytes = 8;
inline constexpr std::size_t kIdentifiersAt = 350;  // 1 byte a button
inline constexpr Field kConfigByte{388, 1};
inline constexpr Field kButtonCount{389, 1};
inline constexpr Field kModelOption{390, 1};
inline constexpr Field kConfigBytes{391, 2};
inline constexpr Field kOptionMarker{393, 2};  // 0x0C 0x0D when the model option is 1
inline constexpr Field kHostFlag{395, 1};
inline constexpr std::size_t kMaxButtons = kExtendedButtonCount;
inline constexpr std::size_t kShortNameUnits = 8;
inline constexpr std::size_t kLongNameUnits = 13;
inline constexpr uint8_t kNoDevicePathBit = 0x80;  // in kDeviceState
inline constexpr std::array<uint8_t, 2> kOptionMarkerBytes = {0x0C, 0x0D};
}  // namespace status

// One button as the stream shows it.
struct RemoteButton {
    std::array<uint8_t, 4> current{};   // type and three operands
    std::array<uint8_t, 4> standard{};  // the button's default function
    uint8_t identifier = 0;
    bool operator==(const RemoteButton&) const = default;
};

// What a status packet carries: the caller fills it from the configuration image and
// the model (see remote_status_source.h); building it does no decoding of its own.
struct RemoteStatusInput {
    uint16_t eventRate = 0;  // device events in the last second
    uint8_t deviceState = 0;
    uint8_t deviceState2 = 0;
    bool devicePathKnown = true;
    int profile = 0;
    // Profile colour as 8-bit channels; without the extended colour set the packet
    // carries the 2-bit levels (times 85).
    std::array<uint8_t, 3> colour{};
    bool extendedColours = false;                    // also lets the name run to 13 characters
    std::string profileName;                         // UTF-8
    int currentStage = 0;                            // sent clamped to 0..4
    uint8_t dpiMax = 0;                              // the model's step count
    std::array<std::array<uint8_t, 2>, 5> stages{};  // X, Y of stages 0..4
    uint8_t optionBits = 0;                          // bits 0..3
    uint8_t stepCode = 0;
    std::vector<RemoteButton> buttons;  // 16 or 24; more are not sent
    uint8_t configByte = 0;
    uint8_t modelOption = 0;
    std::array<uint8_t, 2> configBytes{};
    bool hostFlag = true;
};

StreamPacket BuildNoDevicePacket();
StreamPacket BuildStatusPacket(const RemoteStatusInput& input);

// What a companion reads from one stream packet.
struct DecodedStatus {
    uint16_t eventRate = 0;
    uint8_t deviceState = 0;
    int profile = 0;
    uint8_t packedColour = 0;
    std::array<uint8_t, 3> colour{};
    std::string profileName;
    int currentStage = 0;
    int dpiMax = 0;
    std::array<std::array<uint8_t, 2>, 5> stages{};
    uint8_t optionBits = 0;
    uint8_t stepCode = 0;
    std::vector<RemoteButton> buttons;
    bool operator==(const DecodedStatus&) const = default;
};
struct DecodedStreamPacket {
    std::optional<StreamKind> kind;  // nothing: not a stream packet or an unknown kind
    uint8_t listType = 0;            // kind List
    DecodedStatus status;            // kind Status
};
DecodedStreamPacket DecodeStreamPacket(std::span<const uint8_t> bytes);

// The 2-bit level (0..3) of an 8-bit colour channel, the nearest one.
uint8_t ColourLevel(uint8_t channel);

// Writes `value` little-endian into `field` of `packet` (the field's size in bytes).
void PutField(std::span<uint8_t> packet, Field field, uint32_t value);
// Reads `field` little-endian; bytes past the span read as zero.
uint32_t GetField(std::span<const uint8_t> packet, Field field);
// Writes UTF-8 `text` as UTF-16LE into `field`, cut to at most `maxUnits` whole
// characters and to the field; the rest of the field is zero. Returns the units written.
std::size_t PutText(std::span<uint8_t> packet, Field field, std::string_view text,
                    std::size_t maxUnits);
// Reads a UTF-16LE text from `field` up to its first zero unit; missing bytes are zero.
std::string GetText(std::span<const uint8_t> packet, Field field);

}  // namespace qvm::remote
