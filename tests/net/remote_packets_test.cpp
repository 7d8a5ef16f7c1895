// The companion protocol's packets byte for byte: requests and datagrams as companions
// send them (short, oversized and unknown ones included), and the packets this program
// sends, checked at their offsets and read back by the companion-side decoders.
#include "net/remote_packets.h"

#include <gtest/gtest.h>

#include "base/text.h"

#include <cstring>
#include <string>
#include <vector>

namespace qvm::remote {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Command(std::initializer_list<uint8_t> tail) {
    Bytes bytes = {0x0C, 0x12};
    bytes.insert(bytes.end(), tail);
    return bytes;
}

Bytes WithFloats(float a, float b, float c) {
    Bytes bytes = Command({98});
    for (float f : {a, b, c}) {
        uint8_t raw[4];
        std::memcpy(raw, &f, 4);
        bytes.insert(bytes.end(), raw, raw + 4);
    }
    return bytes;
}

struct RequestCase {
    const char* what;
    Bytes bytes;
    int buttonCount;
    RemoteRequest expected;
};

TEST(RemoteRequests, DecodeAsCompanionsSendThem) {
    const std::vector<RequestCase> cases = {
        {"name request", {0x63, 0x00}, 16, NameRequest{}},
        {"stage keeps the low two bits", Command({1, 7}), 16, SelectStage{3}},
        {"profile 7 selects profile 2", Command({2, 7}), 16, SelectProfile{2}},
        {"stage values, 0xF0 kept as the device byte", Command({3, 6, 0x20, 0xF0}), 16,
         SetStageValues{1, 0x20, 0xF0}},
        {"assign, button modulo 24", Command({4, 7, 25, 5, 1, 2, 3}), 24,
         Assign{2, 1, 5, {1, 2, 3}}},
        {"assign, button modulo 16", Command({4, 0, 20, 5, 1, 2, 3}), 16,
         Assign{0, 4, 5, {1, 2, 3}}},
        {"assign 13: type last, button AND 15", Command({13, 9, 0x1F, 1, 2, 3, 5}), 24,
         Assign{4, 15, 5, {1, 2, 3}}},
        {"live bytes, b3 lowest", Command({10, 0x01, 0x02, 0x03, 0x04}), 16, LiveBytes{0x030201}},
        {"profile name from floats", WithFloats(1.5f, -2.25f, 100.f), 16,
         ProfileNameFloats{"1.50, -2.25, 100.00"}},
        {"pointer move", Command({99, 0xFE, 0xFF, 0x2C, 0x01}), 16, PointerMove{-2, 300}},
        {"pointer move of 0/0 does nothing", Command({99, 0, 0, 0, 0}), 16, Ignored{}},
        {"unknown code", Command({5, 1, 1, 1}), 16, Ignored{}},
        {"unknown opening", {0x0C, 0x13, 2, 1}, 16, Ignored{}},
        {"short: missing b3..b5 read zero", Command({3}), 16, SetStageValues{0, 0, 0}},
        {"short: only the code", Command({2}), 16, SelectProfile{0}},
        {"short: half the pointer move", Command({99, 5}), 16, PointerMove{5, 0}},
        {"one byte", {0x0C}, 16, Ignored{}},
        {"nothing", {}, 16, Ignored{}},
        {"no button count counts as 16", Command({4, 0, 17, 5, 0, 0, 0}), 0,
         Assign{0, 1, 5, {0, 0, 0}}},
    };
    for (const RequestCase& c : cases) {
        EXPECT_EQ(DecodeRequest(c.bytes, c.buttonCount), c.expected) << c.what;
    }
}

TEST(RemoteRequests, StageByteF0IsMinus16AsASignedStageValue) {
    const auto request = DecodeRequest(Command({3, 0, 0x10, 0xF0}), 16);
    const auto* values = std::get_if<SetStageValues>(&request);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values->SignedY(), -16);
    EXPECT_EQ(values->SignedX(), 16);
}

// What a companion sends for each request: the leading bytes exactly, zeros to 100 bytes,
// and the service's decoder gives back the value the request was built from.
struct BuiltRequestCase {
    const char* what;
    RemoteRequest request;
    Bytes leading;
};

