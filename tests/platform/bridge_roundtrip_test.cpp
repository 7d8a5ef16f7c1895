// Host and server of the device bridge talking over a pair of pipes in one process,
// with a fake backend behind the server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/bridge_backend.h"
#include "sim/bridge_server.h"
#include "support/bridge_fake_hid.h"
#include "support/fake_clock.h"

namespace qvm {
namespace {

HidDeviceInfo Mouse() {
    return {.path = "sim#vid_0c45&pid_7040&mi_01#7",
            .vendorId = 0x0c45,
            .productId = 0x7040,
            .interfaceNumber = 1,
            .caps = {0xff18, 0x0001, 64, 0, 0},
            .serial = "S\xc3\xa9rie 1",
            .product = "Gaming Mouse",
            .container = "/sys/devices/usb1/1-2"};
}

HidDeviceInfo Keyboard() {
    return {.path = "sim#vid_0c45&pid_8010&mi_00#kb",
            .vendorId = 0x0c45,
            .productId = 0x8010,
            .caps = {0x0001, 0x0000, 0, 33, 33},
            .serial = "MX-28"};
}

const std::string kMousePath = "bridge#vid_0c45&pid_7040&mi_01#7";
const std::string kKeyboardPath = "bridge#vid_0c45&pid_8010&mi_00#kb";

// The server runs on its own thread until the host's backend says bye.
class InProcessBridge {
  public:
    explicit InProcessBridge(BridgeOptions options = {}) {
        int requests[2];
        int answers[2];
        EXPECT_EQ(::pipe(requests), 0);
        EXPECT_EQ(::pipe(answers), 0);
        serverIn_.reset(requests[0]);
        serverOut_.reset(answers[1]);
        fake.Add(Mouse());
        fake.Add(Keyboard());
        server_ = std::jthread(
            [this] { served_ = ServeBridge(fake, serverIn_.get(), serverOut_.get()).ok(); });
        auto connected = ConnectBridgeBackend(UniqueFd(requests[1]), UniqueFd(answers[0]), options);
        EXPECT_TRUE(connected.ok()) << connected.message();
        if (connected) backend = std::move(*connected);
    }
    ~InProcessBridge() {
        backend.reset();  // says bye, which ends the server
        server_.join();
        EXPECT_TRUE(served_);
    }

    test::BridgeFakeHid fake;
    std::unique_ptr<HidBackend> backend;

  private:
    UniqueFd serverIn_;
    UniqueFd serverOut_;
    std::atomic<bool> served_{false};
    std::jthread server_;
};

std::unique_ptr<HidHandle> OpenOrFail(HidBackend& backend, const std::string& path) {
    auto handle = backend.Open(path);
    EXPECT_TRUE(handle.ok()) << handle.message();
    return handle ? std::move(*handle) : nullptr;
}

TEST(BridgeRoundTrip, CarriesEveryOperation) {
    InProcessBridge bridge;
    HidBackend& hid = *bridge.backend;
    auto listed = hid.Enumerate();
    ASSERT_TRUE(listed.ok()) << listed.message();
    HidDeviceInfo mouse = Mouse();
    mouse.path = kMousePath;
    HidDeviceInfo keyboard = Keyboard();
    keyboard.path = kKeyboardPath;
    EXPECT_EQ(*listed, (std::vector<HidDeviceInfo>{mouse, keyboard}));

    auto handle = OpenOrFail(hid, kMousePath);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->Caps(), Mouse().caps);
    std::vector<uint8_t> report = {0x01, 0x03, 0x00, 0x10, 0x02, 0xde, 0xad};
    ASSERT_TRUE(handle->SetFeature(report));
    std::vector<uint8_t> readBack(9, 0);
    readBack[0] = 0x01;
    ASSERT_TRUE(handle->GetFeature(readBack));
    EXPECT_EQ(readBack, (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x10, 0x02, 0xde, 0xad, 0, 0}));

    auto kb = OpenOrFail(hid, kKeyboardPath);
    ASSERT_TRUE(kb);
    bridge.fake.With(Keyboard().path, [](auto& d) {
        d.inputs = {{0x06, 0xbe, 0x02}};
        d.strings[0xc6] = {0x00, 0x12, 0x80};
    });
    ASSERT_TRUE(kb->Write(std::vector<uint8_t>{0x06, 0x14, 0x01}));
    std::vector<uint8_t> input(33, 0);
    EXPECT_EQ(kb->Read(input, 0), 3);
    EXPECT_EQ(input[1], 0xbe);
    EXPECT_EQ(kb->Read(input, 0), 0);
    EXPECT_EQ(kb->IndexedString(0xc6), (std::vector<uint8_t>{0x00, 0x12, 0x80}));
    EXPECT_EQ(kb->IndexedString(0xc7), std::nullopt);
    bridge.fake.With(Keyboard().path, [](auto& d) {
        EXPECT_EQ(d.written, (std::vector<std::vector<uint8_t>>{{0x06, 0x14, 0x01}}));
    });

