// Injected faults, request checks and transfer statistics, seen through HID handles.
#include <gtest/gtest.h>

#include "sim/sim_backend.h"
#include "sim/sim_grammar.h"
#include "sim_test_util.h"
#include "support/fake_clock.h"

namespace qvm::test {
namespace {

constexpr const char* kG12Config = "sim#vid_0c45&pid_7030&mi_02#d0i2";
constexpr const char* kG0Config = "sim#vid_0c45&pid_7010&mi_00#d0i0";

class Faults : public ::testing::Test {
  protected:
    void Start(const std::string& devices, const char* path = kG12Config) {
        auto created = SimBackend::Create(devices, "", clock_);
        ASSERT_TRUE(created) << created.message();
        backend_ = std::move(*created);
        auto handle = backend_->Open(path);
        ASSERT_TRUE(handle) << handle.message();
        handle_ = std::move(*handle);
    }
    SimDevice& Device() { return backend_->Device(0); }
    // Feature reads until the busy bit clears; returns how many were busy, -1 on failure.
    int BusyPolls(Bytes& reply, int limit) {
        for (int busy = 0; busy < limit; ++busy) {
            reply.assign(64, 0);
            reply[0] = 0x01;
            if (!handle_->GetFeature(reply)) return -1;
            if ((reply[1] & 0x80) == 0) return busy;
        }
        return limit;
    }

