// What the commands make of the device's replies and of the information record, and
// the keyboard reports.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/commands.h"
#include "device/keyboard_commands.h"
#include "support/fake_clock.h"
#include "support/fake_hid.h"

namespace qvm {
namespace {

using test::Bytes;
using test::HidOp;

const std::string kReplyPath = "sim#vid_0c45&pid_7040&mi_01#1";

// Reply byte i is 0x40 + i; information record byte i is 0x80 + i (wrapping).
struct ReplyFixture : ::testing::Test {
    test::FakeHidBackend backend;
    test::FakeClock clock;
    LocalMutex mutex;
    Transport transport{backend, clock, mutex};
    DeviceValueTable values;
    MemoryCache cache;
    DeviceCommands commands{transport, values, cache};

    void Device(int generation, bool withInfo = true, int modelCode = 0) {
        const bool keyboard = modelCode == kKeyboardModelCode;
        auto& d = backend.Add(kReplyPath, keyboard          ? test::KeyboardCaps()
                                          : generation == 0 ? test::ShortCaps()
                                                            : test::LongCaps());
        Bytes reply(64);
        for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(0x40 + i);
        d.SetReply(reply);
        device_ = &d;
        values.Update(kReplyPath, [&](DeviceValues& v) {
            v.ProtocolGeneration = generation;
            v.ModelCode = modelCode;
            if (withInfo) {
                v.InfoPages.emplace();
                for (std::size_t i = 0; i < v.InfoPages->size(); ++i) {
                    (*v.InfoPages)[i] = static_cast<uint8_t>(0x80 + i);
                }
            }
        });
    }
    test::FakeHidDevice* device_ = nullptr;
};

// ---- Live state ----

struct LiveCase {
    int generation;
    LiveState expected;
};

class LiveStateValues : public ReplyFixture, public ::testing::WithParamInterface<LiveCase> {};

TEST_P(LiveStateValues, TakesEachValueFromItsPlace) {
    Device(GetParam().generation);
    EXPECT_EQ(commands.ReadLiveState(kReplyPath), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LiveStateValues,
    ::testing::Values(LiveCase{0, {0x42, 0x43, 0x44, 0x45, 0x46, 0x47}},
                      LiveCase{5, {0x48, 0x8E, 0x55, 0x56, std::nullopt, 0x49}},
                      LiveCase{11, {0x51, 0x04, 0x4F, 0x50, std::nullopt, 0x52}}));

// ---- Device information, information records, records ----

struct InfoCase {
    int generation;
    DeviceInfo info;
    InfoValues record1;
    InfoValues record2;
};

class InfoValuesFrom : public ReplyFixture, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(InfoValuesFrom, ReplyOrInformationRecord) {
    Device(GetParam().generation);
    EXPECT_EQ(commands.ReadDeviceInfo(kReplyPath), GetParam().info);
    EXPECT_EQ(commands.ReadInfoRecord(kReplyPath, 1), GetParam().record1);
    EXPECT_EQ(commands.ReadInfoRecord(kReplyPath, 2), GetParam().record2);
}

INSTANTIATE_TEST_SUITE_P(Commands, InfoValuesFrom,
                         ::testing::Values(InfoCase{0,
                                                    {0x42, {0x43, 0x44, 0x45}, 0x46, 0x47},
                                                    {{0x42, 0x43}, 2},
                                                    {{0x42, 0x43, 0x44, 0x45}, 4}},
                                           InfoCase{5,
                                                    {0x90, {0x82, 0x83, 0x84}, 0x8A, 0x8B},
                                                    {{0x8C, 0x8D}, 2},
                                                    {{0x86, 0x87, 0x88, 0x89}, 4}},
                                           InfoCase{11,
                                                    {0x90, {0x82, 0x83, 0x84}, 0x8A, 0x8B},
                                                    {{0x8C, 0x8D}, 2},
                                                    {{0x86, 0x87, 0x88, 0x89}, 4}}));

TEST_F(ReplyFixture, MissingInformationRecordReadsAsZeros) {
    Device(5, /*withInfo=*/false);
    EXPECT_EQ(commands.ReadDeviceInfo(kReplyPath), DeviceInfo{});
    EXPECT_EQ(commands.ReadRecord(kReplyPath, 3), (std::array<uint8_t, 4>{}));
    EXPECT_EQ(commands.ReadLiveState(kReplyPath)[1], uint8_t{0});
}

struct RecordCase {
    const char* name;
    int generation;
    int record;
    uint8_t firstByte;  // stored at 0x48 + 4r before the read
    std::array<uint8_t, 4> expected;
};

class Records : public ReplyFixture, public ::testing::WithParamInterface<RecordCase> {};

TEST_P(Records, ClampFirstByteAbove50OnlyWhenAnsweredOnTheHost) {
    const RecordCase& c = GetParam();
    Device(c.generation);
    values.Update(kReplyPath,
                  [&](DeviceValues& v) { (*v.InfoPages)[0x48 + 4 * c.record] = c.firstByte; });
    EXPECT_EQ(commands.ReadRecord(kReplyPath, c.record), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Records,
    ::testing::Values(RecordCase{"Above50Clamped", 5, 3, 51, {0x01, 0xD5, 0xD6, 0xD7}},
                      RecordCase{"Exactly50Kept", 0, 0, 50, {50, 0xC9, 0xCA, 0xCB}},
                      RecordCase{"LastRecord", 5, 31, 7, {7, 0x45, 0x46, 0x47}},
                      RecordCase{"OutOfRange", 5, 32, 0, {0, 0, 0, 0}},
                      RecordCase{"FromDeviceUnclamped", 11, 3, 51, {0x42, 0x43, 0x44, 0x45}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Keyboard reports ----

Bytes Report(Bytes head) {
    head.resize(32, 0);
    return head;
}

struct KeyboardCase {
    const char* name;
    int modelCode;
    std::function<void(KeyboardCommands&)> call;
    std::vector<Bytes> reports;
};

class KeyboardReports : public ReplyFixture, public ::testing::WithParamInterface<KeyboardCase> {};

TEST_P(KeyboardReports, WritesTheseReports) {
    Device(0, false, GetParam().modelCode);
    device_->QueueInput(Report(
        {0x06, 0xBE, 0x18, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x12, 0x13, 0, 0x21, 0x22, 0x23}));
    KeyboardCommands keyboards(transport, values);
    GetParam().call(keyboards);
    EXPECT_EQ(device_->BytesOf(HidOp::Kind::Write), GetParam().reports);
    for (const HidOp& op : device_->Ops()) {
        if (op.kind == HidOp::Kind::Read) {
            EXPECT_EQ(op.timeoutMs, 220);
        }
    }
}

#define KB(...) [](KeyboardCommands& c) { __VA_ARGS__; }
const std::vector<uint8_t> kSevenKeys{1, 2, 3, 4, 5, 6, 7};
const std::vector<KeyColour> kSevenColours{
    {0x11, 0x12, 0x13}, {0x21, 0x22, 0x23}, {0x31, 0x32, 0x33}, {0x41, 0x42, 0x43},
    {0x51, 0x52, 0x53}, {0x61, 0x62, 0x63}, {0x71, 0x72, 0x73}};

const KeyboardCase kKeyboardCases[] = {
    {"IdentifyAnyModel", 0, KB(c.IdentifyKeyboard(kReplyPath)), {Report({0x06, 0xBE, 0x02})}},
    {"ReadKeyState",
     10000,
     KB(c.KeyboardReadState(kReplyPath, KeyboardLight::Keys)),
     {Report({0x06, 0xBE, 0x14, 0x00, 0x00})}},
    {"ReadSideState",
     10000,
     KB(c.KeyboardReadState(kReplyPath, KeyboardLight::Side)),
     {Report({0x06, 0xBE, 0x14, 0x00, 0x02})}},
    {"SetEffect",
     10000,
     KB(c.KeyboardSetEffect(kReplyPath, {1, 3, 4, 2, {0xFF, 0, 0, 0}, {0x12, 0x34, 0x56, 1}})),
     {Report({0x06, 0xBE, 0x15, 0x00, 0x01, 0x02, 1,    3,    4,    2,
              0,    0,    0xFF, 0,    0,    0,    0x12, 0x34, 0x56, 1})}},
    {"SideLedOn",
     10000,
     KB(c.KeyboardSetSideLed(kReplyPath, true)),
     {Report(
         {0x06, 0xBE, 0x15, 0, 0x02, 0x06, 0x06, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0x01})}},
    {"SideLedOff",
     10000,
     KB(c.KeyboardSetSideLed(kReplyPath, false)),
     {Report(
         {0x06, 0xBE, 0x15, 0, 0x02, 0x06, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0x01})}},
    {"SevenKeyColoursInTwoReports",
     10000,
     KB(c.KeyboardWriteKeyColours(kReplyPath, 13, kSevenKeys, kSevenColours)),
     {Report({0x06, 0xBE, 0x19, 0, 0x01, 0,    13,   1, 2,    3,    4,    5, 0x11, 0x12, 0x13, 0,
              0x21, 0x22, 0x23, 0, 0x31, 0x32, 0x33, 0, 0x41, 0x42, 0x43, 0, 0x51, 0x52, 0x53}),
      Report({0x06, 0xBE, 0x19, 0, 0x01, 0, 13, 6, 7, 0, 0, 0, 0x61, 0x62, 0x63, 0, 0x71, 0x72,
              0x73})}},
    {"ReadKeyColours",
     10000,
     KB(auto got = c.KeyboardReadKeyColours(kReplyPath, 13, std::vector<uint8_t>{9, 8});
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, (std::vector<KeyColour>{{0x11, 0x12, 0x13}, {0x21, 0x22, 0x23}}))),
     {Report({0x06, 0xBE, 0x18, 0, 0x01, 0, 13, 9, 8})}},
    {"RawSubCommandPayloadFromByte3",
     10000,
     KB(c.SendKeyboardCommand(kReplyPath, 0x14, std::vector<uint8_t>{0xAA, 0xBB})),
     {Report({0x06, 0xBE, 0x14, 0xAA, 0xBB})}},
    {"PayloadTooLong",
     10000,
     KB(EXPECT_FALSE(c.SendKeyboardCommand(kReplyPath, 0x14, std::vector<uint8_t>(30, 1)))),
     {}},
    {"MismatchedColourList",
     10000,
     KB(EXPECT_FALSE(c.KeyboardWriteKeyColours(kReplyPath, 13, kSevenKeys, {}))),
     {}},
    {"MouseGetsNoLighting",
     0,
     KB(c.KeyboardSetEffect(kReplyPath, {}); c.KeyboardSetSideLed(kReplyPath, true);
        c.KeyboardReadState(kReplyPath, KeyboardLight::Keys);
        c.KeyboardWriteKeyColours(kReplyPath, 13, kSevenKeys, kSevenColours)),
     {}},
};

INSTANTIATE_TEST_SUITE_P(Commands, KeyboardReports, ::testing::ValuesIn(kKeyboardCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
