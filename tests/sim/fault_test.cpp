// Injected faults, request checks and transfer statistics, seen through HID handles.
// The ordinary replies are checked by the host's cross-check against the simulator.
#include <gtest/gtest.h>

#include "sim/sim_backend.h"
#include "sim/sim_grammar.h"
#include "sim_test_util.h"
#include "support/fake_clock.h"

namespace qvm::test {
namespace {

constexpr const char* kG12Config = "sim#vid_0c45&pid_7030&mi_02#d0i2";
constexpr const char* kG0Config = "sim#vid_0c45&pid_7010&mi_00#d0i0";
constexpr const char* kG5Config = "sim#vid_0c45&pid_7020&mi_01#d0i1";

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

// How the firmware meets each request it cannot carry out: a damaged frame is ignored
// and counted, a command it does not know or refuses is answered and counted apart. The
// host's cross-check fails on these counters, so each must move for its own cause only.
struct RequestCase {
    const char* name;
    const char* devices;
    const char* path;
    std::vector<Bytes> requests;
    bool transferOk;           // of the last request
    SimTransferStats counted;  // badFrames, unknownCommands and refusedCommands only
    int profileAfter;
};

Bytes WithByte(Bytes frame, size_t at, uint8_t value) {
    frame[at] = value;
    return frame;
}

SimTransferStats Counted(uint64_t bad, uint64_t unknown, uint64_t refused) {
    SimTransferStats s;
    s.badFrames = bad;
    s.unknownCommands = unknown;
    s.refusedCommands = refused;
    return s;
}

// clang-format off
const RequestCase kRequests[] = {
    {"LongGood", "g12", kG12Config, {LongRequest({0x11, 0x03})}, true, {}, 3},
    {"LongWrongCheckByte", "g12", kG12Config, {WithByte(LongRequest({0x11, 0x03}), 63, 0x13)},
     true, Counted(1, 0, 0), 0},
    {"LongTooShort", "g12", kG12Config, {Short({0x04, 0x03, 0x03})}, false, {}, 0},
    {"ShortGood", "g0", kG0Config, {Short({0x04, 0x03, 0x03})}, true, {}, 3},
    {"ShortWithoutMarker", "g0", kG0Config, {Bytes{0x00, 0x04, 0x03, 0x03, 0, 0, 0, 0x00, 0x04}},
     true, Counted(1, 0, 0), 0},
    {"ShortWrongCheckByte", "g0", kG0Config, {WithByte(Short({0x04, 0x03, 0x03}), 8, 0x00)},
     true, Counted(1, 0, 0), 0},
    {"ShortWrongReportId", "g0", kG0Config, {WithByte(Short({0x04, 0x03, 0x03}), 0, 0x01)},
     true, Counted(1, 0, 0), 0},
    {"UnknownCommand", "g12", kG12Config, {LongRequest({0x7E})}, true, Counted(0, 1, 0), 0},
    {"ProfileOutOfRange", "g12", kG12Config, {LongRequest({0x11, 0x09})}, true,
     Counted(0, 0, 1), 0},
    {"BlockOf33", "g5x", kG5Config, {LongRequest({0x01, 0x03, 0x00, 0x05, 0x21})}, true,
     Counted(0, 0, 1), 0},
    // Information pages are read only after page mode was asked for.
    {"InfoPageBeforePageMode", "g5x", kG5Config, {LongRequest({0x01, 0x00, 0x01, 0x24})}, true,
     Counted(0, 0, 1), 0},
    {"InfoPageAfterPageMode", "g5x", kG5Config,
     {LongRequest({0x01, 0x06, 0x02, 0x02}), LongRequest({0x01, 0x00, 0x01, 0x24})}, true, {}, 0},
};
// clang-format on

class Requests : public Faults, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(Requests, AreCountedByTheirCause) {
    const RequestCase& c = GetParam();
    Start(c.devices, c.path);
    bool ok = false;
    for (const Bytes& r : c.requests) ok = handle_->SetFeature(r);
    EXPECT_EQ(ok, c.transferOk);
    const SimTransferStats stats = Device().Stats();
    EXPECT_EQ(stats.badFrames, c.counted.badFrames);
    EXPECT_EQ(stats.unknownCommands, c.counted.unknownCommands);
    EXPECT_EQ(stats.refusedCommands, c.counted.refusedCommands);
    EXPECT_EQ(Device().MouseState().profile, c.profileAfter);
}

INSTANTIATE_TEST_SUITE_P(Frames, Requests, ::testing::ValuesIn(kRequests),
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
