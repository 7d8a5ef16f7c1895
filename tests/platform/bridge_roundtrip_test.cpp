// Host and server of the device bridge talking over a pair of pipes in one process, with
// a fake backend behind the server: several threads at once. (The
// exact requests and answers are the client's and the server's transcript tests.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/bridge_backend.h"
#include "sim/bridge_server.h"
#include "support/bridge_fake_hid.h"

namespace qvm {
namespace {

HidDeviceInfo Mouse() {
    return {.path = "sim#vid_0c45&pid_7040&mi_01#7",
            .vendorId = 0x0c45,
            .productId = 0x7040,
            .caps = {0xff18, 0x0001, 64, 0, 0}};
}

HidDeviceInfo Keyboard() {
    return {.path = "sim#vid_0c45&pid_8010&mi_00#kb",
            .vendorId = 0x0c45,
            .productId = 0x8010,
            .caps = {0x0001, 0x0000, 0, 33, 33}};
}

const std::string kMousePath = "bridge#vid_0c45&pid_7040&mi_00#7";
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
