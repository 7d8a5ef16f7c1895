// Reading a trace in command names: known requests of each generation class, replies
// told from status polls, and what no command matches.
#include "device/trace_decode.h"

#include <gtest/gtest.h>

namespace qvm {
namespace {

constexpr const char* kIface = "hid#vid_0c45&pid_7040&mi_01#hidraw3";

// A frame of `length` bytes starting with `head`, its check byte as the device wants it
// (XOR of bytes 1 to 7, or 1 to 62) unless `check` is false.
std::vector<uint8_t> WireFrame(std::size_t length, std::vector<uint8_t> head, bool check = true) {
    head.resize(length, 0);
    if (check) {
        const std::size_t last = length == 9 ? 7 : length - 2;
        uint8_t x = 0;
        for (std::size_t i = 1; i <= last; ++i) x ^= head[i];
        head[last + 1] = x;
    }
    return head;
}

TraceRecord TracedAs(TraceKind kind, std::vector<uint8_t> bytes) {
    const TraceDirection dir = kind == TraceKind::SetFeature || kind == TraceKind::Write
                                   ? TraceDirection::ToDevice
                                   : TraceDirection::FromDevice;
    return {0, dir, kind, kIface, std::move(bytes), "", -1};
}

TEST(TraceDecode, KnownRequestsAreNamedWithTheirArguments) {
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* name;
        const char* args;
    } cases[] = {
        {"generation 0 read at 0x100",
         WireFrame(9, {0x00, 0x05, 0x00, 0x00, 0x01, 0x00, 0x00, 0x12}), "ReadPiece",
         "address=0x000100"},
        {"generation 0 staging at 6, byte 8 data",
         WireFrame(9, {0x00, 0x09, 0x06, 1, 2, 3, 4, 5, 6}, false), "StageBlock", "offset=6"},
        {"generation 0 commit of 7 at 0x100",
         WireFrame(9, {0x00, 0x05, 0x02, 0x00, 0x01, 0x00, 0x07, 0x12}), "CommitBlock",
         "address=0x000100 length=7"},
        {"generations 1-10 block of 2 at 0x1234",
         WireFrame(64, {0x01, 0x01, 0x03, 0x34, 0x12, 0x02, 0xAA, 0xBB}), "WriteBlock",
         "address=0x1234 length=2"},
        {"generations 1-10 update notice", WireFrame(64, {0x01, 0x00, 0x12, 0x12}), "NotifyUpdate",
         ""},
        {"all-zero long request", WireFrame(64, {0x01}), "QueryStatus", ""},
        {"generation 11 read at 0x200", WireFrame(64, {0x01, 0x02, 0x00, 0x02}), "ReadPiece",
         "address=0x0200"},
        {"generation 11 profile 3", WireFrame(64, {0x01, 0x11, 0x03}), "SetActiveProfile", "0x03"},
        {"generation 11 probe record", WireFrame(64, {0x01, 0x0A, 0x05, 0x01, 0, 0, 0, 0x12}),
         "ProbeRecord", "0x05"},
        {"generation 11 record", WireFrame(64, {0x01, 0x0A, 0x05, 0x01}), "ReadRecord", "0x05"},
        {"no such command", WireFrame(64, {0x01, 0x37, 0x01}), "unknown 0x37", ""},
        {"short frame without marker", WireFrame(9, {0x00, 0x05, 0x00, 0x00, 0x01}), "unknown 0x05",
         ""},
        {"bad check byte", WireFrame(64, {0x01, 0x11, 0x03}, false), "SetActiveProfile",
         "0x03 (check byte wrong)"},
        {"odd length", {0x00, 0x05, 0x00}, "unknown 0x05", "(a feature report of 3 bytes)"},
    };
    for (const auto& c : cases) {
        TraceDecoder decoder;
        const DecodedExchange decoded = decoder.Decode(TracedAs(TraceKind::SetFeature, c.bytes));
        EXPECT_EQ(decoded.name, c.name) << c.what;
        EXPECT_EQ(decoded.args, c.args) << c.what;
    }
}

TEST(TraceDecode, RepliesFollowTheCommandThatWaitsForThem) {
    TraceDecoder decoder;
    const struct {
        TraceRecord record;
        const char* name;
        const char* args;
    } steps[] = {
        {TracedAs(TraceKind::GetFeature, WireFrame(64, {0x01, 0x00}, false)), "poll",
         "status=0x00"},
        {TracedAs(TraceKind::SetFeature, WireFrame(64, {0x01, 0x02, 0x00, 0x02})), "ReadPiece",
         "address=0x0200"},
        {TracedAs(TraceKind::GetFeature, WireFrame(64, {0x01, 0x80}, false)), "poll", "busy"},
        {TracedAs(TraceKind::GetFeature, WireFrame(64, {0x01, 0x45, 0xAA}, false)),
         "reply ReadPiece", "status=0x05"},
        {TracedAs(TraceKind::GetFeature, WireFrame(64, {0x01, 0x00}, false)), "poll",
         "status=0x00"},
        // Sent without reading a reply: the next read is the next command's poll.
        {TracedAs(TraceKind::SetFeature, WireFrame(64, {0x01, 0x11, 0x01})), "SetActiveProfile",
         "0x01"},
        {TracedAs(TraceKind::GetFeature, WireFrame(64, {0x01, 0x00}, false)), "poll",
         "status=0x00"},
        {TracedAs(TraceKind::Write, WireFrame(32, {0x06, 0xBE, 0x02}, false)), "KeyboardIdentify",
         ""},
        {TracedAs(TraceKind::Read, WireFrame(32, {0x06, 0xBE, 0x02, 0x11}, false)),
         "reply KeyboardIdentify", ""},
        {TracedAs(TraceKind::Read, {0x04, 0x01}), "input report", ""},
        {TracedAs(TraceKind::Write, WireFrame(32, {0x06, 0xBE, 0x7E}, false)),
         "Keyboard unknown 0x7e", ""},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const DecodedExchange decoded = decoder.Decode(steps[i].record);
        EXPECT_EQ(decoded.name, steps[i].name) << "step " << i;
        EXPECT_EQ(decoded.args, steps[i].args) << "step " << i;
    }
}

}  // namespace
}  // namespace qvm