TEST(RemoteRequests, BuiltRequestsAreExactAndDecodeBack) {
    const std::vector<BuiltRequestCase> cases = {
        {"name", NameRequest{}, {0x63, 0x00}},
        {"stage 3", SelectStage{3}, Command({1, 3})},
        {"profile 4", SelectProfile{4}, Command({2, 4})},
        {"stage values, Y above 127", SetStageValues{4, 0x7F, 0xF0}, Command({3, 4, 0x7F, 0xF0})},
        {"assign, button 23 of 24", Assign{1, 23, 0x0A, {0xFF, 0, 7}},
         Command({4, 1, 23, 0x0A, 0xFF, 0, 7})},
        {"move, negative dx", PointerMove{-2, 300}, Command({99, 0xFE, 0xFF, 0x2C, 0x01})},
        {"move, the extremes", PointerMove{-32768, 32767}, Command({99, 0x00, 0x80, 0xFF, 0x7F})},
    };
    for (const BuiltRequestCase& c : cases) {
        const Request built = std::visit(
            [](const auto& r) -> Request {
                if constexpr (requires { BuildRequest(r); }) {
                    return BuildRequest(r);
                } else {
                    return Request{};
                }
            },
            c.request);
        Bytes expected = c.leading;
        expected.resize(kRequestSize, 0);
        EXPECT_EQ(Bytes(built.begin(), built.end()), expected) << c.what;
        EXPECT_EQ(DecodeRequest(built, kExtendedButtonCount), c.request) << c.what;
    }
    const auto discovery = BuildDiscoveryDatagram();
    EXPECT_EQ(DecodeDatagram(discovery), RemoteDatagram{Discovery{}});
    EXPECT_EQ(Bytes(discovery.begin(), discovery.end()), (Bytes{0x63, 0x00}));
}

struct DatagramCase {
    const char* what;
    Bytes bytes;
    RemoteDatagram expected;
};

TEST(RemoteDatagrams, Decode) {
    const std::vector<DatagramCase> cases = {
        {"discovery", {0x63, 0x00}, Discovery{}},
        {"\"c\" alone: the missing zero reads zero", {0x63}, Discovery{}},
        {"pointer move", {0x62, 0x99, 0x01, 0x00, 0xFF, 0xFF}, PointerMove{1, -1}},
        {"zero move", {0x62, 0, 0, 0, 0, 0}, Ignored{}},
        {"move without its bytes", {0x62}, Ignored{}},
        {"other", {0x61, 0x00, 1, 0, 1, 0}, Ignored{}},
        {"empty", {}, Ignored{}},
    };
    for (const DatagramCase& c : cases) {
        EXPECT_EQ(DecodeDatagram(c.bytes), c.expected) << c.what;
    }
}

TEST(RemoteAnnouncement, PinInTheLastFourBytesAndNameZeroFilled) {
    const Announcement packet = BuildAnnouncement("PC", 999);
    const Bytes head = {0x63, 0x00, 0x00, 'P', 0, 'C', 0, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), packet.begin()));
    for (std::size_t i = 7; i < 96; ++i) EXPECT_EQ(packet[i], 0) << "byte " << i;
    EXPECT_EQ(packet[96], 0xE7);
    EXPECT_EQ(packet[97], 0x03);
    EXPECT_EQ(packet[98], 0x00);
    EXPECT_EQ(packet[99], 0x00);
}

struct NameCutCase {
    std::string name;
    std::string announced;  // what a companion reads back
    std::string replied;
};

TEST(RemoteAnnouncement, LongNamesAreCutToWholeCharactersAndReadBack) {
    const std::string x60(60, 'x');
    const std::string clef = "\xF0\x9D\x84\x9E";  // one character, two UTF-16 units
    const std::vector<NameCutCase> cases = {
        {"studio-pc", "studio-pc", "studio-pc"},
        {x60, std::string(46, 'x'), std::string(48, 'x')},
        {std::string(45, 'a') + clef, std::string(45, 'a'), std::string(45, 'a') + clef},
        {std::string(47, 'a') + clef, std::string(46, 'a'), std::string(47, 'a')},
    };
    for (const NameCutCase& c : cases) {
        const Announcement announcement = BuildAnnouncement(c.name, 7);
        EXPECT_EQ(announcement[95], 0) << c.name;
        const auto decoded = DecodeAnnouncement(announcement);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->name, c.announced);
        EXPECT_EQ(decoded->pin, 7u);
        const NameReply reply = BuildNameReply(c.name);
        EXPECT_EQ(reply[2], CountUtf16Units(c.replied)) << c.name;
        EXPECT_EQ(DecodeNameReply(reply), c.replied);
    }
}

TEST(RemoteStream, NoDevicePacketIsItsHeaderAndZeros) {
    const StreamPacket packet = BuildNoDevicePacket();
    EXPECT_EQ(packet[0], 0x0C);
    EXPECT_EQ(packet[1], 0x12);
    EXPECT_EQ(packet[2], 0x02);
    for (std::size_t i = 3; i < packet.size(); ++i) ASSERT_EQ(packet[i], 0) << "byte " << i;
    EXPECT_EQ(DecodeStreamPacket(packet).kind, StreamKind::NoDevice);
}

