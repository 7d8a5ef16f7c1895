// The command set over a fake device: what the simulator cross-check cannot see (the
// waits, the generation 0 staging, the update bracket and requests refused before any
// I/O), how memory reads split and use the cache, and the record rule.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "device/command_table.h"
#include "device/commands.h"
#include "device/device_stack.h"
#include "support/fake_clock.h"
#include "support/fake_hid.h"
#include "support/kept.h"

namespace qvm {
namespace {

using test::Bytes;
using test::HidOp;

const std::string kCommandPath = "sim#vid_0c45&pid_7040&mi_01#1";

struct CommandsFixture : ::testing::Test {
    test::FakeClock clock;
    test::FakeHidBackend* fake = nullptr;  // owned by the stack
    DeviceStack stack{test::Kept(fake, std::make_unique<test::FakeHidBackend>()), clock,
                      DeviceStack::LocalLocks()};
    test::FakeHidBackend& backend = *fake;
    DeviceValueTable& values = stack.Values();
    MemoryCache& cache = stack.Cache();
    DeviceCommands& commands = stack.Commands();

    test::FakeHidDevice& Device(int generation) {
        auto& d = backend.Add(kCommandPath, generation == 0 ? test::ShortCaps() : test::LongCaps());
        values.Update(kCommandPath, [&](DeviceValues& v) { v.ProtocolGeneration = generation; });
        return d;
    }
    std::vector<Bytes> Sent(test::FakeHidDevice& d) { return d.BytesOf(HidOp::Kind::SetFeature); }
};

// ---- The table as a whole ----

// Every template fits its frame: a 9-byte request keeps byte 7 for the marker (except
// the staging command, whose data runs to byte 8), a 64-byte one keeps byte 63 for the
// check byte, and only generations 1 to 10 know the update bracket.
TEST(CommandTable, EveryTemplateFitsItsFrame) {
    for (int id = 0; id < static_cast<int>(CommandId::Count); ++id) {
        for (GenerationClass cls :
             {GenerationClass::Short, GenerationClass::Long, GenerationClass::Extended}) {
            SCOPED_TRACE("command " + std::to_string(id) + " class " +
                         std::to_string(static_cast<int>(cls)));
            const CommandEncoding& e = EncodingOf(static_cast<CommandId>(id), cls);
            EXPECT_TRUE(!e.bracketed || cls == GenerationClass::Long);
            for (int f = 0; f < e.frameCount; ++f) {
                const FrameTemplate& t = e.frames[static_cast<std::size_t>(f)];
                const bool staging = cls == GenerationClass::Short && t.bytes[0] == kStagingCommand;
                const int lastByte = cls != GenerationClass::Short ? 62 : staging ? 8 : 6;
                EXPECT_LE(t.count, lastByte);
                EXPECT_LE(t.payloadAt, lastByte);
                EXPECT_GE(t.waitMs, kNoReply);
            }
        }
    }
}

// ---- Frames and sleeps ----

// Expected frames: short frames in full, long frames as their leading bytes, "/", then
// byte 63.
Bytes ParseFrame(const std::string& text) {
    std::istringstream in(text);
    Bytes out;
    std::string word;
    while (in >> word) {
        if (word == "/") {
            out.resize(63, 0);
        } else {
            out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
        }
    }
    return out;
}

constexpr const char* kStatus = "01 / 00";
constexpr const char* kNotify = "01 00 12 12 / 00";

struct WireCase {
    const char* name;
    int generation;
    std::function<void(DeviceCommands&, const std::string&)> call;
    std::vector<const char*> frames;  // none: the command is refused before any I/O
    std::vector<int> sleeps;
    uint8_t statusByte10 = 0;  // bit 6 set: the device needs no update bracket
};

#define CALL(...) [](DeviceCommands& c, const std::string& p) { __VA_ARGS__; }

// clang-format off
const WireCase kWireCases[] = {
    {"StagedWrite0", 0, CALL(c.WriteMemoryBlock(p, 0x0345, Bytes{0xAA, 0xBB, 0xCC})),
     {"00 09 00 AA BB CC 00 00 00", "00 05 02 45 03 00 03 12 50"}, {1, 2, 10, 3, 2}},
    {"StagedWriteOfSeven0", 0, CALL(c.WriteMemoryBlock(p, 0x1234, Bytes{1, 2, 3, 4, 5, 6, 7})),
     {"00 09 00 01 02 03 04 05 06", "00 09 06 07 00 00 00 00 00", "00 05 02 34 12 00 07 12 34"},
     {1, 2, 10, 3, 2}},
    {"WriteBlock5", 5, CALL(c.WriteMemoryBlock(p, 0x0345, Bytes{0xAA, 0xBB, 0xCC})),
     {"01 01 03 45 03 03 AA BB CC / 9A"}, {1}},
    {"QueryStatus0", 0, CALL(c.QueryStatus(p, 15)), {"00 00 00 00 00 00 00 12 12"}, {2, 15, 3}},
    {"SetActiveProfile5", 5, CALL(c.SetActiveProfile(p, 3)),
     {kStatus, kNotify, "01 01 07 02 03 / 07", kNotify}, {2, 10, 3}},
    {"SetActiveProfile5Unbracketed", 5, CALL(c.SetActiveProfile(p, 3)),
     {kStatus, "01 01 07 02 03 / 07"}, {2, 10, 3}, 0x40},
    {"SetSettingByte20", 0, CALL(c.SetSettingByte2(p, 2)),
     {"00 04 02 02 00 00 00 12 16", "00 05 01 02 00 00 02 12 16"}, {2, 10, 3}},
    // Refused before any I/O: values and addresses out of range.
    {"Profile5", 11, CALL(c.SetActiveProfile(p, 5)), {}, {}},
    {"InfoRecord3", 0, CALL(c.ReadInfoRecord(p, 3)), {}, {}},
    {"ReadPastTheRange", 11, CALL(Bytes out(17); c.ReadMemory(p, 0xFFF0, out, false)), {}, {}},
    {"EmptyBlock", 5, CALL(c.WriteMemoryBlock(p, 0, {})), {}, {}},
    {"EmptyWrite", 5, CALL(c.WriteMemory(p, 0, {})), {}, {}},
    {"BlockOf33", 5, CALL(c.WriteMemoryBlock(p, 0, Bytes(33))), {}, {}},
    {"Past16Bits", 5, CALL(c.WriteMemoryBlock(p, 0xFFFF, Bytes(2))), {}, {}},
    {"Past24Bits", 0, CALL(c.WriteMemory(p, 0xFFFFFE, Bytes(4))), {}, {}},
    {"ShortByteBeyond16Bits", 0, CALL(c.WriteMemoryByte(p, 0x10000, 1)), {}, {}},
};
// clang-format on

class Wire : public CommandsFixture, public ::testing::WithParamInterface<WireCase> {};

TEST_P(Wire, SendsExactlyTheseFramesAndSleeps) {
    const WireCase& w = GetParam();
    test::FakeHidDevice& device = Device(w.generation);
    device.SetReply({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, w.statusByte10});
    w.call(commands, kCommandPath);
    std::vector<Bytes> expected;
    for (const char* f : w.frames) expected.push_back(ParseFrame(f));
    EXPECT_EQ(Sent(device), expected);
    EXPECT_EQ(clock.Sleeps(), w.sleeps);
    if (w.frames.empty()) {
        EXPECT_EQ(backend.OpenCount(), 0) << "nothing may be sent";
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, Wire, ::testing::ValuesIn(kWireCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Memory reads: pieces and the cache ----

uint8_t MemoryByte(uint32_t address) {
    return static_cast<uint8_t>(address * 7 + 3);
}

// The address a read request asks for, in any of the three encodings; nullopt for others.
std::optional<uint32_t> ReadAddress(const Bytes& r) {
    if (r.size() == 9 && r[1] == 0x05 && r[2] == 0x00) return r[3] | r[4] << 8 | r[5] << 16;
    if (r.size() == 64 && r[1] == 0x01 && r[2] == 0x00 && r[3] == 0x00) return r[4] | r[5] << 8;
    if (r.size() == 64 && r[1] == 0x02) return r[2] | r[3] << 8;
    return std::nullopt;
}

Bytes AnswerRead(const Bytes& req) {
    Bytes reply(64, 0);
    if (const auto address = ReadAddress(req)) {
        const int count = req.size() == 9 ? kShortPiece : kLongPiece;
        for (int i = 0; i < count; ++i) reply[2 + i] = MemoryByte(*address + i);
    }
    return reply;
}

Bytes Expected(uint32_t address, std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = MemoryByte(address + static_cast<uint32_t>(i));
    return out;
}

struct MemoryFixture : CommandsFixture {
    test::FakeHidDevice& Patterned(int generation) {
        auto& d = Device(generation);
        d.SetResponder(AnswerRead);
        return d;
    }
    Bytes Read(uint32_t address, std::size_t n, bool useCache, bool expectOk = true) {
        Bytes out(n, 0xEE);
        EXPECT_EQ(commands.ReadMemory(kCommandPath, address, out, useCache), expectOk);
        return out;
    }
    std::vector<uint32_t> ReadAddresses(test::FakeHidDevice& d) {
        std::vector<uint32_t> out;
        for (const Bytes& r : Sent(d)) {
            if (auto a = ReadAddress(r)) out.push_back(*a);
        }
        return out;
    }
};

struct ReadCase {
    const char* name;
    int generation;
    uint32_t address;
    std::size_t length;
    std::vector<uint32_t> pieces;
};

class ReadPieces : public MemoryFixture, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadPieces, ReadsWholePiecesAndCopiesOnlyTheRequest) {
    const ReadCase& c = GetParam();
    auto& device = Patterned(c.generation);
    EXPECT_EQ(Read(c.address, c.length, false), Expected(c.address, c.length));
    EXPECT_EQ(ReadAddresses(device), c.pieces);
}

INSTANTIATE_TEST_SUITE_P(Commands, ReadPieces,
                         ::testing::Values(ReadCase{"Short8", 0, 0x100, 8, {0x100, 0x107}},
                                           ReadCase{"Long62", 5, 0x300, 62, {0x300, 0x33D}},
                                           ReadCase{
                                               "LastBytesOfTheRange", 11, 0xFFF0, 16, {0xFFF0}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MemoryFixture, CacheServesRepeatedReadsUntilTheHostWrites) {
    auto& device = Patterned(5);
    cache.Activate(kCommandPath, true);
    EXPECT_EQ(Read(0x100, 100, true), Expected(0x100, 100));
    EXPECT_EQ(Read(0x120, 50, true), Expected(0x120, 50));  // all from the cache
    EXPECT_EQ(ReadAddresses(device), (std::vector<uint32_t>{0x100, 0x13D}));
    Read(0x120, 50, false);  // not allowed to use it
    device.ClearOps();
    commands.WriteMemoryByte(kCommandPath, 0x130, 0x99);
    Read(0x120, 50, true);
    EXPECT_EQ(ReadAddresses(device), (std::vector<uint32_t>{0x120}));
    // Header bytes are always asked from the device.
    device.ClearOps();
    Read(20, 61, true);
    Read(20, 61, true);
    EXPECT_EQ(ReadAddresses(device), (std::vector<uint32_t>{20, 20}));
    // Nothing cached serves another device, nor bytes past the cache's end.
    Bytes out(2);
    EXPECT_FALSE(cache.Read("hid#other", 0x120, out));
    EXPECT_FALSE(cache.Update(kCommandPath, 69999, Bytes{1, 2}, true));
    EXPECT_FALSE(cache.Read(kCommandPath, 69999, out));
}

TEST_F(MemoryFixture, TimedOutReadIsReportedAndNotCached) {
    auto& device = Patterned(11);
    cache.Activate(kCommandPath, true);
    device.BusyFor(Transport::kIdlePollLimit);
    Read(0x200, 10, true, /*expectOk=*/false);
    EXPECT_EQ(Read(0x200, 10, true), Expected(0x200, 10));
    EXPECT_EQ(device.Count(HidOp::Kind::SetFeature), 1);  // the second read went out
}

// ---- Records answered on the host ----

TEST_F(CommandsFixture, RecordFirstByteAbove50ReadsAsOneOnlyWhenAnsweredOnTheHost) {
    struct Case {
        int generation, record;
        uint8_t firstByte;  // stored at 0x48 + 4r
        uint8_t expected;
    };
    const Case cases[] = {{5, 3, 51, 1}, {0, 0, 50, 50}, {5, 32, 7, 0}, {11, 3, 51, 0x42}};
    for (const Case& c : cases) {
        test::FakeHidBackend fresh;
        LocalMutex mutex;
        Transport freshTransport(fresh, clock, mutex);
        DeviceCommands freshCommands(freshTransport, values, cache);
        fresh.Add(kCommandPath, c.generation == 0 ? test::ShortCaps() : test::LongCaps())
            .SetReply({0, 0, 0x42});
        values.Update(kCommandPath, [&](DeviceValues& v) {
            v.ProtocolGeneration = c.generation;
            v.InfoPages.emplace();
            (*v.InfoPages)[0x48 + 4 * c.record] = c.firstByte;
        });
        EXPECT_EQ(freshCommands.ReadRecord(kCommandPath, c.record)[0], c.expected)
            << "generation " << c.generation << " record " << c.record;
    }
}

}  // namespace
}  // namespace qvm
