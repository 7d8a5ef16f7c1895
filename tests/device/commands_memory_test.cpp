// Memory commands: piece splitting, block splitting, the cache and failed reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/commands.h"
#include "support/fake_clock.h"
#include "support/fake_hid.h"

namespace qvm {
namespace {

using test::Bytes;
using test::HidOp;

const std::string kPath = "sim#vid_0c45&pid_7040&mi_01#1";

uint8_t MemoryByte(uint32_t address) {
    return static_cast<uint8_t>(address * 7 + 3);
}

// Answers read requests of all three encodings from a patterned memory.
Bytes AnswerRead(const Bytes& req) {
    Bytes reply(64, 0);
    if (req.size() < 6) return reply;
    uint32_t address = 0;
    int count = 0;
    if (req.size() == 9 && req[1] == 0x05 && req[2] == 0x00) {
        address = req[3] | req[4] << 8 | req[5] << 16;
        count = 7;
    } else if (req.size() == 64 && req[1] == 0x01 && req[2] == 0x00 && req[3] == 0x00) {
        address = req[4] | req[5] << 8;
        count = 61;
    } else if (req.size() == 64 && req[1] == 0x02) {
        address = req[2] | req[3] << 8;
        count = 61;
    }
    for (int i = 0; i < count; ++i) reply[2 + i] = MemoryByte(address + i);
    return reply;
}

// Address read by each read request on the wire.
std::vector<uint32_t> ReadAddresses(const std::vector<Bytes>& sent) {
    std::vector<uint32_t> out;
    for (const Bytes& r : sent) {
        if (r.size() == 9 && r[1] == 0x05 && r[2] == 0x00) out.push_back(r[3] | r[4] << 8);
        if (r.size() == 64 && r[1] == 0x01 && r[2] == 0x00) out.push_back(r[4] | r[5] << 8);
        if (r.size() == 64 && r[1] == 0x02) out.push_back(r[2] | r[3] << 8);
    }
    return out;
}

Bytes Expected(uint32_t address, std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = MemoryByte(address + static_cast<uint32_t>(i));
    return out;
}

struct MemoryFixture : ::testing::Test {
    test::FakeHidBackend backend;
    test::FakeClock clock;
    LocalMutex mutex;
    Transport transport{backend, clock, mutex};
    DeviceValueTable values;
    MemoryCache cache;
    DeviceCommands commands{transport, values, cache};

