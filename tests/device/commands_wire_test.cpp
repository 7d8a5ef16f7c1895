// The bytes every command puts on the wire, per generation class, and the sleeps
// around them. Expected frames are written out by hand: short frames in full (report
// ID .. check byte), long frames as their leading bytes, "/", then byte 63.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "device/commands.h"
#include "support/fake_clock.h"
#include "support/fake_hid.h"

namespace qvm {
namespace {

using test::Bytes;
using test::HidOp;

Bytes ParseFrame(const std::string& text) {
    std::istringstream in(text);
    Bytes out;
    std::string word;
    bool isLong = false;
    while (in >> word) {
        if (word == "/") {
            isLong = true;
            out.resize(63, 0);
            continue;
        }
        out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    EXPECT_TRUE(!isLong || out.size() == 64) << text;
    return out;
}

// The update bracket's status query (reply after 10 ms) and notification.
constexpr const char* kStatus = "01 / 00";
constexpr const char* kNotify = "01 00 12 12 / 00";

struct WireCase {
    const char* name;
    int generation;
    std::function<void(DeviceCommands&, const std::string&)> call;
    std::vector<const char*> frames;
    std::vector<int> sleeps;
    uint8_t statusByte10 = 0;  // bit 6 set: the device needs no update bracket
};

#define CALL(...) [](DeviceCommands& c, const std::string& p) { __VA_ARGS__; }

class Wire : public ::testing::TestWithParam<WireCase> {};

TEST_P(Wire, SendsExactlyTheseFrames) {
    const WireCase& w = GetParam();
    const std::string path = "sim#vid_0c45&pid_7040&mi_01#1";
    test::FakeHidBackend backend;
    test::FakeHidDevice& device =
        backend.Add(path, w.generation == 0 ? test::ShortCaps() : test::LongCaps());
    device.SetReply({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, w.statusByte10});
    test::FakeClock clock;
    LocalMutex mutex;
    Transport transport(backend, clock, mutex);
    DeviceValueTable values;
    values.Update(path, [&](DeviceValues& v) { v.ProtocolGeneration = w.generation; });
    MemoryCache cache;
    DeviceCommands commands(transport, values, cache);

    w.call(commands, path);

    std::vector<Bytes> expected;
    for (const char* f : w.frames) expected.push_back(ParseFrame(f));
    EXPECT_EQ(device.BytesOf(HidOp::Kind::SetFeature), expected);
    EXPECT_EQ(clock.Sleeps(), w.sleeps);
    if (w.frames.empty()) {
        EXPECT_EQ(backend.OpenCount(), 0) << "nothing may be sent";
    }
}

// One case per two lines: name, generation, call; then frames and sleeps.
// clang-format off
const WireCase kWireCases[] = {
    {"ReadPiece0", 0, CALL(std::array<uint8_t, 7> d{}; c.ReadMemory(p, 0x012345, d, false)),
     {"00 05 00 45 23 01 00 12 70"}, {}},
    {"ReadPiece5", 5, CALL(std::array<uint8_t, 61> d{}; c.ReadMemory(p, 0x1234, d, false)),
     {"01 01 00 00 34 12 / 27"}, {}},
    {"ReadPiece11", 11, CALL(std::array<uint8_t, 61> d{}; c.ReadMemory(p, 0x1234, d, false)),
     {"01 02 34 12 / 24"}, {}},
    {"WriteBlock0", 0, CALL(c.WriteMemoryBlock(p, 0x0345, Bytes{0xAA, 0xBB, 0xCC})),
     {"00 09 00 AA BB CC 00 00 00", "00 05 02 45 03 00 03 12 50"}, {1, 2, 10, 3, 2}},
    {"WriteBlock5", 5, CALL(c.WriteMemoryBlock(p, 0x0345, Bytes{0xAA, 0xBB, 0xCC})),
     {"01 01 03 45 03 03 AA BB CC / 9A"}, {1}},
    {"WriteBlock11", 11, CALL(c.WriteMemoryBlock(p, 0x0345, Bytes{0xAA, 0xBB, 0xCC})),
     {"01 03 45 03 03 AA BB CC / 9B"}, {1}},
    {"WriteByte0", 0, CALL(c.WriteMemoryByte(p, 0x0345, 0x5A)),
     {"00 05 01 45 03 00 5A 12 0A"}, {}},
    {"WriteByte5", 5, CALL(c.WriteMemoryByte(p, 0x0345, 0x5A)),
     {"01 01 03 45 03 01 5A / 1F"}, {1}},
    {"WriteByte11", 11, CALL(c.WriteMemoryByte(p, 0x0345, 0x5A)),
     {"01 03 45 03 01 5A / 1E"}, {1}},
    {"QueryStatus0", 0, CALL(c.QueryStatus(p, 15)),
     {"00 00 00 00 00 00 00 12 12"}, {2, 15, 3}},
    {"QueryStatus5", 5, CALL(c.QueryStatus(p, 15)),
     {"01 / 00"}, {2, 15, 3}},
    {"QueryStatus11", 11, CALL(c.QueryStatus(p, 0)),
     {"01 / 00"}, {}},
    {"SetHostMode0", 0, CALL(c.SetHostMode(p, 9)),
     {"00 00 01 09 00 00 00 12 1A"}, {2, 5, 3}},
    {"SetHostMode5", 5, CALL(c.SetHostMode(p, 9)),
     {"01 00 01 12 09 / 1A"}, {}},
    {"SetHostMode11", 11, CALL(c.SetHostMode(p, 9)),
     {"01 00 12 12 / 00", "01 00 01 12 09 / 1A"}, {}},
    {"NotifyUpdate0", 0, CALL(c.NotifyUpdate(p)),
     {}, {}},
    {"NotifyUpdate5", 5, CALL(c.NotifyUpdate(p)),
     {"01 00 12 12 / 00"}, {}},
    {"NotifyUpdate11", 11, CALL(c.NotifyUpdate(p)),
     {"01 00 12 12 / 00"}, {}},
    {"ReadDeviceInfo0", 0, CALL(c.ReadDeviceInfo(p)),
     {"00 00 02 00 00 00 00 12 10"}, {2, 30, 3}},
    {"ReadDeviceInfo5", 5, CALL(c.ReadDeviceInfo(p)),
     {}, {}},
    {"ReadDeviceInfo11", 11, CALL(c.ReadDeviceInfo(p)),
     {}, {}},
    {"ReadInfoRecord10", 0, CALL(c.ReadInfoRecord(p, 1)),
     {"00 00 02 01 00 00 00 12 11"}, {2, 10, 3}},
    {"ReadInfoRecord20", 0, CALL(c.ReadInfoRecord(p, 2)),
     {"00 00 02 02 00 00 00 12 12"}, {1, 2, 1}},
    {"ReadInfoRecord15", 5, CALL(c.ReadInfoRecord(p, 1)),
     {}, {}},
    {"ReadInfoRecord211", 11, CALL(c.ReadInfoRecord(p, 2)),
     {}, {}},
    {"ReadInfoRecord30", 0, CALL(c.ReadInfoRecord(p, 3)),
     {}, {}},
    {"ReadRecord0", 0, CALL(c.ReadRecord(p, 7)),
     {}, {}},
    {"ReadRecord5", 5, CALL(c.ReadRecord(p, 7)),
     {}, {}},
    {"ReadRecord11", 11, CALL(c.ReadRecord(p, 7)),
     {"01 0A 07 01 / 0C"}, {}},
    {"ProbeRecord0", 0, CALL(c.ProbeRecord(p, 7)),
     {"00 00 02 04 07 00 00 12 13"}, {}},
    {"ProbeRecord5", 5, CALL(c.ProbeRecord(p, 7)),
     {}, {}},
    {"ProbeRecord11", 11, CALL(c.ProbeRecord(p, 7)),
     {"01 0A 07 01 00 00 00 12 / 1E"}, {}},
    {"ReadInfoPage0", 0, CALL(c.ReadInfoPage(p, 30)),
     {}, {}},
    {"ReadInfoPage5", 5, CALL(c.ReadInfoPage(p, 30)),
     {"01 01 00 01 1E / 1E"}, {}},
    {"ReadInfoPage11", 11, CALL(c.ReadInfoPage(p, 30)),
     {}, {}},
    {"PageMode0", 0, CALL(c.SetPageMode(p)),
     {}, {}},
    {"PageMode5", 5, CALL(c.SetPageMode(p)),
     {"01 01 06 02 02 / 07"}, {}},
    {"PageMode11", 11, CALL(c.SetPageMode(p)),
     {"01 01 06 02 02 / 07"}, {}},
    {"ProbeCompletion0", 0, CALL(c.CompleteProbe(p)),
     {"00 01 01 01 00 00 00 12 13"}, {2, 5, 3}},
    {"ProbeCompletion5", 5, CALL(c.CompleteProbe(p)),
     {}, {}},
    {"ProbeCompletion11", 11, CALL(c.CompleteProbe(p)),
     {}, {}},
    {"ReadLiveState0", 0, CALL(c.ReadLiveState(p)),
     {"00 04 00 00 00 00 00 12 16"}, {2, 10, 3}},
    {"ReadLiveState5", 5, CALL(c.ReadLiveState(p)),
     {"01 / 00"}, {2, 10, 3}},
    {"ReadLiveState11", 11, CALL(c.ReadLiveState(p)),
     {"01 / 00"}, {2, 10, 3}},
    {"SetActiveProfile0", 0, CALL(c.SetActiveProfile(p, 3)),
     {"00 04 03 03 00 00 00 12 16"}, {}},
    {"SetActiveProfile5", 5, CALL(c.SetActiveProfile(p, 3)),
     {kStatus, kNotify, "01 01 07 02 03 / 07", kNotify}, {2, 10, 3}},
    {"SetActiveProfile11", 11, CALL(c.SetActiveProfile(p, 3)),
     {"01 11 03 / 12"}, {}},
    {"SetActiveProfile511", 11, CALL(c.SetActiveProfile(p, 5)),
     {}, {}},
    {"SetSettingByte20", 0, CALL(c.SetSettingByte2(p, 2)),
     {"00 04 02 02 00 00 00 12 16", "00 05 01 02 00 00 02 12 16"}, {2, 10, 3}},
    {"SetSettingByte25", 5, CALL(c.SetSettingByte2(p, 2)),
     {kStatus, kNotify, "01 01 07 00 02 / 04", kNotify}, {2, 10, 3}},
    {"SetSettingByte211", 11, CALL(c.SetSettingByte2(p, 2)),
     {"01 0F 02 / 0D"}, {}},
    {"SetSettingTriple0", 0, CALL(c.SetSettingTriple(p, 0x20, 1, 0x30)),
     {"00 04 01 01 20 30 00 12 06"}, {}},
    {"SetSettingTriple5", 5, CALL(c.SetSettingTriple(p, 0x20, 1, 0x30)),
     {"01 01 07 01 20 30 / 17"}, {}},
    {"SetSettingTriple11", 11, CALL(c.SetSettingTriple(p, 0x20, 1, 0x30)),
     {"01 10 20 30 / 00"}, {}},
    {"ReloadSettings0", 0, CALL(c.ReloadSettings(p)),
     {"00 08 00 00 00 00 0C 12 16"}, {2, 10, 3}},
    {"ReloadSettings5", 5, CALL(c.ReloadSettings(p)),
     {"01 01 04 00 / 05"}, {}},
    {"ReloadSettings11", 11, CALL(c.ReloadSettings(p)),
     {"01 14 / 14"}, {}},
    {"ReloadSettingsAlt0", 0, CALL(c.ReloadSettingsAlt(p)),
     {"00 08 02 00 00 00 0C 12 14"}, {2, 10, 3}},
    {"ReloadSettingsAlt5", 5, CALL(c.ReloadSettingsAlt(p)),
     {"01 01 04 02 / 07"}, {}},
    {"ReloadSettingsAlt11", 11, CALL(c.ReloadSettingsAlt(p)),
     {"01 16 / 16"}, {}},
    {"SetLightingEffect0", 0, CALL(c.SetLightingEffect(p, 2)),
     {}, {}},
    {"SetLightingEffect2", 2, CALL(c.SetLightingEffect(p, 2)),
     {}, {}},
    {"SetLightingEffect5", 5, CALL(c.SetLightingEffect(p, 2)),
     {kStatus, kNotify, "01 01 03 11 00 01 02 / 10", "01 01 04 03 01 02 / 05", kNotify},
     {2, 10, 3, 1, 2, 10, 3}},
    {"SetLightingEffect11", 11, CALL(c.SetLightingEffect(p, 2)),
     {"01 03 11 00 01 02 / 11", "01 12 02 / 10"}, {1, 2, 10, 3}},
    {"SetLightingEffect511", 11, CALL(c.SetLightingEffect(p, 5)),
     {}, {}},
    {"SetLiveBytes0", 0, CALL(c.SetLiveBytes(p, 0x04030201)),
     {"00 0C 01 01 02 00 12 12 0E"}, {}},
    {"SetLiveBytes5", 5, CALL(c.SetLiveBytes(p, 0x04030201)),
     {kStatus, kNotify, "01 01 06 03 01 02 03 / 04", kNotify}, {2, 10, 3}},
    {"SetLiveBytes11", 11, CALL(c.SetLiveBytes(p, 0x04030201)),
     {"01 0E 01 02 03 04 / 0A"}, {}},
    {"SetLiveWord0", 0, CALL(c.SetLiveWord(p, 0x1234)),
     {"00 04 08 34 12 00 00 12 38"}, {2, 10, 3}},
    {"SetLiveWord5", 5, CALL(c.SetLiveWord(p, 0x1234)),
     {kStatus, kNotify, "01 01 07 03 02 34 12 00 00 12 / 33", kNotify}, {2, 10, 3, 2, 10, 3}},
    {"SetLiveWord11", 11, CALL(c.SetLiveWord(p, 0x1234)),
     {"01 01 07 03 02 34 12 00 00 12 / 33"}, {2, 10, 3}},
    {"LiveProfileColour0", 0, CALL(c.SetLiveProfileColour(p, 0x11, 0x22, 0x33)),
     {"00 09 0F 11 22 33 00 00 00", "00 04 09 00 00 00 00 12 1F"}, {2, 10, 3}},
    {"LiveProfileColour5", 5, CALL(c.SetLiveProfileColour(p, 0x11, 0x22, 0x33)),
     {"01 01 05 00 00 11 / 15", "01 01 05 00 01 22 / 27", "01 01 05 00 02 33 / 35"}, {}},
    {"LiveProfileColour11", 11, CALL(c.SetLiveProfileColour(p, 0x11, 0x22, 0x33)),
     {}, {}},
    {"PreviewLedColour0", 0, CALL(c.PreviewLedColour(p, 3, 0x07, {0x11, 0x22, 0x33, 0x80})),
     {}, {}},
    {"PreviewLedColour2", 2, CALL(c.PreviewLedColour(p, 3, 0x07, {0x11, 0x22, 0x33, 0x80})),
     {}, {}},
    {"PreviewLedColour5", 5, CALL(c.PreviewLedColour(p, 3, 0x07, {0x11, 0x22, 0x33, 0x80})),
     {"01 01 08 02 03 07 80 11 22 33 / 8F"}, {}},
    {"PreviewLedColour11", 11, CALL(c.PreviewLedColour(p, 3, 0x07, {0x11, 0x22, 0x33, 0x80})),
     {"01 13 03 80 11 22 33 / 90"}, {}},
    {"RefreshLighting0", 0, CALL(c.RefreshLighting(p)),
     {}, {}},
    {"RefreshLighting5", 5, CALL(c.RefreshLighting(p)),
     {"01 01 04 03 00 / 06"}, {}},
    {"RefreshLighting11", 11, CALL(c.RefreshLighting(p)),
     {}, {}},
    {"ButtonArgs0", 0, CALL(c.WriteButtonFunctionArgs(p, 1, 2, {0xA1, 0xA2, 0xA3})),
     {"00 05 01 A2 00 00 A1 12 15", "00 05 01 B2 00 00 A2 12 06", "00 05 01 C2 00 00 A3 12 77"},
     {}},
    {"ButtonArgs5", 5, CALL(c.WriteButtonFunctionArgs(p, 1, 2, {0xA1, 0xA2, 0xA3})),
     {"01 01 03 DA 00 01 A1 / 78", "01 01 03 F2 00 01 A2 / 53", "01 01 03 0A 01 01 A3 / AB"},
     {1, 1, 1}},
    {"ButtonArgs11", 11, CALL(c.WriteButtonFunctionArgs(p, 1, 2, {0xA1, 0xA2, 0xA3})),
     {"01 03 02 01 01 A1 / A0", "01 03 22 01 01 A2 / 83", "01 03 42 01 01 A3 / E2"}, {1, 1, 1}},
    {"ButtonArgsBeyondLayout0", 0, CALL(c.WriteButtonFunctionArgs(p, 0, 16, {1, 2, 3})),
     {}, {}},
    {"LightingBlock2", 2, CALL(std::array<uint8_t, 64> d{}; c.ReadLightingBlock(p, d)),
     {}, {}},
    {"LightingBlock5", 5, CALL(std::array<uint8_t, 64> d{}; c.ReadLightingBlock(p, d)),
     {kStatus, kNotify, "01 01 00 00 60 04 / 65", "01 01 00 00 9D 04 / 98", kNotify}, {2, 10, 3}},
    {"LightingBlock11", 11, CALL(std::array<uint8_t, 64> d{}; c.ReadLightingBlock(p, d)),
     {"01 02 60 04 / 66", "01 02 9D 04 / 9B"}, {}},
    {"SetActiveProfile5Unbracketed", 5, CALL(c.SetActiveProfile(p, 3)),
     {kStatus, "01 01 07 02 03 / 07"}, {2, 10, 3}, 0x40},
    {"SetLightingEffect5Unbracketed", 5, CALL(c.SetLightingEffect(p, 4)),
     {kStatus, "01 01 03 11 00 01 04 / 16", "01 01 04 03 01 04 / 03"},
     {2, 10, 3, 1, 2, 10, 3}, 0x40},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Commands, Wire, ::testing::ValuesIn(kWireCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