    // A device operation that fails is a failure, not a broken bridge.
    bridge.fake.With(Mouse().path, [](auto& d) { d.failures = 1; });
    EXPECT_FALSE(handle->GetFeature(readBack));
    EXPECT_TRUE(handle->GetFeature(readBack));

    bridge.fake.QueueEvent({HidEventKind::Removed, {.path = Keyboard().path}});
    auto events = hid.TakeEvents();
    EXPECT_EQ(events, (std::vector<HidEvent>{{HidEventKind::Removed, {.path = kKeyboardPath}}}));

    EXPECT_FALSE(hid.Open("hid#vid_0c45&pid_7040&mi_01#hidraw3").ok());
    auto unknown = hid.Open("bridge#vid_0c45&pid_7040&mi_01#8");
    ASSERT_FALSE(unknown.ok());
    EXPECT_NE(unknown.message().find("no device"), std::string::npos) << unknown.message();
}

struct PollCase {
    const char* name;
    int timeoutMs;
    int pollMs;
    int inputAfterReads;  // -1: no input at all
    int expectedResult;
    int expectedReads;
    std::vector<int> expectedSleeps;
};

class BridgeReadPolling : public ::testing::TestWithParam<PollCase> {};

TEST_P(BridgeReadPolling, PollsWithShortSleepsUntilTheTimeout) {
    const PollCase& c = GetParam();
    test::FakeClock clock;
    BridgeOptions options;
    options.clock = &clock;
    options.readPollMs = c.pollMs;
    InProcessBridge bridge(options);
    if (c.inputAfterReads >= 0) {
        bridge.fake.With(Keyboard().path, [&](auto& d) {
            d.inputs = {{1, 2, 3, 4}};
            d.inputAfterReads = c.inputAfterReads;
        });
    }
    auto kb = OpenOrFail(*bridge.backend, kKeyboardPath);
    ASSERT_TRUE(kb);
    std::vector<uint8_t> buffer(33);
    EXPECT_EQ(kb->Read(buffer, c.timeoutMs), c.expectedResult);
    bridge.fake.With(Keyboard().path, [&](auto& d) { EXPECT_EQ(d.reads, c.expectedReads); });
    EXPECT_EQ(clock.Sleeps(), c.expectedSleeps);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, BridgeReadPolling,
                         ::testing::Values(PollCase{"NoWait", 0, 2, -1, 0, 1, {}},
                                           PollCase{"LastSleepIsCut", 5, 2, -1, 0, 4, {2, 2, 1}},
                                           PollCase{"ArrivesInTime", 10, 2, 3, 4, 4, {2, 2, 2}},
                                           PollCase{"NoLimit", -1, 3, 5, 4, 6, {3, 3, 3, 3, 3}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BridgeRoundTrip, CancelIoEndsAWaitWithoutLimit) {
    InProcessBridge bridge;
    auto kb = OpenOrFail(*bridge.backend, kKeyboardPath);
    ASSERT_TRUE(kb);
    std::atomic<bool> done{false};
    std::jthread canceller([&] {
        while (!done) {
            kb->CancelIo();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<uint8_t> buffer(33);
    EXPECT_EQ(kb->Read(buffer, -1), 0);
    done = true;
}

// Requests of two threads never interleave on the wire: each thread's data comes back
// to that thread intact.
TEST(BridgeRoundTrip, SerialisesRequestsOfSeveralThreads) {
    InProcessBridge bridge;
    ASSERT_TRUE(bridge.backend->Enumerate().ok());
    constexpr int kRounds = 200;
    auto worker = [&](const std::string& path, uint8_t tag, bool& ok) {
        auto handle = OpenOrFail(*bridge.backend, path);
        if (!handle) return;
        for (int i = 0; i < kRounds && ok; ++i) {
            std::vector<uint8_t> out = {0x01, tag, static_cast<uint8_t>(i), 0x5a};
            std::vector<uint8_t> in = {0x01, 0, 0, 0};
            ok = handle->SetFeature(out) && handle->GetFeature(in) && in == out;
        }
    };
    bool mouseOk = true;
    bool keyboardOk = true;
    {
        std::jthread a(worker, kMousePath, uint8_t{0xaa}, std::ref(mouseOk));
        std::jthread b(worker, kKeyboardPath, uint8_t{0xbb}, std::ref(keyboardOk));
    }
    EXPECT_TRUE(mouseOk);
    EXPECT_TRUE(keyboardOk);
}

}  // namespace
}  // namespace qvm