    test::FakeHidDevice& Device(int generation) {
        auto& d = backend.Add(kPath, generation == 0 ? test::ShortCaps() : test::LongCaps());
        d.SetResponder(AnswerRead);
        values.Update(kPath, [&](DeviceValues& v) { v.ProtocolGeneration = generation; });
        return d;
    }
    Bytes Read(uint32_t address, std::size_t n, bool useCache, bool expectOk = true) {
        Bytes out(n, 0xEE);
        EXPECT_EQ(commands.ReadMemory(kPath, address, out, useCache), expectOk);
        return out;
    }
};

// ---- Reads: which pieces go to the device ----

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
    auto& device = Device(c.generation);
    EXPECT_EQ(Read(c.address, c.length, false), Expected(c.address, c.length));
    EXPECT_EQ(ReadAddresses(device.BytesOf(HidOp::Kind::SetFeature)), c.pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ReadPieces,
    ::testing::Values(ReadCase{"Short8At0x100", 0, 0x100, 8, {0x100, 0x107}},
                      ReadCase{"Short7", 0, 0x200, 7, {0x200}},
                      ReadCase{"Short15", 0, 0x40, 15, {0x40, 0x47, 0x4E}},
                      ReadCase{"Long61", 5, 0x300, 61, {0x300}},
                      ReadCase{"Long62", 5, 0x300, 62, {0x300, 0x33D}},
                      ReadCase{"Extended130", 11, 0x500, 130, {0x500, 0x53D, 0x57A}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- The cache in front of the reads ----

TEST_F(MemoryFixture, CacheServesRepeatedReadsUntilTheHostWrites) {
    auto& device = Device(5);
    cache.Activate(kPath, true);
    EXPECT_EQ(Read(0x100, 100, true), Expected(0x100, 100));
    EXPECT_EQ(device.Count(HidOp::Kind::SetFeature), 2);

    EXPECT_EQ(Read(0x120, 50, true), Expected(0x120, 50));  // all from the cache
    EXPECT_EQ(device.Count(HidOp::Kind::SetFeature), 2);
    Read(0x120, 50, false);  // not allowed to use it
    EXPECT_EQ(device.Count(HidOp::Kind::SetFeature), 3);

    device.ClearOps();
    commands.WriteMemoryByte(kPath, 0x130, 0x99);
    Read(0x120, 50, true);
    EXPECT_EQ(ReadAddresses(device.BytesOf(HidOp::Kind::SetFeature)),
              (std::vector<uint32_t>{0x120}));
}

TEST_F(MemoryFixture, HeaderBytesAreAlwaysAskedFromTheDevice) {
    auto& device = Device(5);
    cache.Activate(kPath, true);
    Read(20, 61, true);
    Read(20, 61, true);
    EXPECT_EQ(ReadAddresses(device.BytesOf(HidOp::Kind::SetFeature)),
              (std::vector<uint32_t>{20, 20}));
}

TEST_F(MemoryFixture, LaterPiecesComeFromTheCacheOnceTheRestIsValid) {
    auto& device = Device(0);
    cache.Activate(kPath, true);
    Read(0x107, 7, true);  // caches 0x107..0x10D
    device.ClearOps();
    EXPECT_EQ(Read(0x100, 14, true), Expected(0x100, 14));
    EXPECT_EQ(ReadAddresses(device.BytesOf(HidOp::Kind::SetFeature)),
              (std::vector<uint32_t>{0x100}));
}

TEST_F(MemoryFixture, TimedOutReadIsReportedAndNotCached) {
    auto& device = Device(11);
    cache.Activate(kPath, true);
    device.BusyFor(Transport::kIdlePollLimit);
    Read(0x200, 10, true, /*expectOk=*/false);
    EXPECT_EQ(Read(0x200, 10, true), Expected(0x200, 10));
    EXPECT_EQ(device.Count(HidOp::Kind::SetFeature), 1);  // the second read went out
}

TEST_F(MemoryFixture, ReadsPastTheAddressRangeSendNothing) {
    Device(11);
    Read(0xFFF0, 17, false, /*expectOk=*/false);
    EXPECT_EQ(backend.OpenCount(), 0);
    EXPECT_EQ(Read(0xFFF0, 16, false), Expected(0xFFF0, 16));  // the last bytes still read
}

TEST_F(MemoryFixture, MissingDeviceReadsFailAndLeaveZeros) {
    values.Update(kPath, [](DeviceValues& v) { v.ProtocolGeneration = 5; });
    EXPECT_EQ(Read(0x100, 4, true, false), Bytes(4, 0));
    EXPECT_FALSE(commands.WriteMemoryByte(kPath, 0x100, 1));
}

// ---- Writes: block splitting ----

TEST_F(MemoryFixture, FortyBytesGoOutAsBlocksOf32And8) {
    auto& device = Device(5);
    Bytes data(40);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_TRUE(commands.WriteMemory(kPath, 0x400, data));
    const auto sent = device.BytesOf(HidOp::Kind::SetFeature);
    ASSERT_EQ(sent.size(), 2u);
    // 01 | 01 03 | address | length | data
    EXPECT_EQ(Bytes(sent[0].begin() + 1, sent[0].begin() + 6), (Bytes{0x01, 0x03, 0x00, 0x04, 32}));
    EXPECT_EQ(Bytes(sent[0].begin() + 6, sent[0].begin() + 38),
              Bytes(data.begin(), data.begin() + 32));
    EXPECT_EQ(sent[0][38], 0);
    EXPECT_EQ(Bytes(sent[1].begin() + 1, sent[1].begin() + 6), (Bytes{0x01, 0x03, 0x20, 0x04, 8}));
    EXPECT_EQ(Bytes(sent[1].begin() + 6, sent[1].begin() + 14),
              Bytes(data.begin() + 32, data.end()));
    EXPECT_EQ(clock.Sleeps(), (std::vector<int>{1, 1}));
}

TEST_F(MemoryFixture, ShortWriteOfSevenBytesStagesTwiceAndCommitsSeven) {
    auto& device = Device(0);
    ASSERT_TRUE(commands.WriteMemoryBlock(kPath, 0x1234, Bytes{1, 2, 3, 4, 5, 6, 7}));
    const std::vector<Bytes> expected{
        {0x00, 0x09, 0x00, 1, 2, 3, 4, 5, 6},
        {0x00, 0x09, 0x06, 7, 0, 0, 0, 0, 0},
        {0x00, 0x05, 0x02, 0x34, 0x12, 0x00, 0x07, 0x12, 0x34},
    };
    EXPECT_EQ(device.BytesOf(HidOp::Kind::SetFeature), expected);
}

struct BadWrite {
    const char* name;
    std::size_t length;
    enum Op { Block, Memory, Byte } op;
    int generation = 5;
    uint32_t address = 0x100;
};

class RefusedWrites : public MemoryFixture, public ::testing::WithParamInterface<BadWrite> {};

TEST_P(RefusedWrites, SendNothing) {
    const BadWrite& c = GetParam();
    Device(c.generation);
    const Bytes data(c.length, 0x11);
    const bool ok = c.op == BadWrite::Block    ? commands.WriteMemoryBlock(kPath, c.address, data)
                    : c.op == BadWrite::Memory ? commands.WriteMemory(kPath, c.address, data)
                                               : commands.WriteMemoryByte(kPath, c.address, 1);
    EXPECT_FALSE(ok);
    EXPECT_EQ(backend.OpenCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RefusedWrites,
    ::testing::Values(BadWrite{"EmptyBlock", 0, BadWrite::Block},
                      BadWrite{"BlockOf33", 33, BadWrite::Block},
                      BadWrite{"EmptyWrite", 0, BadWrite::Memory},
                      BadWrite{"PastLongAddressRange", 2, BadWrite::Block, 5, 0xFFFF},
                      BadWrite{"PastWideAddressRange", 4, BadWrite::Memory, 0, 0xFFFFFE},
                      BadWrite{"ShortByteBeyond16Bits", 1, BadWrite::Byte, 0, 0x10000}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qvm