RemoteStatusInput KnownStatus() {
    RemoteStatusInput in;
    in.eventRate = 0x0102;
    in.profile = 3;
    in.colour = {170, 85, 255};
    in.profileName = "ABCDEFGHIJKLMNOP";
    in.currentStage = 2;
    in.dpiMax = 240;
    in.stages = {{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}}};
    in.optionBits = 0xF5;
    in.stepCode = 2;
    for (uint8_t j = 0; j < 16; ++j) {
        in.buttons.push_back({{5, j, 0, 0}, {1, j, 0, 0}, static_cast<uint8_t>(j + 100)});
    }
    in.modelOption = 1;
    return in;
}

TEST(RemoteStream, StatusPacketOffsets) {
    const StreamPacket p = BuildStatusPacket(KnownStatus());
    const std::vector<std::pair<std::size_t, uint8_t>> expected = {
        {0, 0x0C}, {1, 0x12},   {2, 3},      {3, 0x02},   {4, 0x01},  {5, 0},     {7, 3},
        {8, 0},    {9, 0x36},   {10, 170},   {11, 85},    {12, 255},  {13, 'A'},  {14, 0},
        {27, 'H'}, {29, 0},     {99, 2},     {100, 240},  {101, 1},   {102, 2},   {109, 9},
        {110, 10}, {111, 0x05}, {112, 2},    {113, 5},    {114, 0},   {117, 1},   {121, 5},
        {122, 1},  {233, 5},    {234, 15},   {241, 0},    {350, 100}, {365, 115}, {366, 0},
        {389, 16}, {390, 1},    {393, 0x0C}, {394, 0x0D}, {395, 1},   {399, 0},
    };
    for (const auto& [offset, value] : expected) {
        EXPECT_EQ(p[offset], value) << "offset " << offset;
    }
}

struct StatusVariantCase {
    const char* what;
    void (*change)(RemoteStatusInput&);
    std::size_t offset;
    uint8_t value;
};

TEST(RemoteStream, StatusPacketVariants) {
    const std::vector<StatusVariantCase> cases = {
        {"stage below 0 sent as 0", [](RemoteStatusInput& in) { in.currentStage = -1; }, 99, 0},
        {"stage above 4 sent as 4", [](RemoteStatusInput& in) { in.currentStage = 9; }, 99, 4},
        {"extended colours: stored bytes",
         [](RemoteStatusInput& in) {
             in.extendedColours = true, in.colour = {200, 10, 0};
         },
         10, 200},
        {"extended colours: packed levels",
         [](RemoteStatusInput& in) {
             in.extendedColours = true, in.colour = {200, 10, 0};
         },
         9, 2},
        {"extended colours: 13 characters",
         [](RemoteStatusInput& in) { in.extendedColours = true; }, 13 + 2 * 12, 'M'},
        {"no device path known", [](RemoteStatusInput& in) { in.devicePathKnown = false; }, 5,
         0x80},
        {"no model option: no marker", [](RemoteStatusInput& in) { in.modelOption = 0; }, 393, 0},
        {"24 buttons counted", [](RemoteStatusInput& in) { in.buttons.resize(24); }, 389, 24},
        {"more than 24 buttons are not sent",
         [](RemoteStatusInput& in) {
             in.buttons.resize(40, {{9, 9, 9, 9}, {}, 9});
         },
         389, 24},
    };
    for (const StatusVariantCase& c : cases) {
        RemoteStatusInput in = KnownStatus();
        c.change(in);
        EXPECT_EQ(BuildStatusPacket(in)[c.offset], c.value) << c.what;
    }
}

TEST(RemoteStream, StatusReadsBackAsTheCompanionSeesIt) {
    RemoteStatusInput in = KnownStatus();
    in.extendedColours = true;
    in.profileName = "Ünïcode 𝄞";
    in.buttons.resize(24, {{7, 1, 2, 3}, {4, 5, 6, 7}, 33});
    const DecodedStreamPacket decoded = DecodeStreamPacket(BuildStatusPacket(in));
    ASSERT_EQ(decoded.kind, StreamKind::Status);
    const DecodedStatus& s = decoded.status;
    EXPECT_EQ(s.eventRate, in.eventRate);
    EXPECT_EQ(s.profile, 3);
    EXPECT_EQ(s.profileName, in.profileName);
    EXPECT_EQ(s.colour, in.colour);
    EXPECT_EQ(s.currentStage, 2);
    EXPECT_EQ(s.dpiMax, 240);
    EXPECT_EQ(s.stages, in.stages);
    EXPECT_EQ(s.buttons, in.buttons);
}

}  // namespace
}  // namespace qvm::remote