    FakeClock clock_;
    std::unique_ptr<SimBackend> backend_;
    std::unique_ptr<HidHandle> handle_;
};

struct BusyCase {
    const char* devices;
    int expectedBusy;
};

class BusyCounts : public Faults, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(BusyCounts, AnswerBusyThenTheReply) {
    Start(GetParam().devices);
    ASSERT_TRUE(handle_->SetFeature(LongRequest({})));
    Bytes reply;
    EXPECT_EQ(BusyPolls(reply, 500), GetParam().expectedBusy);
    EXPECT_EQ(reply[13], 0xFF) << "the status reply follows the busy polls";
    EXPECT_EQ(BusyPolls(reply, 500), 0) << "busy only after a command";
    EXPECT_EQ(Device().Stats().busyReplies, static_cast<uint64_t>(GetParam().expectedBusy));
}

INSTANTIATE_TEST_SUITE_P(Counts, BusyCounts,
                         ::testing::Values(BusyCase{"g12", 0}, BusyCase{"g12/busy=7", 7}));

// Busy for ever, no reply and garbled replies are each met by the host's identification
// and activation tests, which name the kind of failure they must report.

struct BadFrameCase {
    const char* name;
    const char* devices;
    const char* path;
    Bytes request;
    bool transferOk;
    uint64_t badFrames;
    int profileAfter;
};

Bytes WithByte(Bytes frame, size_t at, uint8_t value) {
    frame[at] = value;
    return frame;
}

const BadFrameCase kBadFrames[] = {
    {"LongGood", "g12", kG12Config, LongRequest({0x11, 0x03}), true, 0, 3},
    {"LongWrongCheckByte", "g12", kG12Config, WithByte(LongRequest({0x11, 0x03}), 63, 0x13), true,
     1, 0},
    {"LongTooShort", "g12", kG12Config, Short({0x04, 0x03, 0x03}), false, 0, 0},
    {"ShortGood", "g0", kG0Config, Short({0x04, 0x03, 0x03}), true, 0, 3},
    {"ShortWithoutMarker", "g0", kG0Config, Bytes{0x00, 0x04, 0x03, 0x03, 0, 0, 0, 0x00, 0x04},
     true, 1, 0},
    {"ShortWrongReportId", "g0", kG0Config, WithByte(Short({0x04, 0x03, 0x03}), 0, 0x01), true, 1,
     0},
};

class BadFrames : public Faults, public ::testing::WithParamInterface<BadFrameCase> {};

TEST_P(BadFrames, AreIgnoredAndCounted) {
    const BadFrameCase& c = GetParam();
    Start(c.devices, c.path);
    EXPECT_EQ(handle_->SetFeature(c.request), c.transferOk);
    EXPECT_EQ(Device().Stats().badFrames, c.badFrames);
    EXPECT_EQ(Device().MouseState().profile, c.profileAfter);
}

INSTANTIATE_TEST_SUITE_P(Frames, BadFrames, ::testing::ValuesIn(kBadFrames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Faults, RemovalInTheMiddleOfAnOperation) {
    Start("g12/removeafter=3");
    ASSERT_TRUE(handle_->SetFeature(LongRequest({0x03, 0x00, 0x07, 0x01, 0x77})));
    Bytes reply;
    ASSERT_EQ(BusyPolls(reply, 1), 0);
    EXPECT_TRUE(backend_->TakeEvents().empty());
    ASSERT_TRUE(handle_->SetFeature(LongRequest({0x11, 0x01})));  // the third transfer
    EXPECT_FALSE(handle_->SetFeature(LongRequest({0x11, 0x02})));
    EXPECT_FALSE(Device().Present());
    EXPECT_TRUE(backend_->Enumerate()->empty());
    EXPECT_FALSE(backend_->Open(kG12Config));
    auto removed = backend_->TakeEvents();
    ASSERT_EQ(removed.size(), 3u);
    for (const HidEvent& e : removed) EXPECT_EQ(e.kind, HidEventKind::Removed);
    EXPECT_EQ(removed[2].info.path, kG12Config);

    Device().Attach();
    auto added = backend_->TakeEvents();
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(added[0].kind, HidEventKind::Added);
    EXPECT_EQ(added[0].info.caps.inputLength, 8);
    EXPECT_FALSE(handle_->SetFeature(LongRequest({}))) << "old handles stay dead";
    auto fresh = backend_->Open(kG12Config);
    ASSERT_TRUE(fresh);
    EXPECT_TRUE((*fresh)->SetFeature(LongRequest({})));
    EXPECT_EQ(Device().PeekMemory(0x700, 1), Bytes{0x77}) << "memory survives the replug";
    EXPECT_EQ(Device().MouseState().profile, 0) << "live state restarts";
    EXPECT_EQ(backend_->Enumerate()->size(), 3u);
}

TEST_F(Faults, TransferCostGoesThroughTheClock) {
    Start("g12/cost=2");
    ASSERT_TRUE(handle_->SetFeature(LongRequest({})));
    Bytes reply;
    ASSERT_EQ(BusyPolls(reply, 1), 0);
    EXPECT_EQ(clock_.Sleeps(), (std::vector<int>{2, 2}));
    const SimTransferStats stats = backend_->TotalStats();
    EXPECT_EQ(stats.setFeature, 1u);
    EXPECT_EQ(stats.getFeature, 1u);
}

TEST_F(Faults, UnknownAndRefusedCommandsAreCountedApart) {
    Start("g12");
    EXPECT_TRUE(handle_->SetFeature(LongRequest({0x7E})));
    EXPECT_TRUE(handle_->SetFeature(LongRequest({0x11, 0x09})));
    const SimTransferStats stats = Device().Stats();
    EXPECT_EQ(stats.unknownCommands, 1u);
    EXPECT_EQ(stats.refusedCommands, 1u);
    EXPECT_EQ(stats.badFrames, 0u);
}

TEST_F(Faults, FeatureTransfersOnOtherInterfacesFail) {
    Start("g12", "sim#vid_0c45&pid_7030&mi_00#d0i0");
    EXPECT_FALSE(handle_->SetFeature(LongRequest({})));
    Bytes reply(64, 0);
    reply[0] = 1;
    EXPECT_FALSE(handle_->GetFeature(reply));
    EXPECT_FALSE(handle_->Write(Bytes(32, 0)));
}

}  // namespace
}  // namespace qvm::test
